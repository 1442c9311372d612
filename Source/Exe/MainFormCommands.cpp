// The main window's commands: the actions with their enabling rules, the menus, the bookshelf
// and book commands, help and about, and the search with its worker thread.
#include "ToolBtn.h"
#include "uMainForm.h"

#include "uBrowserFrame.h"

#include "BookListModel.h"
#include "Categories.h"
#include "CursorControl.h"
#include "DesktopApps.h"
#include "DialogPlacement.h"
#include "FileInfo.h"
#include "FileNames.h"
#include "FileOperations.h"
#include "Folders.h"
#include "LongWork.h"
#include "ModelGuard.h"
#include "NavigatorModel.h"
#include "Notify.h"
#include "rkView.h"
#include "uAboutForm.h"
#include "uBase.h"
#include "uInputDlg.h"
#include "uMsgDlg.h"
#include "uStateForm.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <cerrno>
#include <cstring>

namespace {

QAction* NewAction(QObject* owner, const char* caption, const char* hint = nullptr)
{
    auto* action = new QAction(QString::fromUtf8(caption), owner);
    if (hint) action->setToolTip(QString::fromUtf8(hint));
    return action;
}

// How the open command's start of an application went, for the end of "打开文件失败, ".
QString StartErrorText(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("没有运行它的权限");
    case ENOEXEC:
        return QStringLiteral("它不是可以运行的程序");
    case ENOENT:
        return QStringLiteral("程序文件不存在");
    case ENOMEM:
    case EAGAIN:
        return QStringLiteral("系统资源不足");
    default:
        return QStringLiteral("系统错误 %1").arg(error);
    }
}

// Why a file did not open, in words for the user: the desktop has no application for its kind
// (named by its extension, or by its type's description when it has none), or the
// application would not start.
QString OpenFailureReason(const QString& path, const DesktopApps::TOpenResult& result)
{
    using DesktopApps::TOpenOutcome;
    switch (result.Outcome) {
    case TOpenOutcome::NoFile:
        return QStringLiteral("文件已不存在。");
    case TOpenOutcome::NoApp: {
        const QString suffix = QFileInfo(FileNames::Display(path)).suffix();
        QString kind = QStringLiteral("这种文件");
        if (!suffix.isEmpty())
            kind = QStringLiteral("“.%1”文件").arg(suffix);
        else if (result.Type.isValid())
            kind = QStringLiteral("“%1”类型的文件").arg(result.Type.comment());
        return QStringLiteral("系统中没有设置用来打开%1的程序。\r\n请安装一个能打开这种文件的"
                              "程序，或在系统设置中为它选择默认程序。")
            .arg(kind);
    }
    case TOpenOutcome::NoProgram:
        return QStringLiteral("找不到打开它的程序“%1”（%2）。")
            .arg(result.App.Name, result.Program);
    case TOpenOutcome::Failed:
        return QStringLiteral("程序“%1”无法启动：%2。")
            .arg(result.App.Name, StartErrorText(result.Error));
    case TOpenOutcome::Started:
        break;
    }
    return QString();
}

} // namespace

