#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>

#include <list>

class TBookReader;
class TFileItem;

// The covers the grid paints, made on demand and kept in memory only for the books shown last.
//
// A cover is asked for when its cell is painted; until the reading pool has made it the cell
// shows its placeholder, and CoverReady tells the view to paint again. Covers are remembered by
// the book's path, size and modification time, so a book that changed (and was read again) gets
// a new cover, and a book that was freed and listed again (a refresh, a reader plugged in again)
// finds its cover still here. The trade-off: a bounded number of covers (the least recently
// shown are dropped), so memory does not grow with the number of books looked at; a dropped
// cover that is shown again comes back from the desktop's thumbnail cache in a moment.
class TCoverCache : public QObject
{
    Q_OBJECT
public:
    explicit TCoverCache(TBookReader* reader, int capacity = 400, QObject* parent = nullptr);

    // The cover of a book whose information has been read; null while it is being made and for
    // books without one (`known` tells which). Asks the pool for it when it is not here.
    QImage Cover(TFileItem* item, bool* known = nullptr);
    // Forgets every cover (memory only).
    void Clear();
    int Count() const { return int(FEntries.size()); }
    int Capacity() const { return FCapacity; }
    // Covers asked for and not made yet.
    int Pending() const { return int(FPending.size()); }

signals:
    void CoverReady();

private:
    struct TEntry
    {
        QString Key;
        QImage Cover;
    };
    static QString KeyOf(TFileItem* item);
    void Insert(const QString& key, const QImage& cover);

    TBookReader* FReader;
    int FCapacity;
    std::list<TEntry> FEntries; // most recently shown first
    QHash<QString, std::list<TEntry>::iterator> FIndex;
    QSet<QString> FPending;
};
