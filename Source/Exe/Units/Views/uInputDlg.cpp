#include "uInputDlg.h"

#include "LongWork.h"

#include "DialogPlacement.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// The smallest multiple of 8 that is not below x.
int R8(int x)
{
    return (x + 7) / 8 * 8;
}

} // namespace

TInputDlg::TInputDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("请输入"));
    Label1 = new QLabel(QStringLiteral("请在此处输入"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->move(16, 16);
    QPalette pal = Label1->palette();
    pal.setColor(QPalette::WindowText, QColor(DialogTextColor & 0xFF, (DialogTextColor >> 8) & 0xFF,
                                              (DialogTextColor >> 16) & 0xFF));
    Label1->setPalette(pal);
    Label1->adjustSize();

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(16, 40, 296, std::max(21, Edit1->sizeHint().height()));

    Button1 = new QPushButton(QStringLiteral("确定"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->resize(ButtonWidth, ButtonHeight);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    Button2 = new QPushButton(QStringLiteral("取消"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->resize(ButtonWidth, ButtonHeight);
    Button2->setAutoDefault(false);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    resize(DesignClientWidth, 100);
}

void TInputDlg::Prepare(const QString& caption, const QString& prompt, const QString& value)
{
    if (!caption.isEmpty()) setWindowTitle(caption);
    if (!prompt.isEmpty()) Label1->setText(prompt);
    Label1->adjustSize();
    Edit1->setText(value);
    Edit1->selectAll();

    const int m = Edit1->x();
    Edit1->move(m, R8(Label1->y() + Label1->height()));
    const int buttonTop = R8(Edit1->y() + Edit1->height() + m);
    int width = DesignClientWidth;
    if (width < Label1->width() + 2 * m) {
        width = Label1->width() + 2 * m;
        Edit1->resize(Label1->width(), Edit1->height());
    }
    setFixedSize(width, buttonTop + ButtonHeight + m);
    Button2->move(width - m - ButtonWidth, buttonTop);
    Button1->move(Button2->x() - m - ButtonWidth, buttonTop);
}

void TInputDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Edit1->setFocus();
}

namespace {
TInputQueryAnswer InputQueryAnswer;
}

void SetInputQueryAnswer(TInputQueryAnswer answer)
{
    InputQueryAnswer = std::move(answer);
}

bool InputQueryDlg(const QString& caption, const QString& prompt, QString& value)
{
    TLongWork work; // the dialog pumps events (LongWork.h)
    if (InputQueryAnswer) return InputQueryAnswer(caption, prompt, value);
    TInputDlg dialog(ProgramMainWindow());
    dialog.Prepare(caption, prompt, value);
    CentreDialog(&dialog);
    if (dialog.exec() != QDialog::Accepted) return false;
    value = dialog.Edit1->text();
    return true;
}
