#pragma once

#include <QMainWindow>
#include <QString>

#include <array>

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QLineEdit;
class QSplitter;
class QStackedWidget;
class QToolButton;
class QTreeView;
class QTreeWidget;
class QTimer;
class QMenu;

// One column of the book list as the settings remember it.
struct TListColumn
{
    QString Caption;
    int Width = 120;
    bool Visible = true;
    int Position = 0; // display position, 0-based
};

inline constexpr int BookListColumnCount = 17;

// The main window: the toolbar, the navigator with its bar, and the notebook whose pages show
// the store, a bookshelf's books or the download tasks. It owns everything it shows and keeps
// the user's settings: they are read when it is created and written when it is destroyed.
class TXALVarnixForm : public QMainWindow
{
    Q_OBJECT
public:
    // The settings file defaults to the one beside the program.
    explicit TXALVarnixForm(const QString& settingsFile = QString(), QWidget* parent = nullptr);
    ~TXALVarnixForm() override;

    void LoadSettings();
    // Returns false when the file could not be written; the old file is then left as it was.
    bool SaveSettings();

    const QString& SettingsFile() const { return FSettingsFile; }
    const QString& UserName() const { return FUserName; }
    const QString& Password() const { return FPassword; }
    bool SavePassword() const { return FSavePassword; }
    const std::array<TListColumn, BookListColumnCount>& ListColumns() const { return FListColumns; }
    static const std::array<TListColumn, BookListColumnCount>& DesignListColumns();

    QAction* ActViewThumb = nullptr;
    QAction* ActViewList = nullptr;
    QAction* ActAutoRunUpdate = nullptr; // "启动软件时自动检查更新"
    QAction* ActCheckUpdate = nullptr;
    QAction* ActBindDevice = nullptr;
    QAction* ActOpenFile = nullptr;
    QAction* ActNewFolder = nullptr;
    QAction* ActOptions = nullptr;

    QTimer* AutoUpdateTimer() const { return FAutoUpdateTimer; }
    QStackedWidget* Notebook() const { return FNotebook; }

    // The window's design (client) size and its smallest size.
    static constexpr int DesignWidth = 831;
    static constexpr int DesignHeight = 404;

private:
    void CreateActions();
    void CreateLayout();
    QWidget* CreateToolBar();
    QWidget* CreateNavigator();
    QWidget* CreateNotebook();
    void AutoUpdateTimerTimer();

    QString FSettingsFile;
    QString FUserName;
    QString FPassword;
    bool FSavePassword = false;
    std::array<TListColumn, BookListColumnCount> FListColumns;

    QTimer* FAutoUpdateTimer = nullptr;
    QActionGroup* FViewGroup = nullptr;
    QMenu* FUpdateMenu = nullptr;

    QFrame* FToolBar = nullptr;
    QToolButton* FOpenButton = nullptr;
    QToolButton* FLibraryButton = nullptr;
    QLineEdit* FSearchEdit = nullptr;
    QToolButton* FSearchButton = nullptr;
    QToolButton* FSearchOptionsButton = nullptr;
    QToolButton* FThumbButton = nullptr;
    QToolButton* FListButton = nullptr;
    QToolButton* FUpdateButton = nullptr;
    QToolButton* FUpdateArrowButton = nullptr;
    QToolButton* FBindButton = nullptr;

    QSplitter* FSplitter = nullptr;
    QWidget* FNavigatorPanel = nullptr;
    QTreeView* FNavigator = nullptr;
    QFrame* FNavigatorBar = nullptr;

    QStackedWidget* FNotebook = nullptr;
    QWidget* FBrowserPage = nullptr;
    QWidget* FListPage = nullptr;
    QWidget* FTaskPage = nullptr;
    QTreeView* FBookList = nullptr;
    QLabel* FListStateBar = nullptr;
    QTreeWidget* FTaskList = nullptr;
};
