#include "BookListModel.h"

#include "BookReader.h"
#include "Categories.h"
#include "Codec936.h"
#include "FileInfo.h"
#include "FileNames.h"
#include "LongWork.h"
#include "NavigatorModel.h"

#include <QMimeData>
#include <QPointer>

#include <algorithm>
#include <vector>

namespace {

const char* const Captions[TBookListModel::ColumnCount] = {
    "文件名", "标题", "作者", "类别", "主题",       "出版商", "加密", "创建日期", "修改日期",
    "大小",   "页数", "词数", "字数", "修订版本号", "关键字", "注释", "路径"};

const TBookInfoOffset InfoFields[TBookListModel::ColumnCount] = {
    biTitle,     biTitle,        biAuthor,           biCategory, biSubject,   biPublisher,
    biTitle,     biCreationDate, biModificationDate, biTitle,    biPageCount, biWordCount,
    biCharCount, biRevision,     biKeywords,         biComment,  biTitle};

// Texts compare by their code page 936 bytes with ASCII letters folded, as the list always
// sorted (so Chinese titles come in the code page's order).
QByteArray SortKey(const QString& text)
{
    QByteArray key = Cp936::FromUnicode(text);
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return key;
}

} // namespace

TBookListModel::TBookListModel(QObject* parent) : QAbstractTableModel(parent)
{
    FLoadTimer = new QTimer(this);
    FLoadTimer->setSingleShot(true);
    FLoadTimer->setInterval(0);
    connect(FLoadTimer, &QTimer::timeout, this, &TBookListModel::LoadNext);
    FAheadTimer = new QTimer(this);
    FAheadTimer->setSingleShot(true);
    FAheadTimer->setInterval(0);
    connect(FAheadTimer, &QTimer::timeout, this, &TBookListModel::ReadAhead);
}

int TBookListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TBookListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TBookListModel::Caption(int column)
{
    return QString::fromUtf8(Captions[column]);
}

QString TBookListModel::Text(TFileItem* item, int column)
{
    switch (column) {
    case 0:
        return item->Name();
    case 6:
        return item->Encrypted() ? QStringLiteral("是") : QString();
    case SizeColumn:
        return item->SizeText();
    case 16:
        return FileNames::Display(item->GetFullPath());
    default:
        return item->InfoText(InfoFields[column]);
    }
}

void TBookListModel::RequestLoad(TFileItem* item) const
{
    if (!item || item->Loaded() || item->ViewNode != this || FPending.contains(item) ||
        FReadingNow.contains(item) || FInFlight.contains(item))
        return;
    if (!FReader) {
        FPending.append(item);
        FLoadTimer->start();
        return;
    }
    QueueRead(item, true);
    const int row = RowOf(item);
    if (row >= 0) {
        FAskedLow = FAskedLow < 0 ? row : std::min(FAskedLow, row);
        FAskedHigh = std::max(FAskedHigh, row);
        FAheadTimer->start();
    }
}

void TBookListModel::QueueRead(TFileItem* item, bool urgent) const
{
    if (OnInitRow) OnInitRow(item);
    FInFlight.insert(item);
    TBookReader::TJob job;
    job.FullPath = item->GetFullPath();
    job.CacheKeyPath = item->CacheKeyPath();
    job.Info = true;
    // The book may be freed before the result comes (a reader leaves, the shelf is refreshed):
    // it is published only to the same book, alive and at the same place.
    QPointer<TBookListModel> self(const_cast<TBookListModel*>(this));
    job.Done = [self, item, ref = TItemRef<TFileItem>(item),
                path = job.FullPath](TBookReader::TResult& result) {
        if (self) self->FInFlight.remove(item);
        TFileItem* book = ref.Get();
        if (!book || result.Stopped || book->GetFullPath() != path) return;
        book->AcceptRead(result.Read);
    };
    FReader->Queue(std::move(job), urgent);
}

void TBookListModel::ReadAhead()
{
    // The rows next to the screen, so scrolling a little finds them read.
    const int low = FAskedLow, high = FAskedHigh;
    FAskedLow = FAskedHigh = -1;
    if (!FReader || low < 0) return;
    auto ahead = [this](int row) {
        TFileItem* item = FRows.value(row);
        if (item && !item->Loaded() && item->ViewNode == this && !FInFlight.contains(item))
            QueueRead(item, false);
    };
    for (int row = high + 1; row <= high + AheadBelow && row < FRows.size(); ++row)
        ahead(row);
    for (int row = low - 1; row >= low - AheadAbove && row >= 0; --row)
        ahead(row);
}

void TBookListModel::EnsureRowLoaded(TFileItem* item) const
{
    // A book whose read is pumping events is not read again from inside that pump.
    if (!item || item->Loaded() || FReadingNow.contains(item)) return;
    FPending.removeOne(item);
    if (OnInitRow) OnInitRow(item);
    TLongWork work; // the read pumps events
    FReadingNow.insert(item);
    item->EnsureLoaded();
    FReadingNow.remove(item);
}

void TBookListModel::LoadNext()
{
    // One book per turn of the event loop: input and painting go on between books.
    if (FPending.isEmpty()) return;
    TFileItem* item = FPending.takeFirst();
    EnsureRowLoaded(item);
    if (!FPending.isEmpty()) FLoadTimer->start();
}