void TXALVarnixForm::CreateActions()
{
    ActNewFolder = NewAction(this, "新建书架");
    ActDelFolder = NewAction(this, "删除选定的书架");
    ActRenameFolder = NewAction(this, "重命名书架");
    ActRefresh = NewAction(this, "刷新");
    ActExpand = NewAction(this, "展开书架");
    ActCollapse = NewAction(this, "折叠书架");
    ActOptions = NewAction(this, "选项", "显示更多选项");
    ActShowNavigator = NewAction(this, "显示/隐藏书架");
    ActViewThumb = NewAction(this, "显示缩略图");
    ActViewList = NewAction(this, "显示列表");
    ActAddFileEx = NewAction(this, "向书架中添加新书");
    ActAddFile = NewAction(this, "添加新书");
    ActDelFile = NewAction(this, "删除图书");
    ActOpenFile = NewAction(this, "阅读图书");
    ActFileInfo = NewAction(this, "查看文件信息");
    ActFileRefresh = NewAction(this, "刷新");
    ActSelectAllFiles = NewAction(this, "全部选择");
    ActHelp = NewAction(this, "帮助");
    ActAbout = NewAction(this, "关于");
    ActSearch = NewAction(this, "搜索图书");
    ActFindAll = NewAction(this, "搜索所有信息");
    const char* const finds[] = {"搜索文件名", "搜索标题",   "搜索主题",   "搜索类别",
                                 "搜索作者",   "搜索出版商", "搜索关键字", "搜索注释"};
    for (size_t i = 0; i < ActFind.size(); ++i) {
        ActFind[i] = NewAction(this, finds[i]);
        ActFind[i]->setCheckable(true);
    }
    ActFindAll->setCheckable(true);
    ActFindAll->setChecked(true);
    ActTaskDel = NewAction(this, "删除任务");
    ActTaskDelAll = NewAction(this, "全部删除");

    FViewGroup = new QActionGroup(this);
    FViewGroup->setExclusive(true);
    for (QAction* a : {ActViewThumb, ActViewList}) {
        a->setCheckable(true);
        FViewGroup->addAction(a);
    }
    ActViewThumb->setChecked(true);

    ActAutoRunUpdate = NewAction(this, "启动软件时自动检查更新");
    ActAutoRunUpdate->setCheckable(true);
    ActCheckUpdate = NewAction(this, "检查更新");
    ActBindDevice = NewAction(this, "绑定设备");
    FUpdateMenu = new QMenu(this);
    FUpdateMenu->addAction(ActAutoRunUpdate);

    const auto on = [this](QAction* action, auto handler) {
        connect(action, &QAction::triggered, this, [this, action, handler] {
            // A command asked for while another one pumps waits for it (LongWork.h).
            if (TLongWork::Busy()) {
                TLongWork::Defer(action, [action] { action->trigger(); });
                return;
            }
            // A menu entry or button runs its command only when its rule allows it now.
            UpdateActions();
            if (action->isEnabled()) (this->*handler)();
        });
    };
    on(ActNewFolder, &TXALVarnixForm::NewFolder);
    on(ActDelFolder, &TXALVarnixForm::DeleteFolder);
    on(ActAddFileEx, &TXALVarnixForm::AddBooksCommand);
    on(ActAddFile, &TXALVarnixForm::AddBooksCommand);
    on(ActDelFile, &TXALVarnixForm::DeleteBooks);
    on(ActOpenFile, &TXALVarnixForm::OpenBook);
    on(ActFileInfo, &TXALVarnixForm::ShowBookProperties);
    on(ActSelectAllFiles, &TXALVarnixForm::SelectAllBooks);
    on(ActHelp, &TXALVarnixForm::Help);
    on(ActAbout, &TXALVarnixForm::About);
    on(ActBindDevice, &TXALVarnixForm::BindDevice);
    on(ActSearch, &TXALVarnixForm::SearchCommand);
    on(ActCheckUpdate, &TXALVarnixForm::CheckUpdate);
    on(ActRenameFolder, &TXALVarnixForm::RenameFolderCommand);
    on(ActRefresh, &TXALVarnixForm::RefreshCommand);
    on(ActFileRefresh, &TXALVarnixForm::RefreshBooksCommand);
    connect(ActExpand, &QAction::triggered, this, [this] {
        const QModelIndex index = FNavigator->currentIndex();
        if (!index.isValid()) return;
        TCursorControl wait;
        FNavigator->expandRecursively(index);
    });
    connect(ActCollapse, &QAction::triggered, this, [this] {
        const QModelIndex index = FNavigator->currentIndex();
        if (!index.isValid()) return;
        std::function<void(const QModelIndex&)> collapse = [&](const QModelIndex& i) {
            for (int r = 0; r < FNavigatorModel->rowCount(i); ++r)
                collapse(FNavigatorModel->index(r, 0, i));
            FNavigator->collapse(i);
        };
        collapse(index);
    });
    connect(ActOptions, &QAction::triggered, this,
            [this] { PopupBelow(NavigatorMenu, FOptionsButton, 0); });
    connect(ActShowNavigator, &QAction::triggered, this,
            [this] { FNavigatorPanel->setVisible(!FNavigatorPanel->isVisible()); });
    connect(ActViewThumb, &QAction::toggled, this, [this] { UpdateViewVisibility(); });
    connect(ActViewList, &QAction::toggled, this, [this] { UpdateViewVisibility(); });
    connect(ActTaskDelAll, &QAction::triggered, this, [this] {
        if (ShowMessageBox(QStringLiteral("确定要删除选中的下载任务吗？"), QStringLiteral("确认"),
                           mbYesNo | mbIconQuestion) == mrYes) {
            FTaskList->clear();
            FNavigator->viewport()->update();
        }
    });
}

