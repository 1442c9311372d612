#include "uMainForm.h"

#include "BookListModel.h"
#include "Categories.h"
#include "Codec936.h"
#include "CursorControl.h"
#include "FileInfo.h"
#include "Folders.h"
#include "Globals.h"
#include "IniFile.h"
#include "LongWork.h"
#include "ModelGuard.h"
#include "NavigatorModel.h"
#include "rkView.h"
#include "SkinData.h"
#include "Skins.h"
#include "Subclasses.h"
#include "ThumbnailPainter.h"
#include "ToolBtn.h"
#include "uBrowserFrame.h"
#include "uMsgDlg.h"
#include "uUpDateComm.h"
#include "uUpdateMain.h"
#include "uWBExternal.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const QString SWindow = QStringLiteral("Window");
const QString SLogin = QStringLiteral("Login");
const QString SControls = QStringLiteral("Controls");
const QString SUpdate = QStringLiteral("Update");
const QString SListHeader = QStringLiteral("ListHeader");

constexpr int ToolBarHeight = 50;
constexpr int NavigatorWidth = 220;
constexpr int NavigatorMinWidth = 120;
constexpr int NavigatorBarHeight = 38;
constexpr int ListStateBarHeight = 19;
constexpr int AutoUpdateDelay = 2000;

struct TStateName
{
    const char* Name;
    Qt::WindowState State;
};
// The names the settings file uses, as the window states were always called.
constexpr TStateName StateNames[] = {
    {"Normal", Qt::WindowNoState},
    {"Minimized", Qt::WindowMinimized},
    {"Maximized", Qt::WindowMaximized},
};

QString StateName(Qt::WindowStates states)
{
    if (states.testFlag(Qt::WindowMinimized)) return QStringLiteral("Minimized");
    if (states.testFlag(Qt::WindowMaximized)) return QStringLiteral("Maximized");
    return QStringLiteral("Normal");
}

QToolButton* NewToolButton(QWidget* parent, const QString& name, const QString& text)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setAutoRaise(true);
    return button;
}

// The largest window size a settings file may ask for: a few times the whole desktop. A size
// beyond what any screen holds would only make the window paint for ever.
QSize LargestWindow()
{
    QRect desktop;
    for (const QScreen* s : QGuiApplication::screens())
        desktop |= s->geometry();
    if (desktop.isEmpty()) desktop = QRect(0, 0, 3840, 2160);
    return desktop.size() * 3;
}

// The navigator bar's "new bookshelf" picture: the shelf's own picture with a plus in its lower
// right corner, ringed in the bar's colour so that it reads over any shelf picture.
QIcon NewShelfIcon(const QIcon& shelf, const QColor& ink, const QColor& ground)
{
    constexpr int Side = 16;
    const qreal ratio = qGuiApp->devicePixelRatio();
    QPixmap picture(QSize(Side, Side) * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    shelf.paint(&painter, QRect(0, 0, Side, Side));
    const auto plus = [&](int grow, const QColor& color) {
        painter.fillRect(QRect(11 - grow, 8 - grow, 2 + 2 * grow, 8 + 2 * grow), color);
        painter.fillRect(QRect(8 - grow, 11 - grow, 8 + 2 * grow, 2 + 2 * grow), color);
    };
    plus(1, ground);
    plus(0, ink);
    painter.end();
    return QIcon(picture);
}

bool VisibleOnSomeScreen(const QRect& rect)
{
    const auto screens = QGuiApplication::screens();
    if (screens.isEmpty()) return true;
    return std::any_of(screens.begin(), screens.end(),
                       [&](QScreen* s) { return s->availableGeometry().intersects(rect); });
}

} // namespace

QEvent::Type TCommandEvent::CommandType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type TCommandEvent::SearchHitType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

const std::array<TListColumn, BookListColumnCount>& TXALVarnixForm::DesignListColumns()
{
    static const std::array<TListColumn, BookListColumnCount> columns = [] {
        static const int widths[BookListColumnCount] = {120, 120, 120, 120, 120, 120, 40,  90, 90,
                                                        60,  60,  60,  60,  120, 150, 150, 200};
        static const bool shown[BookListColumnCount] = {true,  true,  true,  false, false, true,
                                                        true,  true,  false, true,  true,  false,
                                                        false, false, false, true,  true};
        std::array<TListColumn, BookListColumnCount> result;
        for (int i = 0; i < BookListColumnCount; ++i)
            result[i] = {TBookListModel::Caption(i), widths[i], shown[i], i};
        return result;
    }();
    return columns;
}

