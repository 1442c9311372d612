#include "uMsgDlg.h"

#include "LongWork.h"

#include "DialogPlacement.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace {

constexpr int Margin = 16; // the icon's left position; every other distance follows it

struct TButtonDef
{
    const char* Caption;
    int Result;
};

// The button sets of the flag word's lowest three bits, left to right.
const std::vector<TButtonDef>& ButtonSet(int set)
{
    static const std::vector<TButtonDef> sets[7] = {
        {{"确定", mrOk}},
        {{"确定", mrOk}, {"取消", mrCancel}},
        {{"中断", mrAbort}, {"重试", mrRetry}, {"忽略", mrIgnore}},
        {{"是", mrYes}, {"否", mrNo}, {"取消", mrCancel}},
        {{"是", mrYes}, {"否", mrNo}},
        {{"重试", mrRetry}, {"取消", mrCancel}},
        {{"是", mrYes},
         {"否", mrNo},
         {"全部覆盖", mrOverwriteAll},
         {"全部忽略", mrIgnoreAll},
         {"取消", mrCancel}},
    };
    return sets[set];
}

bool AllSet(unsigned flags, unsigned mask)
{
    return (flags & mask) == mask;
}

QPixmap StockIcon(TMsgIcon icon, const QStyle* style)
{
    QIcon result;
    switch (icon) {
    case TMsgIcon::Stop:
        result = style->standardIcon(QStyle::SP_MessageBoxCritical);
        break;
    case TMsgIcon::Question:
        result = style->standardIcon(QStyle::SP_MessageBoxQuestion);
        break;
    case TMsgIcon::Exclamation:
        result = style->standardIcon(QStyle::SP_MessageBoxWarning);
        break;
    case TMsgIcon::Information:
        result = style->standardIcon(QStyle::SP_MessageBoxInformation);
        break;
    case TMsgIcon::Application:
        result = QApplication::windowIcon();
        if (result.isNull()) result = style->standardIcon(QStyle::SP_DesktopIcon);
        break;
    case TMsgIcon::None:
        break;
    }
    return result.pixmap(32, 32);
}

} // namespace

TMsgDlg::TMsgDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setWindowTitle(QStringLiteral("错误"));
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(Margin, Margin, 32, 32);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText); // "&" is shown as it is
    Label1->setWordWrap(false);           // lines break only where the text breaks them
    Label1->move(64, 26);
    QPalette pal = Label1->palette();
    pal.setColor(QPalette::WindowText, QColor(DialogTextColor & 0xFF, (DialogTextColor >> 8) & 0xFF,
                                              (DialogTextColor >> 16) & 0xFF));
    Label1->setPalette(pal);
}

QPushButton* TMsgDlg::AddButton(const QString& caption, int result)
{
    auto* button = new QPushButton(caption, this);
    button->resize(ButtonWidth, ButtonHeight);
    button->setProperty("ModalResult", result);
    connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
    FButtons.push_back(button);
    return button;
}

void TMsgDlg::Prepare(const QString& text, const QString& caption, unsigned flags, int helpContext)
{
    if (!caption.isEmpty()) setWindowTitle(caption);
    Label1->setText(text);
    Label1->adjustSize();
    if (text.isEmpty()) Label1->resize(0, 0);

    // Icon masks are tested from the largest, so 0x30 is the exclamation and not the question.
    static const std::pair<unsigned, TMsgIcon> icons[] = {
        {mbIconApplication, TMsgIcon::Application},
        {mbIconInformation, TMsgIcon::Information},
        {mbIconExclamation, TMsgIcon::Exclamation},
        {mbIconQuestion, TMsgIcon::Question},
        {mbIconStop, TMsgIcon::Stop}};
    FIcon = TMsgIcon::None;
    for (const auto& [mask, icon] : icons)
        if (AllSet(flags, mask)) {
            FIcon = icon;
            break;
        }
    if (FIcon == TMsgIcon::None) {
        Image1->hide();
        Label1->move(Image1->pos());
    } else {
        Image1->setPixmap(StockIcon(FIcon, style()));
    }

    int set = 0;
    for (int mask = 6; mask >= 0; --mask)
        if (AllSet(flags, unsigned(mask))) {
            set = mask;
            break;
        }
    for (const TButtonDef& def : ButtonSet(set))
        AddButton(QString::fromUtf8(def.Caption), def.Result);
    FEscapeButton = FButtons.back();
    if (flags & mbHelp) {
        QPushButton* help = AddButton(QStringLiteral("帮助"), mrHelp);
        help->setProperty("HelpContext", helpContext);
        help->setWhatsThis(QString::number(helpContext));
    }
    Arrange(flags);
}

