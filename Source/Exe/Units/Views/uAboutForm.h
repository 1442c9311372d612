#pragma once

#include <QDialog>
#include <QImage>
#include <QString>

class QLabel;

// Asks the version library for the version texts of a program file. The three results are
// emptied first; on failure they stay empty.
bool ReadVersionInfo(const QString& programPath, QString& text1, QString& text2, QString& text3);

// The about box: a borderless picture with the program's name and version. It closes on any
// click, as a splash-like box should.
class TAboutForm : public QDialog
{
    Q_OBJECT
public:
    // The version is read from `programPath` (the running program when empty).
    TAboutForm(QWidget* owner, bool aboutMode, const QString& programPath = QString());

    bool AboutMode() const { return FAboutMode; }

    // The background, 454 x 291, drawn in code so that no picture file has to ship.
    static QImage BackgroundPicture();

    QLabel* Image1 = nullptr;
    QLabel* NameLabel = nullptr;
    QLabel* VerLabel = nullptr;
    QLabel* PVerLabel = nullptr;
    QLabel* CopyLabel = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool FAboutMode;
};
