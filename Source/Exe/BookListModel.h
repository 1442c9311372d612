#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QSet>
#include <QTimer>

#include <functional>

class TFileItem;

// The book list's rows: one per book of the focused category, in the category's order until
// sorted. Every row's book knows its row (ViewNode), so a book that is freed, whoever frees it,
// leaves the list and the grid at once. A book is read the first time a view asks for its row;
// the read is queued and runs from the event loop, never inside a paint (a read pumps events),
// so only the rows a view shows are ever read.
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

    // Asks for the book to be read soon (a view wants to show it); does nothing when it is read.
    void RequestLoad(TFileItem* item) const;
    // Reads the book now, with events pumped meanwhile; for callers that need its texts at once
    // (sorting) and are not painting.
    void EnsureRowLoaded(TFileItem* item) const;
    // Books queued for reading.
    int PendingLoads() const { return static_cast<int>(FPending.size()); }

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
    // The text colour of books whose file is gone (the skin's, once the window has one).
    QColor MissingColor{Qt::gray};

private:
    bool LessThan(TFileItem* a, TFileItem* b) const;
    void Register(TFileItem* item);
    void Unregister(TFileItem* item);
    void LoadNext();

    QList<TFileItem*> FRows;
    mutable QList<TFileItem*> FPending;    // rows waiting to be read, oldest request first
    mutable QSet<TFileItem*> FReadingNow;  // rows whose read is on the stack
    QTimer* FLoadTimer = nullptr;
    int FSortColumn = -1;
    Qt::SortOrder FSortOrder = Qt::AscendingOrder;
};