void TXALVarnixForm::CreateMenus()
{
    LibraryMenu = new QMenu(this);
    LibraryMenu->addAction(ActAddFileEx);
    LibraryMenu->addSeparator();
    LibraryMenu->addActions({ActShowNavigator, ActViewThumb, ActViewList});
    LibraryMenu->addSeparator();
    LibraryMenu->addActions({ActBindDevice, ActCheckUpdate});
    LibraryMenu->addSeparator();
    LibraryMenu->addActions({ActHelp, ActAbout});

    NavigatorMenu = new QMenu(this);
    NavigatorMenu->addActions({ActNewFolder, ActRenameFolder, ActDelFolder});
    NavigatorMenu->addSeparator();
    NavigatorMenu->addActions({ActExpand, ActCollapse});
    NavigatorMenu->addSeparator();
    NavigatorMenu->addAction(ActRefresh);

    BookMenu = new QMenu(this);
    BookMenu->addAction(ActOpenFile);
    BookMenu->setDefaultAction(ActOpenFile);
    BookMenu->addSeparator();
    BookMenu->addActions({ActAddFile, ActDelFile, ActSelectAllFiles});
    BookMenu->addSeparator();
    BookMenu->addAction(ActFileInfo);
    BookMenu->addSeparator();
    BookMenu->addAction(ActFileRefresh);

    SearchMenu = new QMenu(this);
    SearchMenu->addAction(ActFindAll);
    SearchMenu->addSeparator();
    for (QAction* a : ActFind)
        SearchMenu->addAction(a);
    // Choosing a field gives up "all"; choosing "all" clears the fields.
    connect(ActFindAll, &QAction::triggered, this, [this](bool on) {
        if (on)
            for (QAction* a : ActFind)
                a->setChecked(false);
    });
    for (QAction* a : ActFind)
        connect(a, &QAction::triggered, this, [this](bool on) {
            if (on) ActFindAll->setChecked(false);
        });

    TaskMenu = new QMenu(this);
    TaskMenu->addAction(ActTaskDel);
    TaskMenu->addSeparator();
    TaskMenu->addAction(ActTaskDelAll);
}

bool TXALVarnixForm::Run(QAction* action)
{
    if (TLongWork::Busy()) {
        TLongWork::Defer(action, [this, action] { Run(action); });
        return false;
    }
    UpdateActions();
    if (!action->isEnabled()) return false;
    action->trigger();
    return true;
}

bool TXALVarnixForm::AskDelete(bool onReader, const QString& what, const QString& forGood,
                               bool& toTrash)
{
    // A reader has no recycle bin: what is deleted there is gone, and the question says so.
    if (onReader) {
        toTrash = false;
        return ShowMessageBox(QStringLiteral("是否彻底删除选中的%1？\r\n\r\n阅读器上没有回收站，%2")
                                  .arg(what, forGood),
                              QStringLiteral("确认"), mbYesNo | mbIconQuestion) == mrYes;
    }
    const int answer = ShowMessageBox(
        QStringLiteral("是否将选中的%1删除至回收站？\r\n\r\n选择 是 删除至回收站\r\n选择 否 彻底删除")
            .arg(what),
        QStringLiteral("确认"), mbYesNoCancel | mbIconQuestion);
    toTrash = answer == mrYes;
    return answer == mrYes || answer == mrNo;
}

