#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>

// The list error: a bad index or an insertion that a sorted list refuses.
class EListError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum TDuplicates
{
    dupIgnore,
    dupAccept,
    dupError
};

// An ordered list of 64-bit integers. The thumbnail view keeps its items and its selection in
// two of these: values are opaque to it (they stand for book-list rows), so a plain array with
// cheap appends and an optional sorted mode is all it needs. Growth is in steps rather than
// doubling, which keeps large lists close to their size.
class TIntList
{
public:
    using TCompare = std::function<int(const TIntList& list, int index1, int index2)>;

    TIntList() = default;
    TIntList(const TIntList& other);
    TIntList& operator=(const TIntList& other);
    virtual ~TIntList() = default;

    // Unsorted: appends. Sorted: inserts in order; an existing value is handled by Duplicates.
    int Add(int64_t value);
    void Insert(int index, int64_t value);
    void Delete(int index);
    int64_t Get(int index) const;
    int64_t operator[](int index) const { return Get(index); }
    void Exchange(int index1, int index2);
    int IndexOf(int64_t value) const;
    // Binary search; `index` is the value's position (the first of equal values when duplicates
    // are accepted) or, when absent, where it would be inserted.
    virtual bool Find(int64_t value, int& index) const;
    void Clear();

    int Count() const { return FCount; }
    int Capacity() const { return FCapacity; }
    // Moves on with every change of the values or their order, so that whoever keeps indexes
    // into the list (the grid's accessibility layer) can tell they may no longer hold.
    uint64_t ChangeCount() const { return FChanges; }
    bool Sorted() const { return FSorted; }
    // Turning sorting on sorts the list.
    void SetSorted(bool sorted);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates duplicates) { FDuplicates = duplicates; }

    // Ascending; only an unsorted list of two or more values is sorted.
    virtual void Sort();
    virtual void CustomSort(const TCompare& compare);

    // A 32-bit count followed by each value as 8 bytes, little-endian. Loading clears the list
    // and adds each value; a short stream raises EListError and leaves the list empty.
    virtual void LoadFromStream(std::istream& stream);
    virtual void SaveToStream(std::ostream& stream) const;
    virtual void LoadFromFile(const std::string& fileName);
    // Written atomically: a failed save leaves the old file as it was.
    virtual void SaveToFile(const std::string& fileName) const;

private:
    void Grow();
    void InsertItem(int index, int64_t value);
    void CheckIndex(int index, int count) const;
    void QuickSort(int left, int right, const TCompare& compare);

    std::unique_ptr<int64_t[]> FList;
    int FCount = 0;
    int FCapacity = 0;
    bool FSorted = false;
    TDuplicates FDuplicates = dupIgnore;
    uint64_t FChanges = 0;
};
