#include "uBrowserFrame.h"

#include "uWBExternal.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStackedLayout>
#include <QTimer>
#include <QToolButton>

#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <utility>

// ---------------------------------------------------------------------------------------------
// Pages and controls

QString ExtendUserAgent(QWebEngineProfile* profile)
{
    const QString suffix = QStringLiteral("(Varnix/1.0)");
    QString agent = profile->httpUserAgent().left(1024).trimmed();
    // A second main window in the same process must not add the mark twice.
    if (!agent.endsWith(suffix)) agent += suffix;
    profile->setHttpUserAgent(agent);
    return agent;
}

void TBrowserPage::javaScriptAlert(const QUrl&, const QString&) {}

bool TBrowserPage::javaScriptConfirm(const QUrl&, const QString&)
{
    return false;
}

bool TBrowserPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*)
{
    return false;
}

void TBrowserPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                            const QString&)
{
}

TBrowserControl::TBrowserControl(TBrowserHost* host, QWidget* parent)
    : QWebEngineView(parent), FHost(host)
{
    setPage(new TBrowserPage(StoreProfile(), this));
}

QWebEngineView* TBrowserControl::createWindow(QWebEnginePage::WebWindowType)
{
    // The engine loads the new window's URL into the control handed back, so the tab is made
    // without a navigation of its own.
    TBrowserFrame* frame = FHost->CreateFrame();
    FHost->SetCurrentIndex(FHost->FFrames.indexOf(frame));
    return frame->WB;
}

TBrowserFrame::TBrowserFrame(TBrowserHost* host, QWidget* parent) : QWidget(parent)
{
    static int number = 0;
    setObjectName(QStringLiteral("BrowserFrame%1").arg(++number));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    WB = new TBrowserControl(host, this);
    WB->setObjectName(QStringLiteral("WB"));
    layout->addWidget(WB);
}

// ---------------------------------------------------------------------------------------------
// Tab bar

TBrowserTabBar::TBrowserTabBar(QWidget* parent) : QTabBar(parent)
{
    setObjectName(QStringLiteral("BrowserTabs"));
    // SetCaption cuts captions to fit; Qt's own eliding would shrink tabs that do fit.
    setElideMode(Qt::ElideNone);
    setUsesScrollButtons(true);
    setExpanding(false);
    setDrawBase(false);
}

QString TBrowserTabBar::CutCaption(const QString& caption, const QFontMetrics& metrics, int room)
{
    // Measured as the tab lays the text out (a whole line, "&" doubled), which can differ by a
    // pixel from the sum of the pieces' advances.
    const auto fits = [&](const QString& text) {
        return metrics.size(Qt::TextShowMnemonic, QString(text).replace(u'&', QLatin1String("&&")))
                   .width() <= room;
    };
    if (metrics.horizontalAdvance(caption) <= MaxTabWidth && fits(caption)) return caption;
    const QString dots = QStringLiteral("...");
    // Cut at whole characters (a pair of surrogates counts as one).
    const QList<uint> chars = caption.toUcs4();
    const int n = int(chars.size());
    int k = std::min(n - 1, 58);
    QString head;
    for (; k > 0; --k) {
        head = QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()), k);
        if (metrics.horizontalAdvance(head) <= MaxCaptionWidth && fits(head + dots)) break;
    }
    if (k <= 0) head.clear();
    return head + dots;
}

void TBrowserTabBar::SetCaption(int index, const QString& caption)
{
    if (index < 0 || index >= count()) return;
    setTabData(index, caption);
    // A tab reads "&" as the mark of a shortcut letter; a page title means the character.
    const auto shown = [](QString text) { return text.replace(u'&', QLatin1String("&&")); };
    // The style's own size for the whole caption says what it adds around the text (padding,
    // borders, the sheet's box model); a caption whose tab stays within 200 pixels fits.
    setTabText(index, shown(caption));
    const int whole = QTabBar::tabSizeHint(index).width();
    if (whole <= MaxTabWidth && fontMetrics().horizontalAdvance(caption) <= MaxTabWidth) return;
    const int frame = whole - fontMetrics().size(Qt::TextShowMnemonic, shown(caption)).width();
    setTabText(index, shown(CutCaption(caption, fontMetrics(), MaxTabWidth - frame)));
}