TXALVarnixForm::TXALVarnixForm(const QString& settingsFile, QWidget* parent,
                               const QString& skinArchive)
    : QMainWindow(parent),
      FSettingsFile(settingsFile.isEmpty() ? Folders::SettingsFileName() : settingsFile),
      FListColumns(DesignListColumns())
{
    setObjectName(QStringLiteral("XALVarnixForm"));
    // 1. Title, icon; no search runs.
    QGuiApplication::setApplicationDisplayName(QStringLiteral("KeltoVarnix"));
    setWindowIcon(QApplication::windowIcon());

    FAutoUpdateTimer = new QTimer(this);
    FAutoUpdateTimer->setSingleShot(true);
    FAutoUpdateTimer->setInterval(AutoUpdateDelay);
    connect(FAutoUpdateTimer, &QTimer::timeout, this, &TXALVarnixForm::AutoUpdateTimerTimer);

    // 2. The look: tool buttons, the thumbnail view, the search box's placeholder.
    CreateActions();
    CreateLayout();
    CreateMenus();
    resize(DesignWidth, DesignHeight);
    setMinimumSize(700, 300);

    // 3. Caption, the library model with its reader slots, the navigator's root nodes.
    setWindowTitle(QStringLiteral("KeltoVarnix"));
    FSystemCategory = std::make_unique<TSystemCategory>();
    // A reader that left while long work runs takes its identifier off the store pages at once.
    FSystemCategory->OnIdentityLost = [this] {
        if (FWBExternal) FWBExternal->Refresh();
    };
    for (int slot = 0; slot < 2; ++slot)
        FSystemCategory->ReaderSlot(slot)->OnChange = [this](TReaderCategory* reader) {
            ReaderChanged(reader);
        };
    CreateViews();
    SetUpSkin(skinArchive);
    // Made once the skin has given the shelves their picture.
    ActNewFolder->setIcon(NewShelfIcon(FNavigatorModel->ShelfIcon,
                                       FNavigator->palette().color(QPalette::Text),
                                       FNavigatorBar->palette().color(QPalette::Window)));
    ActNewFolder->setIconVisibleInMenu(false);
    UpdateStoreOrigins();

    // 4. The settings.
    LoadSettings();
    ApplyListColumns();
    UpdateViewVisibility();

    FIdleTimer = new QTimer(this);
    FIdleTimer->setInterval(150);
    connect(FIdleTimer, &QTimer::timeout, this, &TXALVarnixForm::UpdateActions);
    FIdleTimer->start();
    UpdateActions();

    // The store and the downloads tell the program's requests apart by its mark.
    SetUpdateUserAgent(ExtendUserAgent(StoreProfile()).toUtf8());
}

TXALVarnixForm::~TXALVarnixForm()
{
    FIdleTimer->stop();
    if (TUpdateV2* window = UpdateV2()) {
        window->ExitCommand();
        // The window must not outlive the reader slots it reads.
        if (UpdateV2()) UpdateV2()->ForceClose();
    }
    // The event loop may have ended already: what waited for it (the update window's deletion,
    // reader changes) is done now, before the model goes.
    TLongWork::ApplyPending();
    StopSearch();
    ModelGuard().SetStopWalkers(nullptr);
    StoreListColumns();
    if (!SaveSettings())
        ShowMessageBox(QStringLiteral("无法保存设置文件“%1”，本次的设置将会丢失。")
                           .arg(QDir::toNativeSeparators(FSettingsFile)),
                       QStringLiteral("KeltoVarnix"), mbOK | mbIconStop);
    FBrowser->CloseAllTabs();
    // The views let go of the model before it is freed.
    TItemBase::SetViewNodeFreedHook(nullptr);
    ClearBookViews();
    FNavigator->setModel(nullptr);
    FSystemCategory.reset();
    FThumbnailView->OnCellPaint = nullptr;
    FThumbnailView->OnHintShow = nullptr;
    FThumbnailView->OnCellText = nullptr;
    // The subclasses let go of the controls before the controls go; the engine last.
    delete FSkins;
    FSkins = nullptr;
    FSkinData->SetActive(false);
}

