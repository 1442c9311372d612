#include "uDownAskDlg.h"

#include "uMsgDlg.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

std::function<void(TDownAskForm&)>& DownAskAnswer()
{
    static std::function<void(TDownAskForm&)> answer;
    return answer;
}

bool IsBlank(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= ' ';
}

// The page that shows offers of a kind.
int PageOfKind(int kind)
{
    return kind == 3 ? 1 : 0;
}

} // namespace

void SetDownAskAnswer(std::function<void(TDownAskForm&)> answer)
{
    DownAskAnswer() = std::move(answer);
}

QString DownKindName(int kind)
{
    static const char* const names[] = {"初始化", "更新列表", "阅读软件", "设备固件"};
    return kind >= 0 && kind < 4 ? QString::fromUtf8(names[kind]) : QString();
}

QStringList SplitDescription(const QString& text)
{
    QStringList items;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && IsBlank(text[i]))
        ++i;
    while (i < n) {
        QString item;
        if (text[i] == u'"') {
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        item += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
        } else {
            const qsizetype start = i;
            while (i < n && !IsBlank(text[i]) && text[i] != u',' && text[i].unicode() != 0)
                ++i;
            item = text.mid(start, i - start);
        }
        items << item;
        while (i < n && IsBlank(text[i]))
            ++i;
        if (i < n && text[i] == u',') {
            if (i + 1 == n) items << QString(); // a trailing comma ends with an empty item
            ++i;
            while (i < n && IsBlank(text[i]))
                ++i;
        }
    }
    return items;
}

TDownAskForm::TDownAskForm(TDownTask& task, QWidget* parent) : QDialog(parent), FTask(task)
{
    setObjectName(QStringLiteral("DownAskForm"));
    setWindowTitle(QStringLiteral("找到可用的更新"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    auto* column = new QVBoxLayout(this);
    auto* heading = new QLabel(QStringLiteral("选择您要的更新"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    column->addWidget(heading);

    Pages = new QTabWidget(this);
    const QString titles[2] = {QStringLiteral("KeltoVarnix更新"), QStringLiteral("设备固件更新")};
    for (int page = 0; page < 2; ++page) {
        auto* sheet = new QWidget(Pages);
        auto* rows = new QVBoxLayout(sheet);
        DescBoxes[page] = new QPlainTextEdit(sheet);
        DescBoxes[page]->setReadOnly(true);
        DownloadBoxes[page] = new QCheckBox(QStringLiteral("下载此更新"), sheet);
        DownloadBoxes[page]->setChecked(true);
        rows->addWidget(DescBoxes[page], 1);
        rows->addWidget(DownloadBoxes[page]);
        Pages->addTab(sheet, titles[page]);
        Pages->setTabVisible(page, false);
    }
    column->addWidget(Pages, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(
        new QLabel(QStringLiteral("注意：下载后将自动完成\n更新，请保存好您的操作。"), this), 1);
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &TDownAskForm::OkClick);
    connect(cancel, &QPushButton::clicked, this, &TDownAskForm::CancelClick);
    bottom->addWidget(ok);
    bottom->addWidget(cancel);
    column->addLayout(bottom);
    resize(380, 300);

    Fill();
}

bool TDownAskForm::PageVisible(int page) const
{
    return FPageVisible[page];
}

void TDownAskForm::Fill()
{
    for (int i = 1; i <= FTask.Count; ++i) {
        TDownFiles& f = FTask.At(i);
        if (f.Done) continue;
        f.Selected = false;
        const int page = PageOfKind(f.Kind);
        FPageVisible[page] = true;
        Pages->setTabVisible(page, true);
        QStringList lines{QStringLiteral("版本：") + f.ID, QStringLiteral("大小：") + f.FileSize,
                          QString()};
        lines << SplitDescription(f.Desc);
        DescBoxes[page]->setPlainText(lines.join(u'\n'));
    }
    for (int page = 0; page < 2; ++page)
        if (FPageVisible[page]) {
            Pages->setCurrentIndex(page);
            break;
        }
}

void TDownAskForm::OkClick()
{
    bool any = false;
    for (int page = 0; page < 2; ++page)
        any = any || (FPageVisible[page] && DownloadBoxes[page]->isChecked());
    if (!any) {
        if (ShowMessageBox(QStringLiteral("您没有选择任何更新，确认不下载更新吗？\r\n\r\n"
                                          "点 是 不下载任何更新，点 否 重新选择"),
                           QStringLiteral("确认"), mbYesNo | mbIconQuestion) == mrYes)
            done(mrNo);
        return;
    }
    for (int i = 1; i <= FTask.Count; ++i) {
        TDownFiles& f = FTask.At(i);
        const int page = PageOfKind(f.Kind);
        if (!f.WasCached && FPageVisible[page]) f.Selected = DownloadBoxes[page]->isChecked();
    }
    done(mrYes);
}

void TDownAskForm::CancelClick()
{
    done(mrNo);
}

int TDownAskForm::Execute()
{
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.right() - frameGeometry().width() + 1,
             area.bottom() - frameGeometry().height() + 1);
    }
    if (DownAskAnswer()) {
        setResult(mrNone);
        DownAskAnswer()(*this);
        return result();
    }
    return exec();
}