void TBookListModel::Register(TFileItem* item)
{
    item->ViewNode = this;
}

void TBookListModel::Unregister(TFileItem* item)
{
    if (item->ViewNode == this) item->ViewNode = nullptr;
    FPending.removeOne(item);
    FInFlight.remove(item);
}

QVariant TBookListModel::data(const QModelIndex& index, int role) const
{
    TFileItem* item = Item(index.row());
    if (!item || index.column() < 0 || index.column() >= ColumnCount) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        RequestLoad(item);
        return Text(item, index.column());
    }
    if (role == Qt::TextAlignmentRole && index.column() >= SizeColumn && index.column() <= 12)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ForegroundRole && item->Loaded() && (item->State() & isMissing))
        return MissingColor;
    return {};
}

QVariant TBookListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount)
        return Caption(section);
    return {};
}

Qt::ItemFlags TBookListModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled
                           : Qt::NoItemFlags;
}

QStringList TBookListModel::mimeTypes() const
{
    return {QString::fromLatin1(TNavigatorModel::BooksMimeType)};
}

QMimeData* TBookListModel::mimeData(const QModelIndexList&) const
{
    // The dragged books are the list's selection; the data only marks the drag as ours.
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(TNavigatorModel::BooksMimeType),
                  QByteArray::number(qintptr(this)));
    return data;
}

Qt::DropActions TBookListModel::supportedDragActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

void TBookListModel::Clear()
{
    beginResetModel();
    for (TFileItem* item : FRows)
        if (item->ViewNode == this) item->ViewNode = nullptr;
    FRows.clear();
    FPending.clear();
    FInFlight.clear();
    // What waits to be read belongs to rows no longer shown.
    if (FReader) FReader->DropWaiting();
    endResetModel();
}

void TBookListModel::SetRows(const QList<TFileItem*>& rows)
{
    beginResetModel();
    for (TFileItem* item : FRows)
        Unregister(item);
    if (FReader) FReader->DropWaiting();
    FRows = rows;
    for (TFileItem* item : FRows)
        Register(item);
    endResetModel();
    if (FSortColumn >= 0) Sort(FSortColumn, FSortOrder);
}

int TBookListModel::AddRow(TFileItem* item)
{
    int row = static_cast<int>(FRows.size());
    Register(item);
    if (FSortColumn >= 0) {
        EnsureRowLoaded(item);
        row = static_cast<int>(
            std::upper_bound(FRows.begin(), FRows.end(), item,
                             [this](TFileItem* a, TFileItem* b) { return LessThan(a, b); }) -
            FRows.begin());
    }
    beginInsertRows(QModelIndex(), row, row);
    FRows.insert(row, item);
    endInsertRows();
    return row;
}

void TBookListModel::RemoveRow(int row)
{
    if (row < 0 || row >= FRows.size()) return;
    beginRemoveRows(QModelIndex(), row, row);
    TFileItem* item = FRows.takeAt(row);
    Unregister(item);
    endRemoveRows();
}

void TBookListModel::RowChanged(TFileItem* item)
{
    const int row = RowOf(item);
    if (row >= 0) emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

bool TBookListModel::LessThan(TFileItem* a, TFileItem* b) const
{
    int result;
    if (FSortColumn == SizeColumn)
        result = a->Size() < b->Size() ? -1 : (a->Size() > b->Size() ? 1 : 0);
    else
        result = SortKey(Text(a, FSortColumn)).compare(SortKey(Text(b, FSortColumn)));
    return FSortOrder == Qt::AscendingOrder ? result < 0 : result > 0;
}

void TBookListModel::Sort(int column, Qt::SortOrder order)
{
    FSortColumn = column;
    FSortOrder = order;
    if (column < 0 || FRows.isEmpty()) return;
    // Every row's text is needed. Reading pumps events, during which rows may be added (search
    // hits), so the books are read first, from a copy, and the order is changed afterwards
    // without any pump.
    const QList<TFileItem*> toRead = FRows;
    for (TFileItem* item : toRead)
        if (item->ViewNode == this) EnsureRowLoaded(item);
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    QList<TFileItem*> old = FRows;
    // Each key is made once.
    struct TKeyed
    {
        QByteArray Key;
        qint64 Size;
        TFileItem* Item;
    };
    std::vector<TKeyed> keyed;
    keyed.reserve(static_cast<size_t>(FRows.size()));
    for (TFileItem* item : FRows) {
        keyed.push_back({column == SizeColumn ? QByteArray() : SortKey(Text(item, column)),
                         item->Size(), item});
    }
    const bool ascending = order == Qt::AscendingOrder;
    std::stable_sort(keyed.begin(), keyed.end(), [&](const TKeyed& a, const TKeyed& b) {
        const int r = column == SizeColumn ? (a.Size < b.Size ? -1 : (a.Size > b.Size ? 1 : 0))
                                           : a.Key.compare(b.Key);
        return ascending ? r < 0 : r > 0;
    });
    for (size_t i = 0; i < keyed.size(); ++i)
        FRows[static_cast<qsizetype>(i)] = keyed[i].Item;
    QModelIndexList after;
    for (const QModelIndex& i : before)
        after << index(RowOf(old.value(i.row())), i.column());
    changePersistentIndexList(before, after);
    emit layoutChanged();
}