// ---------------------------------------------------------------------------------------------
// Layout

QWidget* TXALVarnixForm::CreateToolBar()
{
    FToolBar = new QFrame(this);
    FToolBar->setObjectName(QStringLiteral("ToolBar"));
    FToolBar->setFixedHeight(ToolBarHeight);
    auto* row = new QHBoxLayout(FToolBar);
    row->setContentsMargins(8, 0, 8, 0);
    row->setSpacing(6);

    FOpenButton = NewToolButton(FToolBar, QStringLiteral("OpenButton"), QString());
    FOpenButton->setDefaultAction(ActOpenFile);
    row->addWidget(FOpenButton);

    FLibraryButton =
        NewToolButton(FToolBar, QStringLiteral("LibraryButton"), QStringLiteral("图书馆"));
    FLibraryButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    row->addWidget(FLibraryButton);
    auto* libraryArrow = NewToolButton(FToolBar, QStringLiteral("LibraryArrow"), QString());
    libraryArrow->setArrowType(Qt::DownArrow);
    // Buttons that only show an arrow are named for screen readers.
    libraryArrow->setAccessibleName(QStringLiteral("图书馆菜单"));
    row->addWidget(libraryArrow);
    const auto openLibraryMenu = [this] { PopupBelow(LibraryMenu, FLibraryButton, 8); };
    connect(FLibraryButton, &QToolButton::clicked, this, openLibraryMenu);
    connect(libraryArrow, &QToolButton::clicked, this, openLibraryMenu);

    auto* searchBox = new QFrame(FToolBar);
    searchBox->setObjectName(QStringLiteral("SearchBox"));
    auto* searchRow = new QHBoxLayout(searchBox);
    searchRow->setContentsMargins(0, 0, 0, 0);
    searchRow->setSpacing(0);
    FSearchEdit = new QLineEdit(searchBox);
    FSearchEdit->setObjectName(QStringLiteral("SearchEdit"));
    FSearchEdit->setToolTip(QStringLiteral("在此输入要搜索的关键字"));
    FSearchEdit->setFixedWidth(180);
    FSearchEdit->installEventFilter(this);
    FSearchOptionsButton =
        NewToolButton(searchBox, QStringLiteral("SearchOptionsButton"), QString());
    FSearchOptionsButton->setArrowType(Qt::DownArrow);
    FSearchOptionsButton->setToolTip(QStringLiteral("设置搜索选项"));
    FSearchOptionsButton->setAccessibleName(FSearchOptionsButton->toolTip());
    connect(FSearchOptionsButton, &QToolButton::clicked, this,
            [this] { PopupBelow(SearchMenu, FSearchOptionsButton, 8); });
    FSearchButton =
        NewToolButton(searchBox, QStringLiteral("SearchButton"), QStringLiteral("搜索"));
    FSearchButton->setToolTip(QStringLiteral("搜索"));
    connect(FSearchButton, &QToolButton::clicked, this, [this] { Run(ActSearch); });
    searchRow->addWidget(FSearchEdit);
    searchRow->addWidget(FSearchOptionsButton);
    searchRow->addWidget(FSearchButton);
    row->addWidget(searchBox);
    row->addStretch(1);

    FThumbButton = NewToolButton(FToolBar, QStringLiteral("ViewThumbButton"), QString());
    FThumbButton->setDefaultAction(ActViewThumb);
    FListButton = NewToolButton(FToolBar, QStringLiteral("ViewListButton"), QString());
    FListButton->setDefaultAction(ActViewList);
    row->addWidget(FThumbButton);
    row->addWidget(FListButton);

    FUpdateButton = NewToolButton(FToolBar, QStringLiteral("UpdateButton"), QString());
    FUpdateButton->setDefaultAction(ActCheckUpdate);
    FUpdateButton->setFixedSize(103, 27);
    FUpdateArrowButton = NewToolButton(FToolBar, QStringLiteral("UpdateArrowButton"), QString());
    FUpdateArrowButton->setArrowType(Qt::DownArrow);
    FUpdateArrowButton->setFixedSize(16, 27);
    connect(FUpdateArrowButton, &QToolButton::clicked, this,
            [this] { FUpdateMenu->popup(UpdateMenuPoint()); });
    row->addWidget(FUpdateButton);
    row->addWidget(FUpdateArrowButton);

    FBindButton = NewToolButton(FToolBar, QStringLiteral("BindButton"), QString());
    FBindButton->setDefaultAction(ActBindDevice);
    FBindButton->hide();
    row->addWidget(FBindButton);
    return FToolBar;
}