void TXALVarnixForm::ShowStaleAnswer(std::uint64_t changesBefore)
{
    ShowMessageBox(changesBefore != TLongWork::ChangeCount()
                       ? QStringLiteral("阅读器在您确认时已连接或断开，操作已取消。")
                       : QStringLiteral("操作失败，请稍后再试。"),
                   QString(), mbOK | mbIconExclamation);
}

void TXALVarnixForm::RenameFolderCommand()
{
    FNavigator->edit(FNavigator->currentIndex());
}

void TXALVarnixForm::RefreshCommand()
{
    TCursorControl wait;
    ReloadCategory(CurrentCategory());
}

void TXALVarnixForm::RefreshBooksCommand()
{
    TCursorControl wait;
    ReloadBooks(CurrentCategory());
}

void TXALVarnixForm::UpdateActions()
{
    TCategory* c = CurrentCategory();
    TFileItem* b = CurrentBook();
    const TItemStates sc = c ? c->GetState() : 0;
    const bool r = c && dynamic_cast<TSearchResultCategory*>(c);
    const bool hasFocusNode = FNavigator->currentIndex().isValid();

    for (QAction* a : findChildren<QAction*>())
        if (a->toolTip().isEmpty() || a->toolTip() == a->iconText()) a->setToolTip(a->text());

    FollowViews(FViewListBtn, FBookList, FViewThumbBtn, FThumbnailView, this);
    ActCollapse->setEnabled(hasFocusNode);
    ActExpand->setEnabled(hasFocusNode);
    FBrowser->UpdateActions();
    ActRefresh->setEnabled(c != nullptr);
    ActNewFolder->setEnabled(c && (sc & isContainer) && !(sc & isMissing));
    const bool modifiable = c && (sc & isModifiable) && !(sc & isMissing);
    ActDelFolder->setEnabled(modifiable);
    ActRenameFolder->setEnabled(modifiable);
    ActAddFileEx->setEnabled(c && (sc & isContainer) && !(sc & isMissing) && !r);
    ActAddFile->setEnabled(ActAddFileEx->isEnabled());
    ActDelFile->setEnabled(!SelectedRows().isEmpty() && !r);
    const bool bookReady = b && !(b->GetState() & isMissing);
    ActOpenFile->setEnabled(bookReady);
    ActFileInfo->setEnabled(bookReady);
    ActFileRefresh->setEnabled(c && !(sc & isMissing) && !r);
    ActSelectAllFiles->setEnabled(FBookListModel->rowCount() > 0);
    ActTaskDel->setEnabled(FTaskList->selectedItems().size() > 0);
    ActTaskDelAll->setEnabled(FTaskList->topLevelItemCount() > 0);
    if (FThumbnailView->isVisibleTo(this) != ActViewThumb->isChecked() ||
        FBookList->isVisibleTo(this) != ActViewList->isChecked())
        UpdateViewVisibility();
    if (!ActFindAll->isChecked() &&
        std::none_of(ActFind.begin(), ActFind.end(), [](QAction* a) { return a->isChecked(); }))
        ActFindAll->setChecked(true);
}

// ---------------------------------------------------------------------------------------------
// Bookshelves

