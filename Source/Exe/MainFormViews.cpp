// The main window's views: the navigator, the book list and the thumbnail grid, how the
// navigator's focus decides what they show, sorting, and dragging books onto shelves.
#include "uMainForm.h"

#include "uBrowserFrame.h"

#include "BookListModel.h"
#include "BookReader.h"
#include "CoverCache.h"
#include "Categories.h"
#include "CursorControl.h"
#include "FileInfo.h"
#include "FileNames.h"
#include "FileOperations.h"
#include "LongWork.h"
#include "ModelGuard.h"
#include "NavigatorModel.h"
#include "Notify.h"
#include "rkView.h"
#include "SkinData.h"
#include "ThumbnailPainter.h"
#include "ToolBtn.h"
#include "uMsgDlg.h"
#include "uStateForm.h"

#include <QAction>
#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <cerrno>
#include <cstring>
#include <typeinfo>

namespace {

// The thumbnail grid asks for books through this: one adapter is re-aimed at each book, as
// the painter only uses it for the cell it paints.
class TFileItemBook : public TThumbnailBook
{
public:
    TFileItem* Item = nullptr;
    TBookListModel* Model = nullptr;
    TCoverCache* Covers = nullptr;
    // Asked while painting: the read is queued, never run inside the paint.
    void EnsureLoaded() override { Model->RequestLoad(Item); }
    QString Name() const override { return Item->Name(); }
    QString Author() const override { return BookInfoTextOf(biAuthor); }
    QImage Cover() const override { return Covers->Cover(Item); }
    bool IsMissing() const override { return Item->Loaded() && (Item->State() & isMissing); }
    QString FullPath() const override { return Item->GetFullPath(); }

private:
    QString BookInfoTextOf(TBookInfoOffset field) const;
};

} // namespace

namespace {

// The reason of a failed file operation, as the end of a sentence.
QString FailureReason(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("设备上没有空间。");
    case EROFS:
        return QStringLiteral("设备是只读的，可能打开了写保护，或者它的文件系统有错误。");
    case ENODEV:
        return QStringLiteral("阅读器已断开连接。");
    case ENOENT:
        return QStringLiteral("书架已不存在。");
    case EEXIST:
    case ENOTEMPTY:
        return QStringLiteral("已经有同名的书架或文件。");
    case ENOTDIR:
        return QStringLiteral("目标位置已有同名的文件。");
    case EISDIR:
        return QStringLiteral("目标位置已有同名的文件夹。");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有修改这个位置的权限。");
    case ENAMETOOLONG:
        return QStringLiteral("名称或路径太长。");
    case EINVAL:
        return QStringLiteral("名称或目标位置无效。");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("文件正在使用中，请稍后再试。");
    case EIO:
        return QStringLiteral("读写设备时出错，请检查设备后再试。");
    default:
        return QStringLiteral("请稍后再试。");
    }
}

} // namespace

QString TXALVarnixForm::FailureText(int negatedError)
{
    return QStringLiteral("操作失败，") + FailureReason(-negatedError);
}

QString TXALVarnixForm::ShelfNameFailureText(const QString& action, const QString& name,
                                             bool onReader, int negatedError)
{
    QString reason;
    switch (-negatedError) {
    case EEXIST:
    case ENOTEMPTY:
        reason = QStringLiteral("已经有名为“%1”的书架或文件，请换一个名称。").arg(name);
        break;
    case EINVAL: {
        // Dots and blanks are refused only at the end, where the reader would drop them.
        const qsizetype at = RefusedOnReader(name);
        const QChar c = at >= 0 ? name.at(at) : QChar();
        if (name.startsWith(u'.'))
            reason = QStringLiteral("名称不能以“.”开头，这样的书架会被隐藏。");
        else if (at >= 0 && c.unicode() < 32)
            reason = QStringLiteral("名称中不能有换行符、制表符之类的控制字符。");
        else if (name.contains(u'/'))
            reason = QStringLiteral("名称中不能有“/”。");
        else if (onReader && (c == u'.' || c == u' '))
            reason = QStringLiteral("阅读器上的名称不能以“.”或空格结尾。");
        else if (onReader && at >= 0)
            reason = QStringLiteral("名称中不能有“%1”，阅读器上的名称不能包含"
                                    " \\ / : * ? \" < > | 这些字符。")
                         .arg(c);
        else
            reason = QStringLiteral("名称中有文件系统不接受的字符。");
        break;
    }
    case ENAMETOOLONG:
        reason = QStringLiteral("名称太长。");
        break;
    case EROFS:
        reason = onReader
                     ? QStringLiteral("阅读器是只读的，可能打开了写保护，或者它的文件系统有错误。")
                     : FailureReason(EROFS);
        break;
    default:
        reason = FailureReason(-negatedError);
    }
    return action + QStringLiteral("失败，") + reason;
}