QWidget* TXALVarnixForm::CreateNavigator()
{
    FNavigatorPanel = new QWidget(this);
    FNavigatorPanel->setObjectName(QStringLiteral("NavigatorPanel"));
    FNavigatorPanel->setMinimumWidth(NavigatorMinWidth);
    auto* column = new QVBoxLayout(FNavigatorPanel);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The panel around the tree, which the skin frames.
    FTreeContainer = new QWidget(FNavigatorPanel);
    FTreeContainer->setObjectName(QStringLiteral("TreeContainer"));
    auto* treeColumn = new QVBoxLayout(FTreeContainer);
    treeColumn->setContentsMargins(0, 0, 0, 0);
    FNavigator = new QTreeView(FTreeContainer);
    FNavigator->setObjectName(QStringLiteral("Navigator"));
    FNavigator->setHeaderHidden(true);
    FNavigator->setRootIsDecorated(false);
    // Nodes open by double click, keys or hovering during a drag: no buttons or lines.
    FNavigator->setStyleSheet(
        QStringLiteral("QTreeView::branch { image: none; border-image: none; }"));
    FNavigator->setItemsExpandable(true);
    FNavigator->setExpandsOnDoubleClick(true);
    FNavigator->setEditTriggers(QAbstractItemView::EditKeyPressed);
    FNavigator->setSelectionMode(QAbstractItemView::SingleSelection);
    FNavigator->setSelectionBehavior(QAbstractItemView::SelectRows);
    FNavigator->setDragDropMode(QAbstractItemView::DropOnly);
    FNavigator->setAcceptDrops(true);
    FNavigator->setDropIndicatorShown(true);
    FNavigator->setAutoExpandDelay(700);
    FNavigator->setContextMenuPolicy(Qt::CustomContextMenu);
    FNavigator->installEventFilter(this);
    FNavigator->viewport()->installEventFilter(this);
    treeColumn->addWidget(FNavigator);
    column->addWidget(FTreeContainer, 1);

    FNavigatorBar = new QFrame(FNavigatorPanel);
    FNavigatorBar->setObjectName(QStringLiteral("NavigatorBar"));
    FNavigatorBar->setFixedHeight(NavigatorBarHeight);
    auto* row = new QHBoxLayout(FNavigatorBar);
    row->setContentsMargins(6, 0, 6, 0);
    auto* newFolder = NewToolButton(FNavigatorBar, QStringLiteral("NewFolderButton"), QString());
    newFolder->setDefaultAction(ActNewFolder);
    // A picture only; its caption stays the tooltip and the name screen readers give.
    newFolder->setToolButtonStyle(Qt::ToolButtonIconOnly);
    newFolder->setAccessibleName(ActNewFolder->text());
    FOptionsButton = NewToolButton(FNavigatorBar, QStringLiteral("OptionsButton"), QString());
    FOptionsButton->setDefaultAction(ActOptions);
    row->addWidget(newFolder);
    row->addStretch(1);
    row->addWidget(FOptionsButton);
    column->addWidget(FNavigatorBar);
    return FNavigatorPanel;
}

