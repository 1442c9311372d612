#pragma once

#include <QEvent>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class TBookReader;
class TCoverCache;
class QAction;
class QActionGroup;
class QDropEvent;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QModelIndex;
class QSplitter;
class QStackedWidget;
class QTimer;
class QToolButton;
class QTreeView;
class QTreeWidget;
class TBookListModel;
class TBrowserHost;
class TWBExternal;
class TCategory;
class TFileItem;
class TItemBase;
class TNavigatorModel;
class TReaderCategory;
class TSystemCategory;
class TThumbnailPainter;
class TrkView;
class TSkinData;
class TSkinManager;
class TToolBtn;

// One column of the book list as the settings remember it.
struct TListColumn
{
    QString Caption;
    int Width = 120;
    bool Visible = true;
    int Position = 0; // display position, 0-based
};

inline constexpr int BookListColumnCount = 17;

// A deferred step of the main window: the code and its argument, posted to the window itself.
class TCommandEvent : public QEvent
{
public:
    static QEvent::Type CommandType();
    static QEvent::Type SearchHitType();
    TCommandEvent(QEvent::Type type, int code, quintptr argument)
        : QEvent(type), Code(code), Argument(argument)
    {
    }
    int Code;
    quintptr Argument;
};

// The main window: the toolbar, the navigator with its bar, and the notebook whose pages show
// the store, a bookshelf's books or the download tasks. It owns the library model and
// everything it shows, runs the user's commands and the search, and keeps the user's settings:
// they are read when it is created and written when it is destroyed.
class TXALVarnixForm : public QMainWindow
{
    Q_OBJECT
public:
    // Codes of PostCommand.
    enum : int
    {
        cmExpandTopLevel = 1,
        cmShowCategory = 2,
        cmFocusNavigator = 4,
        cmSearchHit = 5,
        cmSearchFinished = 6,
        cmShown = 8,
        cmArmUpdateTimer = 11,
        cmExecuteAction = -1,
    };

    // The settings file defaults to the one beside the program. The window takes its look from
    // the skin archive `skinArchive` (the program's "theme.zip" in main()); without one it keeps
    // the plain look, as it does when the archive cannot be read.
    explicit TXALVarnixForm(const QString& settingsFile = QString(), QWidget* parent = nullptr,
                            const QString& skinArchive = QString());
    ~TXALVarnixForm() override;

    void LoadSettings();
    // Returns false when the file could not be written; the old file is then left as it was.
    bool SaveSettings();

    void PostCommand(int code, quintptr argument = 0);
    // Copies the identity of the reader in slot one into an 88-byte buffer (zeros without a
    // reader); a null buffer is ignored.
    void GetDeviceIdentity(void* buffer) const;
    void RescanReaders();

    void ShowCategory(TCategory* category);
    void ReloadCategory(TCategory* category);
    void ReloadBooks(TCategory* category);
    // Focuses and selects the navigator node of a category.
    void SelectCategory(TCategory* category);
    void SelectBookRow(int row);

    TSystemCategory* SystemCategory() const { return FSystemCategory.get(); }
    TCategory* CurrentCategory() const;
    TFileItem* CurrentBook() const;
    QList<int> SelectedRows() const;
    TBookListModel* BookListModel() const { return FBookListModel; }
    TCoverCache* CoverCache() const { return FCoverCache; }
    TBookReader* BookReader() const { return FBookReader; }
    // Covers kept in memory: a few screens of the largest grid.
    static constexpr int CoverCacheSize = 400;
    TNavigatorModel* NavigatorModel() const { return FNavigatorModel; }
    QTreeView* Navigator() const { return FNavigator; }
    QTreeView* BookList() const { return FBookList; }
    TrkView* ThumbnailView() const { return FThumbnailView; }
    QLineEdit* SearchEdit() const { return FSearchEdit; }
    QLabel* ListStateBar() const { return FListStateBar; }
    // The window's skin; present even when no skin was loaded.
    TSkinManager* Skins() const { return FSkins; }
    TSkinData* SkinData() const { return FSkinData; }
    bool Skinned() const { return FSkinned; }

    // The enabling pass over every action; runs when the application is idle and before an
    // action runs.
    void UpdateActions();

