#pragma once

#include <QDialog>
#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

class QLabel;
class QPushButton;

// Flag word bits, with the meanings of the platform's standard message box.
enum : unsigned
{
    mbOK = 0x0,
    mbOKCancel = 0x1,
    mbAbortRetryIgnore = 0x2,
    mbYesNoCancel = 0x3,
    mbYesNo = 0x4,
    mbRetryCancel = 0x5,
    mbYesNoOverwriteIgnoreCancel = 0x6, // the program's own extra set
    mbIconStop = 0x10,
    mbIconQuestion = 0x20,
    mbIconExclamation = 0x30,
    mbIconInformation = 0x40,
    mbIconApplication = 0x80,
    mbDefButton2 = 0x100,
    mbDefButton3 = 0x200,
    mbDefButton4 = 0x300,
    mbHelp = 0x4000,
    mbTopMost = 0x40000,
};

// Modal results.
enum : int
{
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrHelp = 9,
    mrOverwriteAll = 12,
    mrIgnoreAll = 13,
};

enum class TMsgIcon
{
    None,
    Stop,
    Question,
    Exclamation,
    Information,
    Application
};

// The program's message box. It takes the platform's flag word, so callers keep writing the
// familiar combinations, and adds the five-button overwrite question that the platform's box
// cannot ask. Its look (grey text, fixed margins) matches the program's other dialogs.
class TMsgDlg : public QDialog
{
    Q_OBJECT
public:
    explicit TMsgDlg(QWidget* parent = nullptr);

    // Caption, text, icon, buttons and layout from the flag word; an empty caption keeps "错误".
    void Prepare(const QString& text, const QString& caption, unsigned flags, int helpContext);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    // Left to right, help button included.
    const std::vector<QPushButton*>& Buttons() const { return FButtons; }
    QPushButton* EscapeButton() const { return FEscapeButton; }
    QPushButton* FocusedButton() const { return FFocusButton; }
    TMsgIcon Icon() const { return FIcon; }

    static constexpr int ButtonWidth = 90;
    static constexpr int ButtonHeight = 25;

protected:
    void showEvent(QShowEvent* event) override;

public slots:
    // Esc (and any other way of closing without a button) presses the rightmost button.
    void reject() override;

private:
    QPushButton* AddButton(const QString& caption, int result);
    void Arrange(unsigned flags);

    std::vector<QPushButton*> FButtons;
    QPushButton* FEscapeButton = nullptr;
    QPushButton* FFocusButton = nullptr;
    TMsgIcon FIcon = TMsgIcon::None;
};

// Tests answer the program's message boxes through this hook instead of a person; the program
// itself never sets it. The hook gets what the box would show and returns the modal result.
using TMessageBoxAnswer = std::function<int(const QString& text, const QString& caption, unsigned flags)>;
void SetMessageBoxAnswer(TMessageBoxAnswer answer);

// Shows the message box modally and returns the modal result of the button pressed.
int ShowMessageBox(const QString& text, const QString& caption = QString(), unsigned flags = 0,
                   int helpContext = 0);

// Fills "%s", "%d", "%u", "%x" and "%%" of `format` from `arguments`, in order. A directive
// without an argument, or of an unknown kind, stays in the text as written, so a wrong call
// still shows a readable message.
QString FormatText(const QString& format, const QVariantList& arguments);

int ShowMessageFmt(const QString& format, const QVariantList& arguments,
                   const QString& caption = QString(), unsigned flags = 0, int helpContext = 0);