QWidget* TXALVarnixForm::CreateNotebook()
{
    FNotebook = new QStackedWidget(this);
    FNotebook->setObjectName(QStringLiteral("Notebook"));

    // The store's tabs; their pages read the reader's identifier through one scripting object.
    FWBExternal = new TWBExternal([this](void* buffer) { GetDeviceIdentity(buffer); }, this);
    FBrowser = new TBrowserHost(FWBExternal, FNotebook);
    FBrowser->OnAuthText = [this] { return AuthText(FUserName, FPassword); };
    FBrowser->OnHomeUrl = [this] {
        TCategory* c = CurrentCategory();
        return c && c->GetKind() == ckBrowser ? c->GetFullPath() : QString();
    };
    FBrowserPage = FBrowser;
    FBrowserPage->setObjectName(QStringLiteral("Browser"));
    FNotebook->addWidget(FBrowserPage);

    FListPage = new QWidget(FNotebook);
    FListPage->setObjectName(QStringLiteral("List"));
    auto* listColumn = new QVBoxLayout(FListPage);
    listColumn->setContentsMargins(0, 0, 0, 0);
    listColumn->setSpacing(0);
    FBookList = new QTreeView(FListPage);
    FBookList->setObjectName(QStringLiteral("BookList"));
    FBookList->setRootIsDecorated(false);
    FBookList->setUniformRowHeights(true);
    FBookList->setAlternatingRowColors(false);
    FBookList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FBookList->setSelectionBehavior(QAbstractItemView::SelectRows);
    FBookList->setDragEnabled(true);
    FBookList->setDragDropMode(QAbstractItemView::DragOnly);
    FBookList->setContextMenuPolicy(Qt::CustomContextMenu);
    FBookList->installEventFilter(this);
    listColumn->addWidget(FBookList, 1);
    FThumbnailView = new TrkView(FListPage);
    FThumbnailView->setObjectName(QStringLiteral("ThumbnailView"));
    FThumbnailView->setAccessibleName(QStringLiteral("图书缩略图"));
    FThumbnailView->SetMultipleSelection(true);
    // As the list's: the menu also offers what needs no book, on empty space and empty shelves.
    FThumbnailView->setContextMenuPolicy(Qt::CustomContextMenu);
    listColumn->addWidget(FThumbnailView, 1);
    FListStateBar = new QLabel(QStringLiteral("就绪"), FListPage);
    FListStateBar->setObjectName(QStringLiteral("ListStateBar"));
    FListStateBar->setFixedHeight(ListStateBarHeight);
    FListStateBar->setContentsMargins(6, 0, 6, 0);
    listColumn->addWidget(FListStateBar);
    FNotebook->addWidget(FListPage);

    FTaskPage = new QWidget(FNotebook);
    FTaskPage->setObjectName(QStringLiteral("Task"));
    auto* taskColumn = new QVBoxLayout(FTaskPage);
    taskColumn->setContentsMargins(0, 0, 0, 0);
    FTaskList = new QTreeWidget(FTaskPage);
    FTaskList->setObjectName(QStringLiteral("TaskList"));
    FTaskList->setRootIsDecorated(false);
    FTaskList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FTaskList->setHeaderLabels({QStringLiteral("文件名"), QStringLiteral("源地址"),
                                QStringLiteral("大小"), QStringLiteral("速率"),
                                QStringLiteral("耗时"), QStringLiteral("进度")});
    const int taskWidths[] = {120, 253, 80, 80, 80, 100};
    for (int i = 0; i < 6; ++i)
        FTaskList->setColumnWidth(i, taskWidths[i]);
    FTaskList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FTaskList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { TaskMenu->popup(FTaskList->viewport()->mapToGlobal(p)); });
    taskColumn->addWidget(FTaskList);
    FNotebook->addWidget(FTaskPage);
    return FNotebook;
}

void TXALVarnixForm::CreateLayout()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(CreateToolBar());

    FSplitter = new QSplitter(Qt::Horizontal, client);
    FSplitter->setObjectName(QStringLiteral("Splitter"));
    FSplitter->setChildrenCollapsible(false);
    FSplitter->addWidget(CreateNavigator());
    FSplitter->addWidget(CreateNotebook());
    FSplitter->setStretchFactor(0, 0);
    FSplitter->setStretchFactor(1, 1);
    FSplitter->setSizes({NavigatorWidth, DesignWidth - NavigatorWidth});
    column->addWidget(FSplitter, 1);
    setCentralWidget(client);
    ShowSearchPlaceholder(true);
}

void TXALVarnixForm::PopupBelow(QMenu* menu, QWidget* anchor, int dx)
{
    UpdateActions();
    menu->popup(anchor->mapToGlobal(QPoint(dx, anchor->height())));
}

void TXALVarnixForm::AutoUpdateTimerTimer()
{
    FAutoUpdateTimer->stop();
    if (UpdateV2()) return;
    CheckUpdate();
    // The check runs unseen; the window shows itself when there is something to choose.
    ProcessSettings().AutoMode = true;
    if (TUpdateV2* window = UpdateV2()) window->hide();
}

