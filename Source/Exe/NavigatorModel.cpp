#include "NavigatorModel.h"

#include "Categories.h"

#include <QIcon>
#include <QPalette>

const char* TNavigatorModel::BooksMimeType = "application/x-korvel-books";

TNavigatorModel::TNavigatorModel(TSystemCategory* root, QObject* parent)
    : QAbstractItemModel(parent), FRoot(root)
{
    FTopLevelRows = FRoot->CategoryCount();
    for (int i = 0; i < FTopLevelRows; ++i)
        FRoot->Category(i)->ViewNode = this;
}

TCategory* TNavigatorModel::Category(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<TCategory*>(index.internalPointer()) : nullptr;
}

QModelIndex TNavigatorModel::IndexOf(TCategory* category) const
{
    if (!category || category == FRoot || !category->Parent() || !category->ViewNode) return {};
    const int row = category->Parent()->Categories().IndexOf(category);
    return row < 0 ? QModelIndex() : createIndex(row, 0, category);
}

QModelIndex TNavigatorModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0 || row >= rowCount(parent)) return {};
    TCategory* owner = parent.isValid() ? Category(parent) : FRoot;
    return createIndex(row, 0, owner->Category(row));
}

QModelIndex TNavigatorModel::parent(const QModelIndex& child) const
{
    TCategory* category = Category(child);
    return category ? IndexOf(category->Parent()) : QModelIndex();
}

int TNavigatorModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid()) return FTopLevelRows;
    if (parent.column() != 0) return 0;
    TCategory* category = Category(parent);
    return FShown.contains(category) ? category->CategoryCount() : 0;
}

int TNavigatorModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool TNavigatorModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid()) return FTopLevelRows > 0;
    TCategory* category = Category(parent);
    if (FShown.contains(category)) return category->CategoryCount() > 0;
    return category->HasChildren();
}

bool TNavigatorModel::canFetchMore(const QModelIndex& parent) const
{
    return parent.isValid() && !FShown.contains(Category(parent));
}

void TNavigatorModel::fetchMore(const QModelIndex& parent)
{
    TCategory* category = Category(parent);
    if (!category || FShown.contains(category)) return;
    category->EnsureLoaded();
    ShowChildren(parent);
}

void TNavigatorModel::ShowChildren(const QModelIndex& index)
{
    TCategory* category = Category(index);
    if (!category || FShown.contains(category)) return;
    const int count = category->CategoryCount();
    if (count > 0) beginInsertRows(index, 0, count - 1);
    FShown.insert(category);
    for (int i = 0; i < count; ++i)
        category->Category(i)->ViewNode = this;
    if (count > 0) endInsertRows();
}

void TNavigatorModel::Forget(TCategory* category)
{
    if (!FShown.remove(category)) return;
    for (int i = 0; i < category->CategoryCount(); ++i) {
        TCategory* child = category->Category(i);
        child->ViewNode = nullptr;
        Forget(child);
    }
}

void TNavigatorModel::RemoveChildren(const QModelIndex& index)
{
    TCategory* category = Category(index);
    if (!category || !FShown.contains(category)) return;
    const int count = category->CategoryCount();
    if (count > 0) beginRemoveRows(index, 0, count - 1);
    Forget(category);
    if (count > 0) endRemoveRows();
}

void TNavigatorModel::ChildAdded(const QModelIndex& parent)
{
    TCategory* category = parent.isValid() ? Category(parent) : FRoot;
    if (parent.isValid() && !FShown.contains(category)) {
        ShowChildren(parent);
        return;
    }
    const int row = category->CategoryCount() - 1;
    beginInsertRows(parent, row, row);
    category->Category(row)->ViewNode = this;
    if (!parent.isValid()) FTopLevelRows = FRoot->CategoryCount();
    endInsertRows();
}

void TNavigatorModel::BeginRemoveChild(const QModelIndex& index)
{
    TCategory* category = Category(index);
    // Announced while the branch is still whole: the view finds the indexes it keeps below the
    // node by walking their parents, and must drop every one of them.
    beginRemoveRows(index.parent(), index.row(), index.row());
    Forget(category);
    category->ViewNode = nullptr;
}

void TNavigatorModel::EndRemoveChild()
{
    FTopLevelRows = FRoot->CategoryCount();
    endRemoveRows();
}

void TNavigatorModel::SyncTopLevel()
{
    const int count = FRoot->CategoryCount();
    if (count > FTopLevelRows) {
        beginInsertRows(QModelIndex(), FTopLevelRows, count - 1);
        for (int i = FTopLevelRows; i < count; ++i)
            FRoot->Category(i)->ViewNode = this;
        FTopLevelRows = count;
        endInsertRows();
    }
}

void TNavigatorModel::Refresh(TCategory* category)
{
    const QModelIndex index = IndexOf(category);
    if (index.isValid()) emit dataChanged(index, index);
}

QVariant TNavigatorModel::data(const QModelIndex& index, int role) const
{
    TCategory* category = Category(index);
    if (!category) return {};
    switch (role) {
    case Qt::DisplayRole: {
        // Loaded folder categories that exist show their book count.
        QString text = category->Name();
        if (category->Loaded() && dynamic_cast<TFileSystemCategory*>(category) &&
            !(category->GetState() & isMissing))
            text += QStringLiteral(" (%1)").arg(category->ItemCount());
        return text;
    }
    case Qt::EditRole:
        return category->Name();
    case Qt::DecorationRole:
        return (category->State() & isModifiable) ? ShelfIcon : FixedIcon;
    case Qt::ForegroundRole:
        if (category->GetState() & isMissing) return DisabledColor;
        return {};
    case Qt::ToolTipRole:
        return category->Name();
    default:
        return {};
    }
}

bool TNavigatorModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    TCategory* category = Category(index);
    if (role != Qt::EditRole || !category || !OnRename) return false;
    const QString text = value.toString();
    if (text == category->Name()) return false;
    if (!OnRename(category, text)) return false;
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags TNavigatorModel::flags(const QModelIndex& index) const
{
    TCategory* category = Category(index);
    if (!category) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    const TItemStates state = category->State();
    if ((state & isModifiable) && !(state & isMissing)) f |= Qt::ItemIsEditable;
    return f;
}

QStringList TNavigatorModel::mimeTypes() const
{
    return {QString::fromLatin1(BooksMimeType)};
}

Qt::DropActions TNavigatorModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}