void TMsgDlg::Arrange(unsigned flags)
{
    if (flags & mbTopMost) setWindowFlag(Qt::WindowStaysOnTopHint, true);

    const QRect icon = Image1->geometry();
    if (icon.top() < Label1->y() && Label1->height() >= icon.height())
        Label1->move(Label1->x(), icon.top());

    const int n = int(FButtons.size());
    const int labelRight = Label1->x() + Label1->width();
    const int labelBottom = Label1->y() + Label1->height();
    const int iconBottom = icon.top() + icon.height();
    const int width = std::max(n * ButtonWidth + (n + 1) * Margin, labelRight + Margin);
    const int height = std::max(labelBottom, iconBottom) + 3 * Margin + ButtonHeight;
    setFixedSize(width, height);

    const int top = height - Margin - ButtonHeight;
    for (int k = 1; k <= n; ++k)
        FButtons[size_t(n - k)]->move(width - k * (Margin + ButtonWidth), top);
    for (int i = 1; i < n; ++i)
        setTabOrder(FButtons[size_t(i - 1)], FButtons[size_t(i)]);

    // The leftmost button is the default unless a default-button flag names another; in the
    // five-button set the rightmost ("取消") is, so an overwrite is never confirmed by accident.
    static const unsigned defaultMasks[4] = {0, mbDefButton2, mbDefButton3, mbDefButton4};
    FFocusButton = nullptr;
    for (int p = n - 1; p >= 0 && !FFocusButton; --p) {
        const bool qualifies =
            p == 0 || p == 4 || p == 5 || (p <= 3 && AllSet(flags, defaultMasks[p]));
        if (qualifies) FFocusButton = FButtons[size_t(p)];
    }
    if (FFocusButton) {
        FFocusButton->setDefault(true);
        FFocusButton->setFocus();
    }
}

void TMsgDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (FFocusButton) FFocusButton->setFocus();
}

void TMsgDlg::reject()
{
    done(FEscapeButton ? FEscapeButton->property("ModalResult").toInt() : mrCancel);
}

namespace {
TMessageBoxAnswer MessageBoxAnswer;
}

void SetMessageBoxAnswer(TMessageBoxAnswer answer)
{
    MessageBoxAnswer = std::move(answer);
}

int ShowMessageBox(const QString& text, const QString& caption, unsigned flags, int helpContext)
{
    TLongWork work; // the box pumps events (LongWork.h)
    if (MessageBoxAnswer) return MessageBoxAnswer(text, caption, flags);
    TMsgDlg dialog(ProgramMainWindow());
    dialog.Prepare(text, caption, flags, helpContext);
    CentreDialog(&dialog);
    return dialog.exec();
}

QString FormatText(const QString& format, const QVariantList& arguments)
{
    QString out;
    out.reserve(format.size());
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c != u'%' || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        const QChar kind = format[i + 1];
        if (kind == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        const bool known = kind == u's' || kind == u'd' || kind == u'u' || kind == u'x';
        if (!known || next >= arguments.size()) {
            out += c;
            continue;
        }
        const QVariant& arg = arguments[next++];
        switch (kind.unicode()) {
        case u's':
            out += arg.toString();
            break;
        case u'd':
            out += QString::number(arg.toLongLong());
            break;
        case u'u':
            out += QString::number(arg.toULongLong());
            break;
        case u'x':
            out += QString::number(arg.toULongLong(), 16).toUpper();
            break;
        }
        ++i;
    }
    return out;
}

int ShowMessageFmt(const QString& format, const QVariantList& arguments, const QString& caption,
                   unsigned flags, int helpContext)
{
    return ShowMessageBox(FormatText(format, arguments), caption, flags, helpContext);
}