QString TFileItemBook::BookInfoTextOf(TBookInfoOffset field) const
{
    return Item->InfoText(field);
}

void TXALVarnixForm::CreateViews()
{
    FNavigatorModel = new TNavigatorModel(FSystemCategory.get(), this);
    FNavigatorModel->FixedIcon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    FNavigatorModel->ShelfIcon = style()->standardIcon(QStyle::SP_DirIcon);
    FNavigatorModel->DisabledColor = palette().color(QPalette::Disabled, QPalette::Text);
    FNavigatorModel->OnRename = [this](TCategory* category, const QString& text) {
        return RenameCategory(category, text);
    };
    FNavigator->setModel(FNavigatorModel);
    connect(FNavigator->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { NavigatorFocusChanged(current); });
    connect(FNavigator, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        TCursorControl wait;
        if (TCategory* c = FNavigatorModel->Category(index)) c->EnsureLoaded();
    });
    connect(FNavigator, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        const QModelIndex index = FNavigator->indexAt(p);
        if (index.isValid()) FNavigator->setCurrentIndex(index);
        UpdateActions();
        NavigatorMenu->popup(FNavigator->viewport()->mapToGlobal(p));
    });

    // Two threads read the books on screen; the main thread never waits for them.
    FBookReader = new TBookReader(2, this);
    FCoverCache = new TCoverCache(FBookReader, CoverCacheSize, this);
    // Covers come one by one; the grid is painted again once per turn of the event loop.
    auto* coverRepaint = new QTimer(this);
    coverRepaint->setSingleShot(true);
    coverRepaint->setInterval(0);
    connect(coverRepaint, &QTimer::timeout, this, [this] {
        if (FThumbnailView->isVisible()) FThumbnailView->viewport()->update();
    });
    connect(FCoverCache, &TCoverCache::CoverReady, coverRepaint, qOverload<>(&QTimer::start));
    FBookListModel = new TBookListModel(this);
    FBookListModel->SetReader(FBookReader);
    // Missing books look like missing shelves until the skin gives each its colour.
    FBookListModel->MissingColor = FNavigatorModel->DisabledColor;
    FBookListModel->OnInitRow = [this](TFileItem* item) {
        item->OnProgress = [this](TItemBase* s, TItemBase* i, bool& a) { ItemProgress(s, i, a); };
        item->OnLoaded = [this](TItemBase* s) { ItemLoaded(s); };
    };
    FBookList->setModel(FBookListModel);
    QHeaderView* header = FBookList->header();
    header->setFixedHeight(32);
    header->setSectionsMovable(true);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QHeaderView::sectionClicked, this, &TXALVarnixForm::HeaderClicked);
    connect(header, &QWidget::customContextMenuRequested, this, [this, header](const QPoint& p) {
        QMenu menu(this);
        for (int i = 0; i < BookListColumnCount; ++i) {
            QAction* a = menu.addAction(TBookListModel::Caption(i));
            a->setCheckable(true);
            a->setChecked(!header->isSectionHidden(i));
            connect(a, &QAction::toggled, this,
                    [header, i](bool on) { header->setSectionHidden(i, !on); });
        }
        TLongWork work;
        menu.exec(header->mapToGlobal(p));
    });
    connect(FBookList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { SyncThumbnailSelection(); });
    connect(FBookList, &QTreeView::doubleClicked, this, [this] { Run(ActOpenFile); });
    connect(FBookList, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        const QModelIndex index = FBookList->indexAt(p);
        if (index.isValid() &&
            !FBookList->selectionModel()->isRowSelected(index.row(), QModelIndex()))
            SelectBookRow(index.row());
        UpdateActions();
        BookMenu->popup(FBookList->viewport()->mapToGlobal(p));
    });

    // Until the skin supplies them, cells tall enough for the two text lines and a visible
    // shadow; the skin's "Thumbnail" section replaces these values.
    TThumbnailSkin skin = TThumbnailSkin::Defaults();
    skin.ThumbnailSize = QSize(150, 190);
    skin.ShadowColor = QColor(96, 96, 96);
    skin.FrameColor = QColor(153, 201, 239);
    skin.SelectionColor = QColor(204, 228, 247);
    skin.CornerSize = 8;
    FThumbnailPainter = std::make_unique<TThumbnailPainter>(skin);
    auto book = std::make_shared<TFileItemBook>();
    book->Model = FBookListModel;
    book->Covers = FCoverCache;
    // The grid holds the list's rows, so each cell's book is one the list knows.
    FThumbnailPainter->OnGetItem = [book](TrkView*, int64_t value) -> TThumbnailBook* {
        auto* item = reinterpret_cast<TFileItem*>(static_cast<quintptr>(value));
        if (!item) return nullptr;
        book->Item = item;
        return book.get();
    };
    FThumbnailPainter->Attach(FThumbnailView);
    FThumbnailView->OnSelecting = [this](TrkView*, int) { SyncListSelection(); };
    FThumbnailView->viewport()->installEventFilter(this);
    FThumbnailView->OnDblClick = [this](TrkView*) { Run(ActOpenFile); };
    FThumbnailView->OnKeyDown = [this](TrkView*, QKeyEvent* e) { eventFilter(FBookList, e); };
    // The grid's own mouse-down handling stops short on an empty grid, so its menu comes from
    // the context-menu request (mouse or keyboard), after the press has set the selection.
    connect(FThumbnailView, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        UpdateActions();
        BookMenu->popup(FThumbnailView->viewport()->mapToGlobal(p));
    });

    TItemBase::SetViewNodeFreedHook([this](TItemBase* item) { ItemDestroyed(item); });
    ModelGuard().SetStopWalkers([this] {
        StopSearch();
        // Hits already posted land in the results before anything is freed.
        QCoreApplication::sendPostedEvents(this, TCommandEvent::SearchHitType());
    });
}