    // Commands.
    void NewFolder();
    void DeleteFolder();
    void RenameFolderCommand();
    void RefreshCommand();
    void RefreshBooksCommand();
    void AddBooksCommand();
    void AddBooks(const QStringList& files);
    void DeleteBooks();
    void OpenBook();
    void ShowBookProperties();
    void SelectAllBooks();
    void Help();
    void About();
    void BindDevice();
    void SearchCommand();
    // "检查更新": opens the update window (once) and starts a check in it.
    void CheckUpdate();
    // Where the update options menu opens, in screen coordinates.
    QPoint UpdateMenuPoint() const;
    void StartSearch();
    void StopSearch();
    bool SearchRunning() const { return FSearchThread != nullptr; }
    int SearchHitCount() const { return FHitCount; }
    // Renames a shelf to `text` (the in-place editing); false keeps the old name.
    bool RenameCategory(TCategory* category, const QString& text);
    // What a drop of the selected books on `target` would do: 0 refused, else Qt::CopyAction
    // or Qt::MoveAction.
    int DropEffect(TCategory* target) const;
    // The same question for a drag over the navigator: books of this window's book views, on a
    // node itself (not the seam between two); `target` gets that node's category. The drag's
    // feedback and the drop both ask here, so what the pointer shows is what the drop does.
    int NavigatorDropEffect(const QDropEvent* event, TCategory** target = nullptr) const;
    // Drops the selected books on `target` after the question; false when nothing happened.
    bool DropBooks(TCategory* target, int effect);

    // Tests choose the files of the open dialog here; the program shows the dialog.
    std::function<QStringList(const QString& filter)> OnChooseFiles;
    // The open dialog's filter (extended once with the supported files).
    const QString& OpenFilter() const { return FOpenFilter; }

    const QString& SettingsFile() const { return FSettingsFile; }
    const QString& UserName() const { return FUserName; }
    const QString& Password() const { return FPassword; }
    bool SavePassword() const { return FSavePassword; }
    const std::array<TListColumn, BookListColumnCount>& ListColumns() const { return FListColumns; }
    static const std::array<TListColumn, BookListColumnCount>& DesignListColumns();
    QTimer* AutoUpdateTimer() const { return FAutoUpdateTimer; }
    QStackedWidget* Notebook() const { return FNotebook; }
    TBrowserHost* Browser() const { return FBrowser; }
    TWBExternal* WBExternal() const { return FWBExternal; }

    // Category actions.
    QAction* ActNewFolder = nullptr;
    QAction* ActDelFolder = nullptr;
    QAction* ActRenameFolder = nullptr;
    QAction* ActRefresh = nullptr;
    QAction* ActExpand = nullptr;
    QAction* ActCollapse = nullptr;
    // Tools.
    QAction* ActOptions = nullptr;
    QAction* ActShowNavigator = nullptr;
    QAction* ActViewThumb = nullptr;
    QAction* ActViewList = nullptr;
    // File.
    QAction* ActAddFileEx = nullptr;
    QAction* ActAddFile = nullptr;
    QAction* ActDelFile = nullptr;
    QAction* ActOpenFile = nullptr;
    QAction* ActFileInfo = nullptr;
    QAction* ActFileRefresh = nullptr;
    QAction* ActSelectAllFiles = nullptr;
    // Help.
    QAction* ActHelp = nullptr;
    QAction* ActAbout = nullptr;
    // Search.
    QAction* ActSearch = nullptr;
    QAction* ActFindAll = nullptr;
    std::array<QAction*, 8>
        ActFind{}; // file name, title, subject, category, author, publisher, keywords, comment
    // Task.
    QAction* ActTaskDel = nullptr;
    QAction* ActTaskDelAll = nullptr;
    // Updates and binding (their windows come later).
    QAction* ActAutoRunUpdate = nullptr; // "启动软件时自动检查更新"
    QAction* ActCheckUpdate = nullptr;
    QAction* ActBindDevice = nullptr;

    QMenu* LibraryMenu = nullptr;
    QMenu* NavigatorMenu = nullptr;
    QMenu* BookMenu = nullptr;
    QMenu* SearchMenu = nullptr;
    QMenu* TaskMenu = nullptr;

    // The window's design (client) size and its smallest size.
    static constexpr int DesignWidth = 831;
    static constexpr int DesignHeight = 404;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateLayout();
    QWidget* CreateToolBar();
    QWidget* CreateNavigator();
    QWidget* CreateNotebook();
    void CreateViews();
    void SetUpSkin(const QString& archive);
    void AutoUpdateTimerTimer();
    void HandleCommand(int code, quintptr argument);
    void UpdateStoreOrigins();