void TXALVarnixForm::CheckUpdate()
{
    ProcessSettings().AutoMode = false;
    TUpdateV2* window = UpdateV2();
    if (!window)
        window = new TUpdateV2(FSystemCategory.get(),
                               [this](TDeviceIdentity* buffer) { GetDeviceIdentity(buffer); });
    window->show();
    window->UpdateButton->click();
}

QPoint TXALVarnixForm::UpdateMenuPoint() const
{
    QPoint point = FUpdateButton->mapTo(this, QPoint(0, FUpdateButton->height()));
    const QScreen* screen = this->screen();
    if (screen && screen->geometry().width() < point.x() + 144)
        point.rx() += FUpdateArrowButton->width() - 84;
    return mapToGlobal(point);
}

// ---------------------------------------------------------------------------------------------
// Settings

void TXALVarnixForm::LoadSettings()
{
    const TIniFile ini(FSettingsFile);

    if (ini.SectionExists(SWindow)) {
        // Every value is brought into what a screen can hold before any arithmetic on it.
        const QSize largest = LargestWindow();
        const auto read = [&](const char* key, int fallback, int low, int high) {
            return std::clamp(ini.ReadInteger(SWindow, QLatin1String(key), fallback), low,
                              std::max(low, high));
        };
        const int top = read("Top", 100, 0, largest.height());
        const int left = read("Left", 100, 0, largest.width());
        const int w = read("Width", width(), minimumWidth(), largest.width());
        const int h = read("Height", height(), minimumHeight(), largest.height());
        QRect bounds(left, top, w, h);
        // A window placed where no screen is any more (a monitor was removed) would be out of
        // reach; it goes back to the default place.
        if (!VisibleOnSomeScreen(bounds)) bounds.moveTopLeft(QPoint(100, 100));
        setGeometry(bounds);

        const QString state =
            QStringLiteral("ws") +
            ini.ReadString(SWindow, QStringLiteral("State"), QStringLiteral("Normal"));
        for (const TStateName& s : StateNames)
            if (state.compare(QStringLiteral("ws") + QLatin1String(s.Name), Qt::CaseInsensitive) ==
                0)
                setWindowState(s.State);
    }

    FSavePassword = ini.ReadBool(SLogin, QStringLiteral("SavePassword"), false);
    FUserName = ini.ReadString(SLogin, QStringLiteral("UserName"), QString());
    FPassword = ini.ReadString(SLogin, QStringLiteral("Password"), QString());

    const bool thumb =
        ini.ReadBool(SControls, QStringLiteral("ShowThumbnail"), ActViewThumb->isChecked());
    (thumb ? ActViewThumb : ActViewList)->setChecked(true);

    const QString testweb = ini.ReadString(SUpdate, QStringLiteral("Testweb"), QString());
    if (!testweb.isEmpty()) ProcessSettings().BindingTemplate = testweb;

    const QString scrambled = ini.ReadString(SUpdate, QStringLiteral("UpdateServer"), QString());
    const QString server = scrambled.isEmpty()
                               ? QString::fromLatin1(BuiltInUpdateServer)
                               : Cp936::ToUnicode(UnscrambleServerAddress(scrambled.toLatin1()));
    if (!server.isEmpty()) ProcessSettings().UpdateServer = server;

    const bool autoRun = ini.ReadString(SUpdate, QStringLiteral("AutoRunUpdate"),
                                        QStringLiteral("0")) == QLatin1String("1");
    ProcessSettings().AutoMode = autoRun;
    ActAutoRunUpdate->setChecked(autoRun);
    if (ActAutoRunUpdate->isChecked()) FAutoUpdateTimer->start();

    // Positions are applied one column after the other the way a header moves its sections,
    // so whatever the file holds, the result is an order of all seventeen columns.
    const int widest = LargestWindow().width();
    std::vector<int> order(BookListColumnCount); // display position -> column
    for (int i = 0; i < BookListColumnCount; ++i)
        order[FListColumns[i].Position] = i;
    for (int i = 0; i < BookListColumnCount; ++i) {
        TListColumn& c = FListColumns[i];
        const QString n = QString::number(i + 1);
        const int current = int(std::find(order.begin(), order.end(), i) - order.begin());
        const int position = ini.ReadInteger(SListHeader, QStringLiteral("Position") + n, current);
        if (position >= 0 && position < BookListColumnCount && position != current) {
            order.erase(order.begin() + current);
            order.insert(order.begin() + position, i);
        }
        const int width = ini.ReadInteger(SListHeader, QStringLiteral("Width") + n, c.Width);
        if (width >= 0) c.Width = std::min(width, widest);
        c.Visible = ini.ReadBool(SListHeader, QStringLiteral("Visible") + n, c.Visible);
    }
    for (int p = 0; p < BookListColumnCount; ++p)
        FListColumns[order[p]].Position = p;
}

