#include "uMainForm.h"

#include "Codec936.h"
#include "Folders.h"
#include "Globals.h"
#include "IniFile.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
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

bool VisibleOnSomeScreen(const QRect& rect)
{
    const auto screens = QGuiApplication::screens();
    if (screens.isEmpty()) return true;
    return std::any_of(screens.begin(), screens.end(),
                       [&](QScreen* s) { return s->availableGeometry().intersects(rect); });
}

} // namespace

const std::array<TListColumn, BookListColumnCount>& TXALVarnixForm::DesignListColumns()
{
    static const std::array<TListColumn, BookListColumnCount> columns = [] {
        struct TDesign
        {
            const char* Caption;
            int Width;
            bool Visible;
        };
        static const TDesign design[BookListColumnCount] = {
            {"文件名", 120, true},  {"标题", 120, true},      {"作者", 120, true},
            {"类别", 120, false},   {"主题", 120, false},     {"出版商", 120, true},
            {"加密", 40, true},     {"创建日期", 90, true},   {"修改日期", 90, false},
            {"大小", 60, true},     {"页数", 60, true},       {"词数", 60, false},
            {"字数", 60, false},    {"修订版本号", 120, false}, {"关键字", 150, false},
            {"注释", 150, true},    {"路径", 200, true},
        };
        std::array<TListColumn, BookListColumnCount> result;
        for (int i = 0; i < BookListColumnCount; ++i)
            result[i] = {QString::fromUtf8(design[i].Caption), design[i].Width, design[i].Visible, i};
        return result;
    }();
    return columns;
}

