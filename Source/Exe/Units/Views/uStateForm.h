#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include "LongWork.h"

#include <vector>

class QProgressBar;
class QPushButton;

// The progress dialog of long file operations. The caller keeps running its own loop and calls
// in between steps, so the dialog cannot be modal the usual way: while it is shown it disables
// the program's other windows itself, and gives back exactly those when it goes away. Each step
// pumps events, so the dialog is long work for its whole life (LongWork.h).
class TStateForm : public QDialog
{
    Q_OBJECT
public:
    explicit TStateForm(QWidget* owner);
    ~TStateForm() override;

    void SetCancelVisible(bool visible);
    void SetText(const QString& text);
    // Stores the text and advances the position by `step` in one refresh.
    void SetStepText(const QString& text, int step);
    int Position() const { return FPosition; }
    void SetPosition(int position);
    int Max() const { return FMax; }
    void SetMax(int max);
    bool Cancelled() const { return FCancelled; }
    const QString& Text() const { return FText; }

    // Where the text is centred: above the bar while it counts, else the whole client area.
    QRect TextRect() const;

    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* CancelBtn = nullptr;

    static constexpr int ClientWidth = 337;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Refresh();
    void UpdateBar();
    void EnableOtherWindows();

    TLongWork FWork;
    QPointer<QWidget> FOwner;
    std::vector<QPointer<QWidget>> FDisabled;
    QString FText;
    int FPosition = 0;
    int FMax = 100;
    bool FCancelled = false;
};