TCategory* TXALVarnixForm::CurrentCategory() const
{
    return FNavigatorModel ? FNavigatorModel->Category(FNavigator->currentIndex()) : nullptr;
}

TFileItem* TXALVarnixForm::CurrentBook() const
{
    const QModelIndex index = FBookList->currentIndex();
    return index.isValid() ? FBookListModel->Item(index.row()) : nullptr;
}

QList<int> TXALVarnixForm::SelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& i : FBookList->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TXALVarnixForm::SelectCategory(TCategory* category)
{
    // Make sure every ancestor shows its children, so the category has a node.
    QList<TCategory*> chain;
    for (TCategory* c = category; c && c != FSystemCategory.get(); c = c->Parent())
        chain.prepend(c);
    for (TCategory* c : chain) {
        const QModelIndex index = FNavigatorModel->IndexOf(c);
        if (!index.isValid()) return;
        if (c != category) {
            FNavigatorModel->fetchMore(index);
            FNavigator->expand(index);
        }
    }
    const QModelIndex index = FNavigatorModel->IndexOf(category);
    if (!index.isValid()) return;
    FNavigator->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    FNavigator->scrollTo(index);
}

void TXALVarnixForm::SelectBookRow(int row)
{
    if (row < 0 || row >= FBookListModel->rowCount()) return;
    const QModelIndex index = FBookListModel->index(row, 0);
    FBookList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
    FBookList->scrollTo(index);
}