void TXALVarnixForm::NewFolder()
{
    TLongWork work;
    TCursorControl wait;
    TCategory* c = CurrentCategory();
    QString name = c->UniqueCategoryName(QStringLiteral("新建书架"));
    if (!InputQueryDlg(QStringLiteral("新建"), QStringLiteral("请输入新书架名称"), name)) return;
    name = name.trimmed();
    if (name.isEmpty()) return;
    if (name.size() > 64) {
        ShowMessageBox(QStringLiteral("新书架名称最多只能包含64个字符。"), QString(),
                       mbOK | mbIconExclamation);
        return;
    }
    const QModelIndex parentIndex = FNavigator->currentIndex();
    const bool shown = FNavigatorModel->rowCount(parentIndex) == c->CategoryCount();
    if (CurrentCategory() != c) return; // the focus moved while the name was asked for
    if (const int gone = CheckShelf(c)) {
        ShowMessageBox(FailureText(gone), QString(), mbOK | mbIconExclamation);
        return;
    }
    const int index = CreateBookshelf(c, name);
    if (index < 0) {
        ShowMessageBox(
            ShelfNameFailureText(QStringLiteral("建立新书架"), name, ReaderOf(c) != nullptr, index),
            QString(), mbOK | mbIconExclamation);
        return;
    }
    if (shown && FNavigatorModel->canFetchMore(parentIndex) == false)
        FNavigatorModel->ChildAdded(parentIndex);
    else
        FNavigatorModel->fetchMore(parentIndex);
    FNavigator->expand(parentIndex);
    SelectCategory(c->Category(index));
}

void TXALVarnixForm::DeleteFolder()
{
    TLongWork work;
    TCursorControl wait;
    // The shelf the user is asked about; only that one may go, and only while it still may.
    TCategory* c = CurrentCategory();
    if (!c) return;
    const std::uint64_t changes = TLongWork::ChangeCount();
    // A reader has no recycle bin: what is deleted there is gone, and the question says so.
    bool toTrash = false;
    if (!AskDelete(ReaderOf(c) != nullptr, QStringLiteral("书架"),
                   QStringLiteral("书架和其中的图书删除后无法恢复。"), toTrash))
        return;
    const TItemStates state = c->GetState();
    if (changes != TLongWork::ChangeCount() || CurrentCategory() != c ||
        !(state & isModifiable) || (state & isMissing)) {
        ShowStaleAnswer(changes);
        return;
    }
    // A shelf deleted for good goes file by file, with progress and Cancel.
    TStateForm progress(this);
    progress.SetCancelVisible(true);
    progress.SetText(QStringLiteral("正在删除 %1 ...").arg(c->Name()));
    if (!toTrash) progress.show();
    const int result = DeleteBookshelf(c, toTrash, [&progress](int done, int total) {
        progress.SetMax(total);
        progress.SetPosition(done);
        return !progress.Cancelled();
    });
    progress.hide();
    if (result == -ECANCELED) {
        ReloadCategory(c); // what is left of it
        return;
    }
    if (result != 0) {
        ShowMessageBox(FailureText(result), QString(), mbOK | mbIconExclamation);
        return;
    }
    const QModelIndex index = FNavigator->currentIndex();
    QModelIndex next = index.sibling(index.row() + 1, 0);
    if (!next.isValid()) next = index.sibling(index.row() - 1, 0);
    if (!next.isValid()) next = index.parent();
    TCategory* nextCategory = FNavigatorModel->Category(next);
    ClearBookViews();
    FNavigatorModel->BeginRemoveChild(index);
    c->Parent()->Categories().Remove(c);
    FNavigatorModel->EndRemoveChild();
    if (nextCategory) SelectCategory(nextCategory);
}

// ---------------------------------------------------------------------------------------------
// Books

void TXALVarnixForm::AddBooksCommand()
{
    TLongWork work;
    if (!FOpenFilterExtended) {
        FOpenFilterExtended = true;
        const QString supported = FileInfoManager().SupportedFilter();
        if (!supported.isEmpty())
            FOpenFilter +=
                QStringLiteral(";;所有支持的文件 (%1)").arg(QString(supported).replace(u';', u' '));
    }
    QStringList files;
    if (OnChooseFiles) {
        files = OnChooseFiles(FOpenFilter);
    } else {
        QFileDialog dialog(this);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setNameFilter(FOpenFilter);
        dialog.setOption(QFileDialog::ReadOnly, false);
        if (dialog.exec() == QDialog::Accepted) files = dialog.selectedFiles();
        // The dialog names files whose names are not UTF-8 with losses; find their real names.
        for (QString& file : files)
            file = FileNames::FromQtPath(file);
    }
    if (!files.isEmpty()) AddBooks(files);
}