bool TXALVarnixForm::SaveSettings()
{
    TIniFile ini(FSettingsFile);
    ini.WriteString(SWindow, QStringLiteral("State"), StateName(windowState()));
    // The normal bounds, also for a maximised or minimised window, so that the next start
    // restores to the size the user gave it.
    QRect bounds = geometry();
    if (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) {
        const QRect normal = normalGeometry();
        if (normal.isValid()) bounds = normal;
    }
    ini.WriteInteger(SWindow, QStringLiteral("Height"), bounds.height());
    ini.WriteInteger(SWindow, QStringLiteral("Width"), bounds.width());
    ini.WriteInteger(SWindow, QStringLiteral("Left"), bounds.left());
    ini.WriteInteger(SWindow, QStringLiteral("Top"), bounds.top());

    ini.WriteBool(SLogin, QStringLiteral("SavePassword"), FSavePassword);
    ini.WriteString(SLogin, QStringLiteral("UserName"), FUserName);
    ini.WriteString(SLogin, QStringLiteral("Password"), FSavePassword ? FPassword : QString());

    ini.WriteBool(SControls, QStringLiteral("ShowThumbnail"), ActViewThumb->isChecked());
    ini.WriteString(SUpdate, QStringLiteral("AutoRunUpdate"),
                    ActAutoRunUpdate->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));

    for (int i = 0; i < BookListColumnCount; ++i) {
        const QString n = QString::number(i + 1);
        ini.WriteInteger(SListHeader, QStringLiteral("Position") + n, FListColumns[i].Position);
        ini.WriteInteger(SListHeader, QStringLiteral("Width") + n, FListColumns[i].Width);
        ini.WriteBool(SListHeader, QStringLiteral("Visible") + n, FListColumns[i].Visible);
    }
    return ini.UpdateFile();
}

void TXALVarnixForm::ApplyListColumns()
{
    QHeaderView* header = FBookList->header();
    for (int i = 0; i < BookListColumnCount; ++i)
        header->resizeSection(i, FListColumns[i].Width);
    for (int p = 0; p < BookListColumnCount; ++p) {
        const int column = int(std::find_if(FListColumns.begin(), FListColumns.end(),
                                            [p](const TListColumn& c) { return c.Position == p; }) -
                               FListColumns.begin());
        header->moveSection(header->visualIndex(column), p);
    }
    for (int i = 0; i < BookListColumnCount; ++i)
        header->setSectionHidden(i, !FListColumns[i].Visible);
}

void TXALVarnixForm::StoreListColumns()
{
    QHeaderView* header = FBookList->header();
    for (int i = 0; i < BookListColumnCount; ++i) {
        FListColumns[i].Visible = !header->isSectionHidden(i);
        if (FListColumns[i].Visible) FListColumns[i].Width = header->sectionSize(i);
        FListColumns[i].Position = header->visualIndex(i);
    }
}

// ---------------------------------------------------------------------------------------------
// Messages and life cycle

void TXALVarnixForm::PostCommand(int code, quintptr argument)
{
    QCoreApplication::postEvent(this,
                                new TCommandEvent(TCommandEvent::CommandType(), code, argument));
}

bool TXALVarnixForm::event(QEvent* event)
{
    if (event->type() == TCommandEvent::CommandType() ||
        event->type() == TCommandEvent::SearchHitType()) {
        auto* command = static_cast<TCommandEvent*>(event);
        HandleCommand(command->Code, command->Argument);
        return true;
    }
    return QMainWindow::event(event);
}