QString TBrowserTabBar::FullCaption(int index) const
{
    const QVariant full = tabData(index);
    return full.isValid() ? full.toString() : tabText(index);
}

QSize TBrowserTabBar::tabSizeHint(int index) const
{
    QSize size = QTabBar::tabSizeHint(index);
    size.setWidth(std::min(size.width(), MaxTabWidth));
    return size;
}

void TBrowserTabBar::changeEvent(QEvent* event)
{
    QTabBar::changeEvent(event);
    // Another style or font leaves another room: cut every caption again from its full text.
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange)
        for (int i = 0; i < count(); ++i)
            if (tabData(i).isValid()) SetCaption(i, tabData(i).toString());
}

void TBrowserTabBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        const int index = tabAt(event->position().toPoint());
        if (index >= 0) setCurrentIndex(index);
        event->accept();
        return;
    }
    QTabBar::mousePressEvent(event);
}

void TBrowserTabBar::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && tabAt(event->position().toPoint()) >= 0 &&
        OnCloseRequest) {
        // The close runs after the click's own handling is over.
        QTimer::singleShot(0, this, [this] {
            if (OnCloseRequest) OnCloseRequest();
        });
        event->accept();
        return;
    }
    QTabBar::mouseDoubleClickEvent(event);
}

void TBrowserTabBar::contextMenuEvent(QContextMenuEvent* event)
{
    if (ContextMenu) ContextMenu->popup(event->globalPos());
    event->accept();
}

// ---------------------------------------------------------------------------------------------
// The browser page

namespace {

QToolButton* NewButton(QWidget* parent, QAction* action)
{
    auto* button = new QToolButton(parent);
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    // A screen reader names the button by its caption, also where a skin shows only a picture.
    const auto name = [button, action] {
        QString caption = action->text();
        button->setAccessibleName(caption.remove(QLatin1Char('&')));
    };
    name();
    QObject::connect(action, &QAction::changed, button, name);
    return button;
}

} // namespace