void TXALVarnixForm::NavigatorFocusChanged(const QModelIndex& current)
{
    TCursorControl wait;
    ClearBookViews();
    TCategory* category = FNavigatorModel->Category(current);
    if (!category) return;
    if (!dynamic_cast<TSearchResultCategory*>(category) && FSystemCategory->HasSearchResults())
        FSystemCategory->FindSearchResults()->Clear();
    category->EnsureLoaded();
    PostCommand(cmShowCategory, reinterpret_cast<quintptr>(category));
}

void TXALVarnixForm::ClearBookViews()
{
    FThumbnailView->Clear();
    FBookListModel->Clear();
    FShownCategory = nullptr;
}

void TXALVarnixForm::FillBookViews(TCategory* category)
{
    QList<TFileItem*> rows;
    rows.reserve(category->ItemCount());
    for (int i = 0; i < category->ItemCount(); ++i)
        rows << category->Item(i);
    FBookListModel->SetRows(rows);
    FThumbnailView->BeginUpdate();
    FThumbnailView->Selection().Clear();
    FThumbnailView->Items().Clear();
    for (TFileItem* item : FBookListModel->Rows())
        FThumbnailView->Items().Add(reinterpret_cast<quintptr>(item));
    FThumbnailView->EndUpdate();
    FShownCategory = category;
}

void TXALVarnixForm::ShowCategory(TCategory* category)
{
    switch (category->GetKind()) {
    case ckBrowser:
        FNotebook->setCurrentIndex(0);
        UpdateStoreOrigins();
        FBrowser->ShowUrl(category->GetFullPath());
        break;
    case ckList:
        FNotebook->setCurrentIndex(1);
        ClearBookViews();
        if (category->ItemCount() > 0) FillBookViews(category);
        FShownCategory = category;
        break;
    case ckTask:
        FNotebook->setCurrentIndex(2);
        break;
    }
}

void TXALVarnixForm::ReloadCategory(TCategory* category)
{
    const QModelIndex index = FNavigatorModel->IndexOf(category);
    const bool focused = category == CurrentCategory();
    FNavigator->setUpdatesEnabled(false);
    FThumbnailView->BeginUpdate();
    if (focused) ClearBookViews();
    if (index.isValid()) FNavigatorModel->RemoveChildren(index);
    category->SetLoadMode(lmAll);
    if (focused) FillBookViews(category);
    if (index.isValid()) {
        FNavigatorModel->ShowChildren(index);
        FNavigator->expand(index);
        FNavigatorModel->Refresh(category);
    }
    FThumbnailView->EndUpdate();
    FNavigator->setUpdatesEnabled(true);
}

void TXALVarnixForm::ReloadBooks(TCategory* category)
{
    const bool focused = category == CurrentCategory();
    if (focused) ClearBookViews();
    category->SetLoadMode(lmItemsOnly);
    if (focused) FillBookViews(category);
    FNavigatorModel->Refresh(category);
}

