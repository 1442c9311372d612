#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QSet>
#include <QTimer>

#include <functional>

class TBookReader;
class TFileItem;

// The book list's rows: one per book of the focused category, in the category's order until
// sorted. Every row's book knows its row (ViewNode), so a book that is freed, whoever frees it,
// leaves the list and the grid at once. A book is read the first time a view asks for its row,
// never inside a paint: with a reading pool (BookReader.h) the rows painted now are read first,
// on the pool's threads, and the rows next to them after; the results arrive as posted events.
// Without a pool the reads are queued and run from the event loop, one per turn. Either way only
// the rows a view shows, and their neighbours, are ever read.
class TBookListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int ColumnCount = 17;
    static constexpr int SizeColumn = 9;

    explicit TBookListModel(QObject* parent = nullptr);
    // Reads rows on this pool from now on (it must outlive the model's use of it).
    void SetReader(TBookReader* reader) { FReader = reader; }
    // Rows read ahead of the screen, below and above the rows painted.
    static constexpr int AheadBelow = 32;
    static constexpr int AheadAbove = 16;

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
    // Books queued for reading or being read.
    int PendingLoads() const { return static_cast<int>(FPending.size() + FInFlight.size()); }

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
    // Hands a row to the pool; `urgent` for rows being painted.
    void QueueRead(TFileItem* item, bool urgent) const;
    void ReadAhead();

    QList<TFileItem*> FRows;
    mutable QList<TFileItem*> FPending;    // rows waiting to be read, oldest request first
    mutable QSet<TFileItem*> FReadingNow;  // rows whose read is on the stack
    QTimer* FLoadTimer = nullptr;
    TBookReader* FReader = nullptr;
    mutable QSet<TFileItem*> FInFlight; // rows the pool is reading
    mutable int FAskedLow = -1, FAskedHigh = -1; // rows painted since the last read-ahead
    QTimer* FAheadTimer = nullptr;
    int FSortColumn = -1;
    Qt::SortOrder FSortOrder = Qt::AscendingOrder;
};
