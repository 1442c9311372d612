#pragma once

#include <QTabBar>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

#include <functional>
#include <limits>

class QAction;
class QLabel;
class QLineEdit;
class QStackedLayout;
class QWebEngineProfile;
class TWBExternal;

// Appends the program's mark to the profile's user agent so the store can tell its requests
// apart; returns the new user agent.
QString ExtendUserAgent(QWebEngineProfile* profile);

// The page of a tab. Pages' own dialogs (alerts, confirmations, prompts, script errors) would
// stop the user in the middle of the store with boxes the program does not own, so they are
// all answered silently.
class TBrowserPage : public QWebEnginePage
{
    Q_OBJECT
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                          const QString& defaultValue, QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;
};

class TBrowserHost;

// The browser control of a tab. Links that ask for a new window open in a new tab of the
// host, so the store never leaves the program.
class TBrowserControl : public QWebEngineView
{
    Q_OBJECT
public:
    TBrowserControl(TBrowserHost* host, QWidget* parent);
    int Tag = 0; // 99 + the tab's index

protected:
    QWebEngineView* createWindow(QWebEnginePage::WebWindowType type) override;

private:
    TBrowserHost* FHost;
};

// One tab: its browser control, the URL last asked for (placeholders still in it) and the
// title shown as the tab's hint.
class TBrowserFrame : public QWidget
{
    Q_OBJECT
public:
    TBrowserFrame(TBrowserHost* host, QWidget* parent);
    TBrowserControl* WB = nullptr;
    QString RequestedUrl;
    QString PageTitle;
};

// The tab bar of the browser page: tabs at most 200 pixels wide with long captions cut, a
// double click closes the current tab, a right click makes a tab current.
// A cut caption is measured against the room the style leaves for text inside a 200-pixel tab,
// not against the tab's outer width: the style draws a caption centred and clipped, so a
// caption wider than that room would lose its first characters and its "...". The room
// depends on the style and font, so captions are cut again from their full text when either
// changes (the skin's sheet arrives after the first tabs are made).
class TBrowserTabBar : public QTabBar
{
    Q_OBJECT
public:
    static constexpr int MaxTabWidth = 200;
    static constexpr int MaxCaptionWidth = 180;

    explicit TBrowserTabBar(QWidget* parent);
    // The caption as a tab shows it: a caption wider than 200 pixels or than `room` is cut to
    // its longest head of at most 58 characters that measures at most 180 pixels and that,
    // with "..." appended, still fits `room`; then "..." is appended.
    static QString CutCaption(const QString& caption, const QFontMetrics& metrics,
                              int room = std::numeric_limits<int>::max());
    void SetCaption(int index, const QString& caption);
    // The caption as it was given, before any cut.
    QString FullCaption(int index) const;

    std::function<void()> OnCloseRequest; // posted after a double click
    QMenu* ContextMenu = nullptr;

protected:
    QSize tabSizeHint(int index) const override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};

// The store's small tabbed browser on the main window's "Browser" page: the toolbar with its
// actions and the address box, the tab bar, the page area showing the current tab, and a
// one-line status bar. URLs get their placeholders filled just before loading and are shown
// through the display filter, so credentials and the reader's identifier never appear.
class TBrowserHost : public QWidget
{
    Q_OBJECT
public:
    static constexpr int TagBase = 99;

    TBrowserHost(TWBExternal* external, QWidget* parent);
    ~TBrowserHost() override;

    int OpenTab(const QString& url);
    int FindTab(const QString& url) const;
    void NavigateTab(TBrowserFrame* frame, const QString& url);
    void CloseTab(int index);
    void ShowTabUrl(int index);
    // Opens (or finds) the tab of `url` and makes it current.
    int ShowUrl(const QString& url);
    void CloseCurrentTab();
    void CloseAllTabs();
    // Evaluates the enabling of the browser's actions.
    void UpdateActions();

    static QString CompleteUrl(const QString& text, const QString& suffix);
    // The suffix the address box appends for the modifier keys held with Enter.
    static QString SuffixForModifiers(Qt::KeyboardModifiers modifiers);

    int TabCount() const;
    int CurrentIndex() const;
    void SetCurrentIndex(int index);
    TBrowserFrame* Frame(int index) const;
    TBrowserFrame* CurrentFrame() const;
    TBrowserTabBar* TabBar() const { return FTabBar; }
    QLineEdit* AddressBox() const { return FAddressBox; }
    QLabel* StatusBar() const { return FStatusBar; }
    TWBExternal* External() const { return FExternal; }

    // The store credentials filled into "{{AUTH}}".
    std::function<QString()> OnAuthText;
    // The URL of the focused store category, or "" when the focus is elsewhere.
    std::function<QString()> OnHomeUrl;

    QAction* ActBrowsNew = nullptr;
    QAction* ActBrowsBack = nullptr;
    QAction* ActBrowsNext = nullptr;
    QAction* ActBrowsStop = nullptr;
    QAction* ActBrowsRefresh = nullptr;
    QAction* ActBrowsHome = nullptr;
    QAction* ActBrowsClose = nullptr;
    QAction* ActBrowsCloseAll = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TBrowserControl;
    TBrowserFrame* CreateFrame();
    void CurrentTabChanged(int index);
    void AddressEntered(Qt::KeyboardModifiers modifiers);
    int IndexOf(const QObject* frameChild) const;
    QString Identifier() const;
    // `text` through the display filter, with everything this run must not show.
    QString Shown(const QString& text) const;

    TWBExternal* FExternal;
    QList<TBrowserFrame*> FFrames;
    TBrowserTabBar* FTabBar = nullptr;
    QWidget* FPageArea = nullptr;
    QStackedLayout* FPageLayout = nullptr;
    QLineEdit* FAddressBox = nullptr;
    QLabel* FStatusBar = nullptr;
    bool FClosing = false;
    QStringList FAuthTexts; // every credentials text filled into an address
};