void TXALVarnixForm::ItemProgress(TItemBase* sender, TItemBase*, bool&)
{
    // A book the reading pool delivered meanwhile (its "ready" is shown already) may still
    // report from a read that was under way.
    if (auto* item = dynamic_cast<TFileItem*>(sender); item && !item->Loaded())
        FListStateBar->setText(QStringLiteral("正在读取 %1").arg(item->Name()));
    // Keep painting while a library reads a book, but take no user input meanwhile; the scope
    // keeps outside changes from freeing the book under its read.
    TLongWork work;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TXALVarnixForm::ItemLoaded(TItemBase* sender)
{
    if (auto* item = dynamic_cast<TFileItem*>(sender)) FBookListModel->RowChanged(item);
    if (FThumbnailView->isVisible()) FThumbnailView->viewport()->update();
    FListStateBar->setText(QStringLiteral("就绪"));
}

void TXALVarnixForm::ItemDestroyed(TItemBase* item)
{
    auto* book = static_cast<TFileItem*>(item);
    const int row = FBookListModel->RowOf(book);
    if (row >= 0) RemoveBookRow(row);
}

void TXALVarnixForm::RemoveBookRow(int row)
{
    TFileItem* item = FBookListModel->Item(row);
    const qint64 value = static_cast<qint64>(reinterpret_cast<quintptr>(item));
    const int sel = FThumbnailView->Selection().IndexOf(value);
    if (sel >= 0) FThumbnailView->Selection().Delete(sel);
    const int at = FThumbnailView->Items().IndexOf(value);
    if (at >= 0) FThumbnailView->Items().Delete(at);
    FBookListModel->RemoveRow(row);
    FThumbnailView->CalcView();
}

void TXALVarnixForm::SyncThumbnailSelection()
{
    if (FSyncingSelection) return;
    FSyncingSelection = true;
    FThumbnailView->Selection().Clear();
    for (int row : SelectedRows())
        FThumbnailView->Selection().Add(reinterpret_cast<quintptr>(FBookListModel->Item(row)));
    FThumbnailView->SelectionChanged();
    FSyncingSelection = false;
}

void TXALVarnixForm::SyncListSelection()
{
    if (FSyncingSelection) return;
    FSyncingSelection = true;
    QItemSelection selection;
    for (int i = 0; i < FThumbnailView->Selection().Count(); ++i) {
        const int row = FBookListModel->RowOf(reinterpret_cast<TFileItem*>(
            static_cast<quintptr>(FThumbnailView->Selection().Get(i))));
        if (row >= 0)
            selection.select(FBookListModel->index(row, 0), FBookListModel->index(row, 0));
    }
    FBookList->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect |
                                                       QItemSelectionModel::Rows);
    const int focus = FThumbnailView->FocusIndex();
    const int row = focus >= 0 && focus < FThumbnailView->Items().Count()
                        ? FBookListModel->RowOf(reinterpret_cast<TFileItem*>(
                              static_cast<quintptr>(FThumbnailView->Items().Get(focus))))
                        : -1;
    // A grid without a focused cover (a click on empty space) leaves the list without a current
    // book too; otherwise "open" and "information" would act on a book no longer chosen.
    FBookList->selectionModel()->setCurrentIndex(
        row >= 0 ? FBookListModel->index(row, 0) : QModelIndex(), QItemSelectionModel::NoUpdate);
    FSyncingSelection = false;
}

void TXALVarnixForm::HeaderClicked(int section)
{
    // One counter for the whole list: ascending, descending, unsorted, whichever column.
    FSortCounter = (FSortCounter + 1) % 3;
    TCursorControl wait;
    if (FSortCounter == 0)
        FBookListModel->Sort(-1, Qt::AscendingOrder);
    else
        FBookListModel->Sort(section, FSortCounter == 1 ? Qt::AscendingOrder : Qt::DescendingOrder);
    // The grid holds the same rows in the same order.
    FThumbnailView->BeginUpdate();
    FThumbnailView->Items().Clear();
    for (TFileItem* item : FBookListModel->Rows())
        FThumbnailView->Items().Add(reinterpret_cast<quintptr>(item));
    FThumbnailView->EndUpdate();
}

void TXALVarnixForm::UpdateViewVisibility()
{
    FThumbnailView->setVisible(ActViewThumb->isChecked());
    FBookList->setVisible(ActViewList->isChecked());
    FollowViews(FViewListBtn, FBookList, FViewThumbBtn, FThumbnailView, this);
}