TXALVarnixForm::TXALVarnixForm(const QString& settingsFile, QWidget* parent)
    : QMainWindow(parent),
      FSettingsFile(settingsFile.isEmpty() ? Folders::SettingsFileName() : settingsFile),
      FListColumns(DesignListColumns())
{
    setObjectName(QStringLiteral("XALVarnixForm"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("KeltoVarnix"));
    setWindowIcon(QApplication::windowIcon());

    FAutoUpdateTimer = new QTimer(this);
    FAutoUpdateTimer->setSingleShot(true);
    FAutoUpdateTimer->setInterval(AutoUpdateDelay);
    connect(FAutoUpdateTimer, &QTimer::timeout, this, &TXALVarnixForm::AutoUpdateTimerTimer);

    CreateActions();
    CreateLayout();
    resize(DesignWidth, DesignHeight);
    setMinimumSize(700, 300);

    setWindowTitle(QStringLiteral("KeltoVarnix"));
    LoadSettings();
}

TXALVarnixForm::~TXALVarnixForm()
{
    SaveSettings();
}

void TXALVarnixForm::CreateActions()
{
    ActViewThumb = new QAction(QStringLiteral("显示缩略图"), this);
    ActViewList = new QAction(QStringLiteral("显示列表"), this);
    FViewGroup = new QActionGroup(this);
    FViewGroup->setExclusive(true);
    for (QAction* a : {ActViewThumb, ActViewList}) {
        a->setCheckable(true);
        FViewGroup->addAction(a);
    }
    ActViewThumb->setChecked(true);

    ActAutoRunUpdate = new QAction(QStringLiteral("启动软件时自动检查更新"), this);
    ActAutoRunUpdate->setCheckable(true);
    // Not wired until the update window exists.
    ActCheckUpdate = new QAction(QStringLiteral("检查更新"), this);
    ActCheckUpdate->setEnabled(false);
    ActBindDevice = new QAction(QStringLiteral("绑定设备"), this);
    ActBindDevice->setEnabled(false);
    ActOpenFile = new QAction(QStringLiteral("阅读图书"), this);
    ActOpenFile->setEnabled(false);
    ActNewFolder = new QAction(QStringLiteral("新建书架"), this);
    ActNewFolder->setEnabled(false);
    ActOptions = new QAction(QStringLiteral("选项"), this);
    ActOptions->setToolTip(QStringLiteral("显示更多选项"));

    FUpdateMenu = new QMenu(this);
    FUpdateMenu->addAction(ActAutoRunUpdate);
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
}

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

    FLibraryButton = NewToolButton(FToolBar, QStringLiteral("LibraryButton"), QStringLiteral("图书馆"));
    FLibraryButton->setArrowType(Qt::NoArrow);
    FLibraryButton->setPopupMode(QToolButton::InstantPopup);
    row->addWidget(FLibraryButton);

    auto* searchBox = new QFrame(FToolBar);
    searchBox->setObjectName(QStringLiteral("SearchBox"));
    auto* searchRow = new QHBoxLayout(searchBox);
    searchRow->setContentsMargins(0, 0, 0, 0);
    searchRow->setSpacing(0);
    FSearchEdit = new QLineEdit(searchBox);
    FSearchEdit->setObjectName(QStringLiteral("SearchEdit"));
    FSearchEdit->setToolTip(QStringLiteral("在此输入要搜索的关键字"));
    FSearchEdit->setPlaceholderText(QStringLiteral("搜索图书"));
    FSearchEdit->setFixedWidth(180);
    FSearchButton = NewToolButton(searchBox, QStringLiteral("SearchButton"), QStringLiteral("搜索"));
    FSearchButton->setToolTip(QStringLiteral("搜索"));
    FSearchOptionsButton = NewToolButton(searchBox, QStringLiteral("SearchOptionsButton"), QString());
    FSearchOptionsButton->setArrowType(Qt::DownArrow);
    FSearchOptionsButton->setToolTip(QStringLiteral("设置搜索选项"));
    searchRow->addWidget(FSearchEdit);
    searchRow->addWidget(FSearchOptionsButton);
    searchRow->addWidget(FSearchButton);
    row->addWidget(searchBox);
    row->addStretch(1);

    FThumbButton = NewToolButton(FToolBar, QStringLiteral("ThumbButton"), QString());
    FThumbButton->setDefaultAction(ActViewThumb);
    FListButton = NewToolButton(FToolBar, QStringLiteral("ListButton"), QString());
    FListButton->setDefaultAction(ActViewList);
    row->addWidget(FThumbButton);
    row->addWidget(FListButton);

    FUpdateButton = NewToolButton(FToolBar, QStringLiteral("UpdateButton"), QString());
    FUpdateButton->setDefaultAction(ActCheckUpdate);
    FUpdateButton->setFixedSize(103, 27);
    FUpdateArrowButton = NewToolButton(FToolBar, QStringLiteral("UpdateArrowButton"), QString());
    FUpdateArrowButton->setArrowType(Qt::DownArrow);
    FUpdateArrowButton->setFixedSize(16, 27);
    connect(FUpdateArrowButton, &QToolButton::clicked, this, [this] {
        FUpdateMenu->popup(FUpdateButton->mapToGlobal(QPoint(0, FUpdateButton->height())));
    });
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

    FNavigator = new QTreeView(FNavigatorPanel);
    FNavigator->setObjectName(QStringLiteral("Navigator"));
    FNavigator->setHeaderHidden(true);
    FNavigator->setRootIsDecorated(false);
    column->addWidget(FNavigator, 1);

    FNavigatorBar = new QFrame(FNavigatorPanel);
    FNavigatorBar->setObjectName(QStringLiteral("NavigatorBar"));
    FNavigatorBar->setFixedHeight(NavigatorBarHeight);
    auto* row = new QHBoxLayout(FNavigatorBar);
    row->setContentsMargins(6, 0, 6, 0);
    auto* newFolder = NewToolButton(FNavigatorBar, QStringLiteral("NewFolderButton"), QString());
    newFolder->setDefaultAction(ActNewFolder);
    auto* options = NewToolButton(FNavigatorBar, QStringLiteral("OptionsButton"), QString());
    options->setDefaultAction(ActOptions);
    row->addWidget(newFolder);
    row->addStretch(1);
    row->addWidget(options);
    column->addWidget(FNavigatorBar);
    return FNavigatorPanel;
}