void TXALVarnixForm::AddBooks(const QStringList& files)
{
    TLongWork work;
    TCursorControl wait;
    TCategory* c = CurrentCategory();
    if (!c) return;
    const QString folder = c->GetFullPath();
    // Books added to a reader's shelf are a copy to the reader: its end is told on the desktop
    // when the user is elsewhere, and so is a failure, before its message box waits.
    const bool toReader = ReaderOf(c) != nullptr;
    int copied = 0;
    bool failureTold = false;
    const auto tellFailure = [&](const QString& reason) {
        if (toReader && !failureTold)
            failureTold = Notify::SendInBackground(Notify::CopySummary(false, true), reason);
    };
    TStateForm progress(this);
    progress.SetCancelVisible(true);
    progress.SetText(QStringLiteral("准备中..."));
    progress.SetMax(static_cast<int>(files.size()));
    progress.show();
    FThumbnailView->BeginUpdate();
    int remembered = mrNone;
    bool cancelled = false;
    for (const QString& file : files) {
        const QString name = QFileInfo(file).fileName();
        progress.SetStepText(QStringLiteral("正在添加 %1 ...").arg(name), 1);
        if (FileNames::Exists(folder + name)) {
            int answer = remembered;
            if (answer == mrNone) {
                answer = ShowMessageBox(
                    QStringLiteral("%1\r\n文件已存在，是否要删除原文件？").arg(name),
                    QStringLiteral("确认"), mbYesNoOverwriteIgnoreCancel | mbIconQuestion);
                if (answer == mrOverwriteAll) remembered = answer = mrYes;
                if (answer == mrIgnoreAll) remembered = answer = mrNo;
            }
            if (answer != mrYes && answer != mrNo) {
                cancelled = true;
                break;
            }
            if (answer == mrNo) continue;
        }
        // The shelf (or its reader) may have gone while the question or the last copy ran.
        if (const int gone = CheckShelf(c)) {
            tellFailure(FailureText(gone));
            ShowMessageBox(FailureText(gone), QString(), mbOK | mbIconExclamation);
            cancelled = true;
            break;
        }
        const int result = AddBook(c, file);
        if (result >= 0) ++copied;
        if (result >= FBookListModel->rowCount() ||
            (result >= 0 && FBookListModel->RowOf(c->Item(result)) < 0)) {
            TFileItem* item = c->Item(result);
            FBookListModel->AddRow(item);
            FThumbnailView->Items().Add(reinterpret_cast<quintptr>(item));
        } else if (result >= 0) {
            c->Item(result)->Reload();
            FBookListModel->RowChanged(c->Item(result));
        } else if (result == -1) {
            const QString failure =
                QStringLiteral("添加新书失败，可能文件正在使用中，请稍后再试。");
            tellFailure(failure);
            ShowMessageBox(failure, QString(), mbOK | mbIconExclamation);
        }
        if (progress.Cancelled()) {
            cancelled = true;
            break;
        }
    }
    if (!cancelled) progress.SetText(QStringLiteral("完成中..."));
    FThumbnailView->EndUpdate();
    FNavigatorModel->Refresh(c);
    if (toReader && !cancelled && copied > 0)
        Notify::SendInBackground(Notify::CopySummary(false, false),
                                 Notify::CopyBody(copied, false));
}