int TXALVarnixForm::DropEffect(TCategory* target) const
{
    TCategory* current = CurrentCategory();
    if (!target || !current || target == current) return 0;
    const TItemStates t = target->GetState();
    if (!(t & isContainer) || (t & isMissing) || (current->GetState() & isMissing)) return 0;
    // Copy between the local library and a reader, move within one of them (and between the
    // two reader slots, which are of one class).
    const auto topOf = [this](TCategory* c) {
        while (c && c->Parent() && c->Parent() != FSystemCategory.get())
            c = c->Parent();
        return c;
    };
    TCategory* a = topOf(target);
    TCategory* b = topOf(current);
    if (a != b && a && b && typeid(*a) != typeid(*b)) return Qt::CopyAction;
    return Qt::MoveAction;
}

int TXALVarnixForm::NavigatorDropEffect(const QDropEvent* event, TCategory** target) const
{
    if (target) *target = nullptr;
    // Only books dragged from this window's book views: their data names this window's list.
    const QString type = QString::fromLatin1(TNavigatorModel::BooksMimeType);
    const QMimeData* data = event->mimeData();
    if (!data || !data->hasFormat(type) ||
        data->data(type) != QByteArray::number(qintptr(FBookListModel)))
        return 0;
    const QPoint at = event->position().toPoint();
    const QModelIndex index = FNavigator->indexAt(at);
    if (!index.isValid() || !FNavigator->visualRect(index).adjusted(0, 2, 0, -2).contains(at))
        return 0;
    TCategory* category = FNavigatorModel->Category(index);
    const int effect = DropEffect(category);
    if (effect && target) *target = category;
    return effect;
}

bool TXALVarnixForm::DropBooks(TCategory* target, int effect)
{
    if (!effect || !target) return false;
    if (TLongWork::Busy()) {
        // Another command is pumping: the drop waits for it and is checked again then.
        TLongWork::Defer(this, [this, ref = TItemRef<TCategory>(target), effect] {
            if (TCategory* t = ref.Get(); t && DropEffect(t) == effect) DropBooks(t, effect);
        });
        return false;
    }
    TLongWork work;
    const bool move = effect == Qt::MoveAction;
    const QString question =
        move ? QStringLiteral("准备移动选中的项，目标书架下同名文件将被覆盖。确定要继续吗？")
             : QStringLiteral("准备复制选中的项，目标书架下同名文件将被覆盖。确定要继续吗？");
    const std::uint64_t changes = TLongWork::ChangeCount();
    if (ShowMessageBox(question, QStringLiteral("确认"), mbYesNo | mbIconQuestion) != mrYes)
        return false;
    // The answer was given for what was shown: a reader that came or went meanwhile voids it.
    if (changes != TLongWork::ChangeCount() || DropEffect(target) != effect) {
        ShowStaleAnswer(changes);
        return false;
    }
    TCursorControl wait;
    const bool toReader = ReaderOf(target) != nullptr;
    const QList<int> rows = SelectedRows();
    QList<TFileItem*> items;
    for (int row : rows)
        items << FBookListModel->Item(row);
    if (items.isEmpty()) return false;
    // The progress of all the books' bytes, in thousandths, with the name of the one in hand.
    QList<qint64> before; // bytes of the books ahead of each
    qint64 total = 0;
    for (TFileItem* item : items) {
        before << total;
        total += std::max<qint64>(FileNames::Size(item->GetFullPath()), 0);
    }
    TStateForm progress(this);
    progress.SetCancelVisible(true);
    progress.SetText(QStringLiteral("准备中..."));
    progress.SetMax(1000);
    progress.show();
    int shown = -1;
    const auto tell = [&](int book, qint64 done, qint64) {
        if (book != shown) {
            shown = book;
            progress.SetText((move ? QStringLiteral("正在移动 %1 ...")
                                   : QStringLiteral("正在复制 %1 ..."))
                                 .arg(items[book]->Name()));
        }
        if (total > 0) progress.SetPosition(int(1000 * (before[book] + done) / total));
        return !progress.Cancelled();
    };
    const int result = CopyOrMoveBooks(target, items, move, tell);
    progress.SetText(QStringLiteral("完成中..."));
    progress.hide();
    if (move) {
        // The books that left (all of them, or those moved before a stop or a failure) leave
        // the views and the model.
        const QModelIndex focus = FBookList->currentIndex();
        const int focusRow = focus.isValid() ? focus.row() : -1;
        TCategory* current = CurrentCategory();
        bool removed = false;
        for (TFileItem* item : items) {
            if (FileNames::Exists(item->GetFullPath())) continue;
            const int row = FBookListModel->RowOf(item);
            if (row >= 0) RemoveBookRow(row);
            if (FSystemCategory->HasSearchResults())
                FSystemCategory->FindSearchResults()->Items().Remove(item);
            if (current) current->Items().Remove(item);
            removed = true;
        }
        if (removed && focusRow >= 0 && FBookListModel->rowCount() > 0)
            SelectBookRow(std::min(focusRow, FBookListModel->rowCount() - 1));
        FThumbnailView->viewport()->update();
    }
    target->SetLoadMode(lmItemsOnly);
    FNavigatorModel->Refresh(target);
    if (TCategory* current = CurrentCategory()) FNavigatorModel->Refresh(current);
    if (result != 0 && result != -ECANCELED) {
        // Told on the desktop first: the message box waits for a user who may be elsewhere.
        if (toReader)
            Notify::SendInBackground(Notify::CopySummary(move, true), FailureText(result));
        ShowMessageBox(FailureText(result), QString(), mbOK | mbIconExclamation);
        return false;
    }
    if (result == 0 && toReader)
        Notify::SendInBackground(Notify::CopySummary(move, false),
                                 Notify::CopyBody(int(items.size()), move));
    return result == 0;
}