    void NavigatorFocusChanged(const QModelIndex& current);
    void ReaderChanged(TReaderCategory* reader);
    void ItemProgress(TItemBase* sender, TItemBase* item, bool& abort);
    void ItemLoaded(TItemBase* sender);
    void ItemDestroyed(TItemBase* item);
    void ClearBookViews();
    void FillBookViews(TCategory* category);
    void SyncThumbnailSelection();
    void SyncListSelection();
    void RemoveBookRow(int row);
    void HeaderClicked(int section);
    void ApplyListColumns();
    void StoreListColumns();
    void UpdateViewVisibility();
    void AddSearchHit(TFileItem* item);
    void SearchFinished();
    void ShowSearchPlaceholder(bool show);
    bool Run(QAction* action);
    // Asks before deleting the selected shelf or books (`what`): to the recycle bin or for good on
    // the computer, for good on a reader (`forGood` says what is lost). False when nothing is to
    // be deleted.
    bool AskDelete(bool onReader, const QString& what, const QString& forGood, bool& toTrash);
    // Why a file operation failed, in the user's words (a shelf or reader that has gone, a full
    // or read-only device, a name that is taken, missing rights), never the system's own text.
    static QString FailureText(int negatedError);
    // Why creating or renaming a shelf (`action`, "重命名书架") under `name` failed; says which
    // character of the name a reader refuses.
    static QString ShelfNameFailureText(const QString& action, const QString& name, bool onReader,
                                        int negatedError);
    // A question's answer no longer holds (LongWork.h): says why, once.
    void ShowStaleAnswer(std::uint64_t changesBefore);
    void PopupBelow(QMenu* menu, QWidget* anchor, int dx);

    QString FSettingsFile;
    QString FUserName;
    QString FPassword;
    bool FSavePassword = false;
    std::array<TListColumn, BookListColumnCount> FListColumns;

    std::unique_ptr<TSystemCategory> FSystemCategory;
    TNavigatorModel* FNavigatorModel = nullptr;
    TBookListModel* FBookListModel = nullptr;
    TBookReader* FBookReader = nullptr;
    TCoverCache* FCoverCache = nullptr;
    std::unique_ptr<TThumbnailPainter> FThumbnailPainter;
    TCategory* FShownCategory = nullptr;
    int FSortCounter = 0;
    bool FSyncingSelection = false;
    QPoint FGridPressAt{-1, -1}; // where a drag of covers may start
    bool FPassingDrag = false;   // a drag event handed on to the navigator's own handling
    QString FOpenFilter = QStringLiteral("所有文件 (*)");
    bool FOpenFilterExtended = false;
    bool FSearchPlaceholder = true;

    // Search.
    std::unique_ptr<std::thread> FSearchThread;
    std::atomic<bool> FSearchStop{false};
    int FHitCount = 0;

    QTimer* FAutoUpdateTimer = nullptr;
    QTimer* FIdleTimer = nullptr;
    QActionGroup* FViewGroup = nullptr;
    QMenu* FUpdateMenu = nullptr;

    TSkinManager* FSkins = nullptr;
    TSkinData* FSkinData = nullptr;
    bool FSkinned = false;
    QPointer<TToolBtn> FViewListBtn;
    QPointer<TToolBtn> FViewThumbBtn;

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
    QToolButton* FOptionsButton = nullptr;

    QSplitter* FSplitter = nullptr;
    QWidget* FNavigatorPanel = nullptr;
    QWidget* FTreeContainer = nullptr;
    QTreeView* FNavigator = nullptr;
    QFrame* FNavigatorBar = nullptr;

    QStackedWidget* FNotebook = nullptr;
    QWidget* FBrowserPage = nullptr;
    TBrowserHost* FBrowser = nullptr;
    TWBExternal* FWBExternal = nullptr;
    QWidget* FListPage = nullptr;
    QWidget* FTaskPage = nullptr;
    QTreeView* FBookList = nullptr;
    TrkView* FThumbnailView = nullptr;
    QLabel* FListStateBar = nullptr;
    QTreeWidget* FTaskList = nullptr;
};