void TXALVarnixForm::DeleteBooks()
{
    TLongWork work;
    TCategory* c = CurrentCategory();
    const std::uint64_t changes = TLongWork::ChangeCount();
    bool toTrash = false;
    if (!AskDelete(c && ReaderOf(c) != nullptr, QStringLiteral("项目"),
                   QStringLiteral("图书删除后无法恢复。"), toTrash))
        return;
    if (changes != TLongWork::ChangeCount() || CurrentCategory() != c) {
        ShowStaleAnswer(changes);
        return;
    }
    TCursorControl wait;
    const QModelIndex focus = FBookList->currentIndex();
    const int focusRow = focus.isValid() ? focus.row() : -1;
    // The books, not their row numbers: rows move when others go.
    QList<TFileItem*> books;
    for (int row : SelectedRows())
        books << FBookListModel->Item(row);
    TStateForm progress(this);
    progress.SetText(QStringLiteral("准备中..."));
    progress.SetMax(static_cast<int>(books.size()));
    progress.show();
    FThumbnailView->BeginUpdate();
    for (qsizetype i = books.size() - 1; i >= 0; --i) {
        TFileItem* book = books[i];
        progress.SetStepText(QStringLiteral("正在删除 %1 ...").arg(book->Name()), 1);
        if (const int gone = CheckShelf(book->Parent())) {
            ShowMessageBox(FailureText(gone), QString(), mbOK | mbIconExclamation);
            break;
        }
        if (!DeleteBook(book, toTrash)) {
            ShowMessageBox(QStringLiteral("删除文件失败，可能文件正在使用中。请稍后再试。"),
                           QStringLiteral("错误"), mbOK | mbIconExclamation);
            continue;
        }
        const int row = FBookListModel->RowOf(book);
        if (row >= 0) RemoveBookRow(row);
        if (FSystemCategory->HasSearchResults())
            FSystemCategory->FindSearchResults()->Items().Remove(book);
        if (TCategory* owner = book->Parent()) owner->Items().Remove(book);
    }
    if (focusRow >= 0 && FBookListModel->rowCount() > 0) {
        SelectBookRow(std::min(focusRow, FBookListModel->rowCount() - 1));
        SyncThumbnailSelection();
    }
    progress.SetText(QStringLiteral("完成中..."));
    FThumbnailView->EndUpdate();
    if (c) FNavigatorModel->Refresh(c);
}

void TXALVarnixForm::OpenBook()
{
    TCursorControl wait;
    TFileItem* book = CurrentBook();
    if (!book) return;
    const QString path = book->GetFullPath();
    const DesktopApps::TOpenResult result = DesktopApps::Open(path);
    if (result.Outcome != DesktopApps::TOpenOutcome::Started)
        ShowMessageBox(QStringLiteral("打开文件失败, ") + OpenFailureReason(path, result),
                       QString(), mbOK | mbIconExclamation);
}

void TXALVarnixForm::ShowBookProperties()
{
    TLongWork work;
    TCursorControl wait;
    if (TFileItem* book = CurrentBook())
        FileInfoManager().ShowProperties(this, book->GetFullPath());
}

void TXALVarnixForm::SelectAllBooks()
{
    FBookList->selectAll();
    SyncThumbnailSelection();
}

void TXALVarnixForm::Help()
{
    const QString path = Folders::ProgramFolder() + QStringLiteral("Help.chm");
    if (QFileInfo::exists(path)) {
        const DesktopApps::TOpenResult result = DesktopApps::Open(path);
        if (result.Outcome != DesktopApps::TOpenOutcome::Started)
            ShowMessageBox(QStringLiteral("打开帮助文件失败, ") + OpenFailureReason(path, result),
                           QString(), mbOK | mbIconExclamation);
        return;
    }
    TCategory* store = FSystemCategory->Child(0);
    store->EnsureLoaded();
    const int index = store->IndexOfCategory(QStringLiteral("在线用户手册"));
    if (index < 0) {
        ShowMessageBox(QStringLiteral("没有可用的帮助。"), QString(), mbOK | mbIconExclamation);
        return;
    }
    TCategory* manual = store->Category(index);
    if (manual->ViewNode) SelectCategory(manual);
}

void TXALVarnixForm::About()
{
    TLongWork work;
    TAboutForm about(nullptr, true);
    about.exec();
}

