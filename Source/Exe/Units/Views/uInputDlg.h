#pragma once

#include <QDialog>

#include <functional>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// The program's one-line input dialog (new bookshelf names and the like). It keeps the look of
// the message box and grows with a long prompt instead of cutting it.
class TInputDlg : public QDialog
{
    Q_OBJECT
public:
    explicit TInputDlg(QWidget* parent = nullptr);

    // Applies a non-empty caption and prompt, puts `value` into the edit field and lays out.
    void Prepare(const QString& caption, const QString& prompt, const QString& value);

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button1 = nullptr; // "确定"
    QPushButton* Button2 = nullptr; // "取消"

    static constexpr int DesignClientWidth = 328;
    static constexpr int ButtonWidth = 91;
    static constexpr int ButtonHeight = 25;

protected:
    void showEvent(QShowEvent* event) override;
};

// True when the user confirmed; `value` then holds the edited text, otherwise it is unchanged.
// Tests answer the input dialog through this hook; the program itself never sets it.
using TInputQueryAnswer = std::function<bool(const QString& caption, const QString& prompt, QString& value)>;
void SetInputQueryAnswer(TInputQueryAnswer answer);

bool InputQueryDlg(const QString& caption, const QString& prompt, QString& value);