QWidget* TXALVarnixForm::CreateNotebook()
{
    FNotebook = new QStackedWidget(this);
    FNotebook->setObjectName(QStringLiteral("Notebook"));

    FBrowserPage = new QWidget(FNotebook);
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
    listColumn->addWidget(FBookList, 1);
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
    FTaskList->setHeaderLabels({QStringLiteral("文件名"), QStringLiteral("源地址"), QStringLiteral("大小"),
                                QStringLiteral("速率"), QStringLiteral("耗时"), QStringLiteral("进度")});
    const int taskWidths[] = {120, 253, 80, 80, 80, 100};
    for (int i = 0; i < 6; ++i) FTaskList->setColumnWidth(i, taskWidths[i]);
    taskColumn->addWidget(FTaskList);
    FNotebook->addWidget(FTaskPage);
    return FNotebook;
}

void TXALVarnixForm::AutoUpdateTimerTimer()
{
    FAutoUpdateTimer->stop();
    // The update window runs the automatic check once it exists.
}

void TXALVarnixForm::LoadSettings()
{
    const TIniFile ini(FSettingsFile);

    if (ini.SectionExists(SWindow)) {
        const int top = std::max(0, ini.ReadInteger(SWindow, QStringLiteral("Top"), 100));
        const int left = std::max(0, ini.ReadInteger(SWindow, QStringLiteral("Left"), 100));
        const int w = ini.ReadInteger(SWindow, QStringLiteral("Width"), width());
        const int h = ini.ReadInteger(SWindow, QStringLiteral("Height"), height());
        QRect bounds(left, top, std::max(w, minimumWidth()), std::max(h, minimumHeight()));
        // A window placed where no screen is any more (a monitor was removed) would be out of
        // reach; it goes back to the default place.
        if (!VisibleOnSomeScreen(bounds)) bounds.moveTopLeft(QPoint(100, 100));
        setGeometry(bounds);

        const QString state = QStringLiteral("ws") + ini.ReadString(SWindow, QStringLiteral("State"),
                                                                     QStringLiteral("Normal"));
        for (const TStateName& s : StateNames)
            if (state.compare(QStringLiteral("ws") + QLatin1String(s.Name), Qt::CaseInsensitive) == 0)
                setWindowState(s.State);
    }

    FSavePassword = ini.ReadBool(SLogin, QStringLiteral("SavePassword"), false);
    FUserName = ini.ReadString(SLogin, QStringLiteral("UserName"), QString());
    FPassword = ini.ReadString(SLogin, QStringLiteral("Password"), QString());

    const bool thumb = ini.ReadBool(SControls, QStringLiteral("ShowThumbnail"), ActViewThumb->isChecked());
    (thumb ? ActViewThumb : ActViewList)->setChecked(true);

    const QString testweb = ini.ReadString(SUpdate, QStringLiteral("Testweb"), QString());
    if (!testweb.isEmpty()) ProcessSettings().BindingTemplate = testweb;

    const QString scrambled = ini.ReadString(SUpdate, QStringLiteral("UpdateServer"), QString());
    const QString server = scrambled.isEmpty()
                               ? QString::fromLatin1(BuiltInUpdateServer)
                               : Cp936::ToUnicode(UnscrambleServerAddress(scrambled.toLatin1()));
    if (!server.isEmpty()) ProcessSettings().UpdateServer = server;

    const bool autoRun = ini.ReadString(SUpdate, QStringLiteral("AutoRunUpdate"), QStringLiteral("0")) ==
                         QLatin1String("1");
    ProcessSettings().AutoMode = autoRun;
    ActAutoRunUpdate->setChecked(autoRun);
    if (ActAutoRunUpdate->isChecked()) FAutoUpdateTimer->start();

    // Positions are applied one column after the other the way a header moves its sections,
    // so whatever the file holds, the result is an order of all seventeen columns.
    std::vector<int> order(BookListColumnCount); // display position -> column
    for (int i = 0; i < BookListColumnCount; ++i) order[FListColumns[i].Position] = i;
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
        if (width >= 0) c.Width = width;
        c.Visible = ini.ReadBool(SListHeader, QStringLiteral("Visible") + n, c.Visible);
    }
    for (int p = 0; p < BookListColumnCount; ++p) FListColumns[order[p]].Position = p;
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