void TXALVarnixForm::HandleCommand(int code, quintptr argument)
{
    switch (code) {
    case cmExpandTopLevel: {
        for (int row = 0; row < FNavigatorModel->rowCount(); ++row)
            FNavigator->expand(FNavigatorModel->index(row, 0));
        if (FNavigatorModel->rowCount() > 0) SelectCategory(FSystemCategory->Child(0));
        PostCommand(cmFocusNavigator);
        break;
    }
    case cmShowCategory: {
        // Only a category that is still the focused one is shown (it may be gone by now).
        TCategory* category = reinterpret_cast<TCategory*>(argument);
        if (category && category == CurrentCategory()) ShowCategory(category);
        break;
    }
    case cmFocusNavigator:
        if (FNavigator->isVisible() && FNavigator->isEnabled()) FNavigator->setFocus();
        break;
    case cmSearchHit:
        AddSearchHit(reinterpret_cast<TFileItem*>(argument));
        break;
    case cmSearchFinished:
        SearchFinished();
        break;
    case cmShown:
        PostCommand(cmExpandTopLevel);
        break;
    case cmArmUpdateTimer:
        FAutoUpdateTimer->start();
        break;
    case cmExecuteAction:
        if (auto* action = reinterpret_cast<QAction*>(argument)) Run(action);
        break;
    default:
        break;
    }
}

void TXALVarnixForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) PostCommand(cmShown);
}

void TXALVarnixForm::closeEvent(QCloseEvent* event)
{
    if (TUpdateV2* window = UpdateV2()) {
        if (window->ThreadState == 6) {
            ShowMessageBox(QStringLiteral("正在将升级包写入阅读器中，请耐心等待。\r\n"
                                          "并且请保持阅读器与电脑的连接。\r\n"
                                          "请点击 确认 按钮继续升级"),
                           QStringLiteral("确认"), mbOK | mbIconExclamation);
            event->ignore();
            return;
        }
        window->UpdateCommand(TUpdateV2::cmExitUpdate);
        if (UpdateV2()) {
            event->ignore();
            return;
        }
    }
    if (SearchRunning() &&
        ShowMessageBox(QStringLiteral("正在搜索文件，确定要停止搜索吗？"), QStringLiteral("确认"),
                       mbYesNo | mbIconQuestion) != mrYes) {
        event->ignore();
        return;
    }
    StopSearch();
    event->accept();
}

void TXALVarnixForm::GetDeviceIdentity(void* buffer) const
{
    if (!buffer) return;
    if (!FSystemCategory) {
        std::memset(buffer, 0, TReaderCategory::IdentitySize);
        return;
    }
    std::memcpy(buffer, FSystemCategory->ReaderSlot(0)->Identity(), TReaderCategory::IdentitySize);
}

void TXALVarnixForm::RescanReaders()
{
    // An outside request: it waits for long work to end, as every reader change does.
    TLongWork::NoteChange();
    TLongWork::Defer(this, [this] { FSystemCategory->RescanReaders(); });
}

void TXALVarnixForm::UpdateStoreOrigins()
{
    // The store's own sites: its built-in home page, the home page and pages "home.dll" lists.
    TCategory* store = FSystemCategory->Child(0);
    store->EnsureLoaded();
    QStringList urls{TSystemCategory::StoreHomeUrl(), store->GetFullPath()};
    for (int i = 0; i < store->CategoryCount(); ++i)
        urls << store->Category(i)->GetFullPath();
    FWBExternal->SetStoreOrigins(urls);
}

void TXALVarnixForm::ReaderChanged(TReaderCategory* reader)
{
    // Open store pages learn the new identifier at once.
    FWBExternal->Refresh();
    // Reader changes reach the model only when no long work is on the stack (LongWork.h); one
    // that arrives otherwise (a test, a tool) waits for it like any other.
    if (TLongWork::Busy()) {
        TLongWork::Defer(this, [this, reader] { ReaderChanged(reader); });
        return;
    }
    TCursorControl wait;
    if (reader->DriveLetter()) PostCommand(cmArmUpdateTimer);
    // Focus the reader's own node when the focus was somewhere in its branch.
    for (TCategory* c = CurrentCategory(); c; c = c->Parent())
        if (c == reader) {
            if (CurrentCategory() != reader) SelectCategory(reader);
            break;
        }
    ReloadCategory(reader);
}
