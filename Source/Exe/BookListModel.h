#pragma once

#include <QAbstractTableModel>
#include <QList>

#include <functional>

class TFileItem;

// The book list's rows: one per book of the focused category, in the category's order until
// sorted. Rows hold their book; a book is read (EnsureLoaded) the first time its row is asked
// for text, so only the rows a view shows are ever read.
class TBookListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int ColumnCount = 17;
    static constexpr int SizeColumn = 9;

    explicit TBookListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;

    // The displayed text of a book in a column.
    static QString Text(TFileItem* item, int column);
    static QString Caption(int column);

    TFileItem* Item(int row) const { return FRows.value(row); }
    int RowOf(const TFileItem* item) const { return FRows.indexOf(const_cast<TFileItem*>(item)); }
    const QList<TFileItem*>& Rows() const { return FRows; }

    void Clear();
    void SetRows(const QList<TFileItem*>& rows);
    // Adds a row, at its sorted place while a sort column is set; returns its row.
    int AddRow(TFileItem* item);
    void RemoveRow(int row);
    void RowChanged(TFileItem* item);

    // Sorting: column -1 means the rows keep their present order.
    void Sort(int column, Qt::SortOrder order);
    int SortColumn() const { return FSortColumn; }

    // Called before a row's book is read for the first time (the window wires its events).
    std::function<void(TFileItem* item)> OnInitRow;
    // True while a book is being read: rows asked for meanwhile wait for a later paint.
    std::function<bool()> Busy;

private:
    bool LessThan(TFileItem* a, TFileItem* b) const;
    void InitRow(TFileItem* item) const;

    QList<TFileItem*> FRows;
    int FSortColumn = -1;
    Qt::SortOrder FSortOrder = Qt::AscendingOrder;
};