bool TXALVarnixForm::RenameCategory(TCategory* category, const QString& text)
{
    if (text.size() > 64) {
        ShowMessageBox(QStringLiteral("新书架名称最多只能包含64个字符。"), QString(),
                       mbOK | mbIconExclamation);
        return false;
    }
    const int result = RenameBookshelf(category, text);
    if (result != 0) {
        ShowMessageBox(ShelfNameFailureText(QStringLiteral("重命名书架"), text,
                                            ReaderOf(category) != nullptr, result),
                       QString(), mbOK | mbIconExclamation);
        return false;
    }
    return true;
}

bool TXALVarnixForm::eventFilter(QObject* watched, QEvent* event)
{
    // Filters are installed while the window is still being built.
    if (!FNavigator || !FThumbnailView || !FBookListModel)
        return QMainWindow::eventFilter(watched, event);
    const bool isBookView = watched == FBookList;
    if (event->type() == QEvent::KeyPress && (isBookView || watched == FNavigator)) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        QAction* action = nullptr;
        if (isBookView) {
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                mods == Qt::AltModifier)
                action = ActFileInfo;
            else if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                     mods == Qt::NoModifier)
                action = ActOpenFile;
            else if (key->key() == Qt::Key_Insert)
                action = ActAddFileEx;
            else if (key->key() == Qt::Key_Delete)
                action = ActDelFile;
            else if (key->key() == Qt::Key_A && mods == Qt::ControlModifier)
                action = ActSelectAllFiles;
            else if (key->key() == Qt::Key_F5)
                action = ActFileRefresh;
        } else {
            if (key->key() == Qt::Key_Insert)
                action = ActNewFolder;
            else if (key->key() == Qt::Key_Delete)
                action = ActDelFolder;
            else if (key->key() == Qt::Key_F5)
                action = ActRefresh;
        }
        if (action) {
            Run(action);
            return true;
        }
    }
    if (watched == FThumbnailView->viewport()) {
        // Dragging a selected cover drags the list's selected rows, as from the list.
        if (event->type() == QEvent::MouseButtonPress) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const bool onItem = mouse->button() == Qt::LeftButton &&
                                FThumbnailView->ItemIndexAt(mouse->position().toPoint()) >= 0;
            FGridPressAt = onItem ? mouse->position().toPoint() : QPoint(-1, -1);
        } else if (event->type() == QEvent::MouseMove && FGridPressAt.x() >= 0) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if ((mouse->buttons() & Qt::LeftButton) &&
                (mouse->position().toPoint() - FGridPressAt).manhattanLength() >=
                    QApplication::startDragDistance() &&
                !SelectedRows().isEmpty()) {
                FGridPressAt = QPoint(-1, -1);
                auto* drag = new QDrag(FThumbnailView);
                drag->setMimeData(FBookListModel->mimeData({}));
                TLongWork work;
                drag->exec(Qt::CopyAction | Qt::MoveAction);
                return true;
            }
        } else if (event->type() == QEvent::MouseButtonRelease) {
            FGridPressAt = QPoint(-1, -1);
        }
    }
    if (watched == FNavigator->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const QModelIndex index = FNavigator->indexAt(mouse->position().toPoint());
            // A click on the focused store page shows its page again.
            if (mouse->button() == Qt::LeftButton && index.isValid() &&
                index == FNavigator->currentIndex() &&
                dynamic_cast<TBrowserCategory*>(FNavigatorModel->Category(index)))
                NavigatorFocusChanged(index);
            break;
        }
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            if (FPassingDrag) break;
            auto* drag = static_cast<QDragMoveEvent*>(event);
            const QString type = QString::fromLatin1(TNavigatorModel::BooksMimeType);
            if (!drag->mimeData() || !drag->mimeData()->hasFormat(type)) {
                drag->ignore();
                return true;
            }
            // The view expands and scrolls under the pointer and marks the node, but accepts
            // whatever its model could take: the answer is the drop's own, given after the
            // view's. A node that refuses gets no mark.
            const int effect =
                event->type() == QEvent::DragEnter ? Qt::CopyAction : NavigatorDropEffect(drag);
            FPassingDrag = true;
            FNavigator->setDropIndicatorShown(effect != 0);
            QCoreApplication::sendEvent(FNavigator->viewport(), drag);
            FNavigator->setDropIndicatorShown(true);
            FPassingDrag = false;
            if (event->type() == QEvent::DragEnter) {
                drag->acceptProposedAction(); // the moves decide
                return true;
            }
            const QRect rect =
                FNavigator->visualRect(FNavigator->indexAt(drag->position().toPoint()));
            if (effect) {
                drag->setDropAction(static_cast<Qt::DropAction>(effect));
                drag->accept(rect);
            } else {
                drag->ignore(rect);
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            TCategory* target = nullptr;
            const int effect = NavigatorDropEffect(drop, &target);
            drop->setDropAction(Qt::IgnoreAction);
            drop->accept();
            // The view never sees the drop (its model would try to read the books as its own
            // rows); it ends its drag state, mark and scrolling as when the pointer leaves.
            QDragLeaveEvent leave;
            QCoreApplication::sendEvent(FNavigator->viewport(), &leave);
            // The drop runs after the drag has ended; the target may be gone by then.
            if (effect)
                QTimer::singleShot(0, this, [this, ref = TItemRef<TCategory>(target), effect] {
                    if (TCategory* t = ref.Get()) DropBooks(t, effect);
                });
            return true;
        }
        default:
            break;
        }
    }
    if (watched == FSearchEdit) {
        if (event->type() == QEvent::FocusIn && FSearchPlaceholder) {
            ShowSearchPlaceholder(false);
            QTimer::singleShot(0, FSearchEdit, &QLineEdit::selectAll);
        } else if (event->type() == QEvent::FocusIn) {
            QTimer::singleShot(0, FSearchEdit, &QLineEdit::selectAll);
        } else if (event->type() == QEvent::FocusOut && FSearchEdit->text().isEmpty()) {
            ShowSearchPlaceholder(true);
        } else if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                Run(ActSearch);
                return true;
            }
            if (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier)) {
                PopupBelow(SearchMenu, FSearchOptionsButton, 8);
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TXALVarnixForm::ShowSearchPlaceholder(bool show)
{
    FSearchPlaceholder = show;
    if (show)
        FSearchEdit->setText(QStringLiteral("搜索图书"));
    else
        FSearchEdit->clear();
    ShowAsPlaceholder(FSearchEdit, show);
}
