#pragma once

#include <QAbstractItemModel>
#include <QColor>
#include <QIcon>
#include <QSet>

#include <functional>

class TCategory;
class TSystemCategory;

// The navigator's view of the library model: one node per category, children asked for only
// when a node is expanded. The model holds no copy of the tree: each index points at its
// category, and a category's ViewNode marks that it has a node. Which nodes have their
// children shown is remembered, so rows are announced to the view exactly when they appear.
class TNavigatorModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    // The MIME type of books dragged from the book views; nothing else may be dropped.
    static const char* BooksMimeType;

    explicit TNavigatorModel(TSystemCategory* root, QObject* parent = nullptr);

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;

    TCategory* Category(const QModelIndex& index) const;
    QModelIndex IndexOf(TCategory* category) const;

    // The top-level nodes follow the root's children (a search-result node is added at the end).
    void SyncTopLevel();
    // Drops the node's children (and what is known of them) before the category reloads.
    void RemoveChildren(const QModelIndex& index);
    // Shows the children of a node whose category is loaded.
    void ShowChildren(const QModelIndex& index);
    // Announces one new child category at the end of the node's children.
    void ChildAdded(const QModelIndex& parent);
    // Announces that a node's child is about to go (the caller deletes the category after).
    void BeginRemoveChild(const QModelIndex& index);
    void EndRemoveChild();
    // Repaints a node (its book count).
    void Refresh(TCategory* category);

    // Called with the category and the new text; returns false to keep the old name.
    std::function<bool(TCategory* category, const QString& text)> OnRename;
    // Icons for a fixed node and a user's bookshelf.
    QIcon FixedIcon;
    QIcon ShelfIcon;
    QColor DisabledColor;

private:
    void Forget(TCategory* category);

    TSystemCategory* FRoot;
    int FTopLevelRows = 0;
    QSet<const TCategory*> FShown; // nodes whose child rows exist
};