void TXALVarnixForm::BindDevice()
{
    TLongWork work;
    TBaseForm form(
        this, [this](void* buffer) { GetDeviceIdentity(buffer); }, FSkinned ? FSkins : nullptr);
    form.setWindowTitle(windowTitle());
    form.resize(TBaseForm::DesignWidth, TBaseForm::DesignHeight);
    CentreDialog(&form, this);
    form.exec();
}

// ---------------------------------------------------------------------------------------------
// Search

void TXALVarnixForm::SearchCommand()
{
    TLongWork work;
    if (SearchRunning()) {
        if (ShowMessageBox(QStringLiteral("正在搜索文件，确定要停止搜索吗？"),
                           QStringLiteral("确认"), mbYesNo | mbIconQuestion) == mrYes)
            StopSearch();
        return;
    }
    StartSearch();
}

void TXALVarnixForm::StartSearch()
{
    if (FSearchPlaceholder || FSearchEdit->text().isEmpty()) return;
    unsigned char mask = 0;
    if (ActFindAll->isChecked()) {
        mask = sfAll;
    } else {
        for (size_t i = 0; i < ActFind.size(); ++i)
            if (ActFind[i]->isChecked()) mask |= static_cast<unsigned char>(1u << i);
    }
    if (mask == 0) return;

    ClearBookViews();
    FSearchEdit->setEnabled(false);
    FSearchStop = false;
    TSearchResultCategory* results = FSystemCategory->FindSearchResults();
    results->Items().Clear();
    FNavigatorModel->SyncTopLevel();
    SelectCategory(results);

    TKeywordList keywords = SplitKeywords(FSearchEdit->text());
    FHitCount = 0;
    TCategory* walkSlots[4] = {FSystemCategory->LocalLibrary(), FSystemCategory->ReaderSlot(0),
                               FSystemCategory->ReaderSlot(1), nullptr};
    ModelGuard().WalkStarted();
    FSearchThread = std::make_unique<std::thread>([this, walkSlots, keywords, mask]() mutable {
        QStringList scratch;
        for (TCategory* slot : walkSlots) {
            if (!slot) continue;
            try {
                WalkCategory(slot, FSearchStop, [&](TFileItem* item) {
                    if (MatchesKeywords(item, keywords, scratch, mask))
                        QCoreApplication::postEvent(
                            this, new TCommandEvent(TCommandEvent::SearchHitType(), cmSearchHit,
                                                    reinterpret_cast<quintptr>(item)));
                });
            } catch (...) {
                // A book or shelf that cannot be searched is skipped.
            }
            if (FSearchStop) break;
        }
        PostCommand(cmSearchFinished);
    });
}

void TXALVarnixForm::StopSearch()
{
    if (!FSearchThread) return;
    FSearchStop = true;
    FSearchThread->join();
    FSearchThread.reset();
    ModelGuard().WalkEnded();
}

void TXALVarnixForm::AddSearchHit(TFileItem* item)
{
    ++FHitCount;
    TSearchResultCategory* results = FSystemCategory->FindSearchResults();
    results->Items().Add(item);
    if (CurrentCategory() == results) {
        FBookListModel->AddRow(item);
        FThumbnailView->Items().Add(reinterpret_cast<quintptr>(item));
        FThumbnailView->CalcView();
    }
    FNavigatorModel->Refresh(results);
}

void TXALVarnixForm::SearchFinished()
{
    FSearchEdit->setEnabled(true);
    if (FSearchThread) StopSearch(); // the worker has ended: collect it
    if (FHitCount > 0)
        ShowMessageBox(QStringLiteral("搜索已完成，共搜索到 %1 个文件").arg(FHitCount),
                       QStringLiteral("提示"), mbOK | mbIconInformation);
    else
        ShowMessageBox(QStringLiteral("搜索已完成，没有搜索到符合要求的文件"),
                       QStringLiteral("提示"), mbOK | mbIconInformation);
    FThumbnailView->viewport()->update();
    FNavigator->viewport()->update();
    FBookList->viewport()->update();
}