TBrowserHost::TBrowserHost(TWBExternal* external, QWidget* parent)
    : QWidget(parent), FExternal(external)
{
    setObjectName(QStringLiteral("BrowserHost"));
    const auto newAction = [this](const char* name, const QString& caption) {
        auto* action = new QAction(caption, this);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    ActBrowsNew = newAction("ActBrowsNew", QStringLiteral("新建"));
    ActBrowsBack = newAction("ActBrowsBack", QStringLiteral("后退"));
    ActBrowsNext = newAction("ActBrowsNext", QStringLiteral("前进"));
    ActBrowsStop = newAction("ActBrowsStop", QStringLiteral("停止"));
    ActBrowsRefresh = newAction("ActBrowsRefresh", QStringLiteral("刷新"));
    ActBrowsHome = newAction("ActBrowsHome", QStringLiteral("主页"));
    ActBrowsClose = newAction("ActBrowsClose", QStringLiteral("关闭"));
    ActBrowsCloseAll = newAction("ActBrowsCloseAll", QStringLiteral("全部关闭"));

    connect(ActBrowsNew, &QAction::triggered, this,
            [this] { SetCurrentIndex(OpenTab(QStringLiteral("about:blank"))); });
    connect(ActBrowsBack, &QAction::triggered, this, [this] {
        if (TBrowserFrame* f = CurrentFrame()) f->WB->back();
    });
    connect(ActBrowsNext, &QAction::triggered, this, [this] {
        if (TBrowserFrame* f = CurrentFrame()) f->WB->forward();
    });
    connect(ActBrowsStop, &QAction::triggered, this, [this] {
        if (TBrowserFrame* f = CurrentFrame()) f->WB->stop();
    });
    connect(ActBrowsRefresh, &QAction::triggered, this, [this] {
        if (TBrowserFrame* f = CurrentFrame()) f->WB->reload();
    });
    connect(ActBrowsHome, &QAction::triggered, this, [this] {
        TBrowserFrame* f = CurrentFrame();
        const QString url = OnHomeUrl ? OnHomeUrl() : QString();
        if (f && !url.isEmpty()) NavigateTab(f, url);
    });
    connect(ActBrowsClose, &QAction::triggered, this, &TBrowserHost::CloseCurrentTab);
    connect(ActBrowsCloseAll, &QAction::triggered, this, &TBrowserHost::CloseAllTabs);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* toolBar = new QWidget(this);
    toolBar->setObjectName(QStringLiteral("BrowserToolBar"));
    auto* row = new QHBoxLayout(toolBar);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(2);
    // Named after their actions, so the skin can put its own buttons in their place.
    const std::pair<QAction*, const char*> buttons[] = {
        {ActBrowsNew, "WBNewButton"},         {ActBrowsBack, "WBBackButton"},
        {ActBrowsNext, "WBNextButton"},       {ActBrowsStop, "WBStopButton"},
        {ActBrowsRefresh, "WBRefreshButton"}, {ActBrowsHome, "WBHomeButton"}};
    for (const auto& [action, name] : buttons) {
        QToolButton* button = NewButton(toolBar, action);
        button->setObjectName(QLatin1String(name));
        row->addWidget(button);
    }
    FAddressBox = new QLineEdit(toolBar);
    FAddressBox->setObjectName(QStringLiteral("AddressBox"));
    FAddressBox->installEventFilter(this);
    row->addWidget(FAddressBox, 1);
    column->addWidget(toolBar);

    FTabBar = new TBrowserTabBar(this);
    FTabBar->ContextMenu = new QMenu(FTabBar);
    FTabBar->ContextMenu->addAction(ActBrowsClose);
    FTabBar->ContextMenu->addAction(ActBrowsCloseAll);
    FTabBar->OnCloseRequest = [this] { CloseCurrentTab(); };
    connect(FTabBar, &QTabBar::currentChanged, this, &TBrowserHost::CurrentTabChanged);
    column->addWidget(FTabBar);

    FPageArea = new QWidget(this);
    FPageArea->setObjectName(QStringLiteral("PageArea"));
    FPageLayout = new QStackedLayout(FPageArea);
    FPageLayout->setContentsMargins(0, 0, 0, 0);
    column->addWidget(FPageArea, 1);

    FStatusBar = new QLabel(this);
    FStatusBar->setObjectName(QStringLiteral("BrowserStatusBar"));
    FStatusBar->setTextFormat(Qt::PlainText);
    FStatusBar->setMinimumWidth(1); // a long link must not widen the window
    FStatusBar->setMinimumHeight(FStatusBar->fontMetrics().height() + 4); // one line, even empty
    column->addWidget(FStatusBar);

    UpdateActions();
}

TBrowserHost::~TBrowserHost()
{
    // No signal of a dying control may reach a half-destroyed host.
    for (TBrowserFrame* frame : FFrames) {
        frame->WB->disconnect(this);
        frame->WB->page()->disconnect(this);
    }
}

QString TBrowserHost::Identifier() const
{
    return FExternal ? FExternal->DeviceID() : QString();
}

QString TBrowserHost::Shown(const QString& text) const
{
    // Reading the identifier first records it among those to hide.
    Identifier();
    return DisplayUrl(text, {TWBExternal::KnownIdentifiers(), FAuthTexts});
}

int TBrowserHost::TabCount() const
{
    return int(FFrames.size());
}

int TBrowserHost::CurrentIndex() const
{
    return FTabBar->currentIndex();
}

void TBrowserHost::SetCurrentIndex(int index)
{
    if (index < 0 || index >= TabCount()) return;
    if (index == FTabBar->currentIndex())
        CurrentTabChanged(index);
    else
        FTabBar->setCurrentIndex(index);
}

TBrowserFrame* TBrowserHost::Frame(int index) const
{
    return index >= 0 && index < TabCount() ? FFrames[index] : nullptr;
}

TBrowserFrame* TBrowserHost::CurrentFrame() const
{
    return Frame(CurrentIndex());
}

int TBrowserHost::IndexOf(const QObject* frameChild) const
{
    for (int i = 0; i < TabCount(); ++i)
        if (FFrames[i]->WB == frameChild || FFrames[i]->WB->page() == frameChild) return i;
    return -1;
}

int TBrowserHost::FindTab(const QString& url) const
{
    if (url == QLatin1String("about:blank")) return -1;
    for (int i = 0; i < TabCount(); ++i) {
        const TBrowserFrame* f = FFrames[i];
        if (f->RequestedUrl.compare(url, Qt::CaseInsensitive) == 0 ||
            f->WB->url().toString().compare(url, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

TBrowserFrame* TBrowserHost::CreateFrame()
{
    auto* frame = new TBrowserFrame(this, FPageArea);
    frame->hide();
    FFrames << frame;
    const int index = TabCount() - 1;
    frame->WB->Tag = TagBase + index;
    FPageLayout->addWidget(frame);
    FTabBar->SetCaption(FTabBar->addTab(QString()), QStringLiteral("新页面"));
    if (FExternal) FExternal->Install(frame->WB->page());

    TBrowserControl* wb = frame->WB;
    connect(wb, &QWebEngineView::titleChanged, this, [this, frame](const QString& title) {
        const int i = FFrames.indexOf(frame);
        if (i < 0) return;
        frame->PageTitle = Shown(title);
        FTabBar->SetCaption(i, frame->PageTitle);
        FTabBar->setTabToolTip(i, frame->PageTitle);
    });
    connect(wb, &QWebEngineView::loadFinished, this, [this, wb](bool) {
        if (wb->Tag == TagBase + CurrentIndex()) ShowTabUrl(CurrentIndex());
    });
    connect(wb, &QWebEngineView::urlChanged, this, [this, frame, wb](const QUrl& url) {
        // A page opened for a new window learns its address only here.
        if (frame->RequestedUrl.isEmpty()) frame->RequestedUrl = url.toString();
        if (wb->Tag == TagBase + CurrentIndex()) ShowTabUrl(CurrentIndex());
    });
    connect(wb->page(), &QWebEnginePage::linkHovered, this, [this](const QString& url) {
        FStatusBar->setText(QLatin1Char(' ') + Shown(url));
    });
    wb->setFocus();
    return frame;
}

int TBrowserHost::OpenTab(const QString& url)
{
    const QString target = url.isEmpty() ? QStringLiteral("about:blank") : url;
    const int found = FindTab(target);
    if (found >= 0) return found;
    TBrowserFrame* frame = CreateFrame();
    NavigateTab(frame, target);
    return FFrames.indexOf(frame);
}

int TBrowserHost::ShowUrl(const QString& url)
{
    const int index = OpenTab(url);
    SetCurrentIndex(index);
    return index;
}

void TBrowserHost::NavigateTab(TBrowserFrame* frame, const QString& url)
{
    const int index = FFrames.indexOf(frame);
    if (index < 0) return;
    frame->RequestedUrl = url;
    const QString auth = OnAuthText ? OnAuthText() : QString();
    if (!auth.isEmpty() && url.contains(QLatin1String("{{AUTH}}")) && !FAuthTexts.contains(auth))
        FAuthTexts << auth;
    const QString target = SubstituteStoreUrl(url, auth, Identifier());
    FAddressBox->setText(Shown(target));
    FTabBar->SetCaption(index, QStringLiteral("正在载入..."));
    frame->WB->load(QUrl(target));
}

void TBrowserHost::CloseTab(int index)
{
    if (index < 0 || index >= TabCount()) return;
    TBrowserFrame* frame = FFrames.takeAt(index);
    frame->WB->disconnect(this);
    frame->WB->page()->disconnect(this);
    FPageLayout->removeWidget(frame);
    frame->hide();
    for (int i = index; i < TabCount(); ++i)
        FFrames[i]->WB->Tag = TagBase + i;
    FTabBar->removeTab(index);
    // Later: a close may have been asked for by the control's own event.
    frame->deleteLater();
}

void TBrowserHost::ShowTabUrl(int index)
{
    TBrowserFrame* frame = Frame(index);
    if (!frame) return;
    const QString location = frame->WB->url().toString();
    FAddressBox->setText(Shown(location.isEmpty() ? RequestedUrlForDisplay(frame->RequestedUrl)
                                                  : location));
}

void TBrowserHost::CurrentTabChanged(int index)
{
    TBrowserFrame* frame = Frame(index);
    if (!frame) return;
    FPageLayout->setCurrentWidget(frame);
    ShowTabUrl(index);
}

void TBrowserHost::CloseCurrentTab()
{
    if (FClosing) return;
    FClosing = true;
    int i = CurrentIndex();
    if (i >= 0) {
        CloseTab(i);
        if (i == TabCount()) i -= 1;
        if (i >= 0) SetCurrentIndex(i);
    }
    FClosing = false;
}

void TBrowserHost::CloseAllTabs()
{
    FTabBar->setUpdatesEnabled(false);
    while (TabCount() > 0)
        CloseTab(0);
    FTabBar->setUpdatesEnabled(true);
}

void TBrowserHost::UpdateActions()
{
    const bool current = CurrentFrame() != nullptr;
    for (QAction* a :
         {ActBrowsBack, ActBrowsNext, ActBrowsStop, ActBrowsRefresh, ActBrowsHome, ActBrowsClose})
        a->setEnabled(current);
    ActBrowsCloseAll->setEnabled(TabCount() > 0);
}

QString TBrowserHost::CompleteUrl(const QString& text, const QString& suffix)
{
    QString result = text;
    if (!result.contains(QLatin1String("://"))) result.prepend(QLatin1String("http://"));
    if (!result.contains(u'.'))
        result.insert(result.indexOf(QLatin1String("://")) + 3, QLatin1String("www."));
    if (!suffix.isEmpty() && !text.endsWith(suffix, Qt::CaseInsensitive)) result += suffix;
    return result;
}

QString TBrowserHost::SuffixForModifiers(Qt::KeyboardModifiers modifiers)
{
    const bool shift = modifiers & Qt::ShiftModifier;
    const bool ctrl = modifiers & Qt::ControlModifier;
    if (shift && ctrl) return QStringLiteral(".com.cn");
    if (modifiers & Qt::AltModifier) return QStringLiteral(".net");
    if (ctrl) return QStringLiteral(".com");
    if (shift) return QStringLiteral(".cn");
    return QString();
}

void TBrowserHost::AddressEntered(Qt::KeyboardModifiers modifiers)
{
    const QString url = CompleteUrl(FAddressBox->text(), SuffixForModifiers(modifiers));
    if (TBrowserFrame* frame = CurrentFrame())
        NavigateTab(frame, url);
    else
        SetCurrentIndex(OpenTab(url));
}

bool TBrowserHost::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FAddressBox) {
        if (event->type() == QEvent::FocusIn) {
            // After the click that gave the focus has placed the cursor.
            QTimer::singleShot(0, FAddressBox, &QLineEdit::selectAll);
        } else if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                AddressEntered(key->modifiers() & ~Qt::KeypadModifier);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
