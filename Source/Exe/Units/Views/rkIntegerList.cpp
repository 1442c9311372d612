#include "rkIntegerList.h"

#include "AtomicFile.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

namespace {

const char SListIndexError[] = "List index Error";
const char SSortedListError[] = "Cannont insert to sorted list";
const char SDuplicateInt[] = "Cannot add integer because it already exists";

} // namespace

TIntList::TIntList(const TIntList& other)
{
    *this = other;
}

TIntList& TIntList::operator=(const TIntList& other)
{
    if (this == &other) return *this;
    FList.reset(other.FCapacity > 0 ? new int64_t[size_t(other.FCapacity)] : nullptr);
    if (other.FCount > 0)
        std::memcpy(FList.get(), other.FList.get(), size_t(other.FCount) * sizeof(int64_t));
    FCount = other.FCount;
    FCapacity = other.FCapacity;
    FSorted = other.FSorted;
    FDuplicates = other.FDuplicates;
    ++FChanges;
    return *this;
}

void TIntList::CheckIndex(int index, int count) const
{
    if (index < 0 || index >= count) throw EListError(SListIndexError);
}

void TIntList::Grow()
{
    const int delta = FCapacity > 64 ? FCapacity / 4 : FCapacity > 8 ? 16 : 4;
    const int capacity = FCapacity + delta;
    auto list = std::make_unique<int64_t[]>(size_t(capacity));
    if (FCount > 0) std::memcpy(list.get(), FList.get(), size_t(FCount) * sizeof(int64_t));
    FList = std::move(list);
    FCapacity = capacity;
}

void TIntList::InsertItem(int index, int64_t value)
{
    if (FCount == FCapacity) Grow();
    if (index < FCount)
        std::memmove(&FList[size_t(index) + 1], &FList[size_t(index)],
                     size_t(FCount - index) * sizeof(int64_t));
    FList[size_t(index)] = value;
    ++FCount;
    ++FChanges;
}

int TIntList::Add(int64_t value)
{
    int index = FCount;
    if (FSorted && Find(value, index)) {
        if (FDuplicates == dupIgnore) return index;
        if (FDuplicates == dupError) throw EListError(SDuplicateInt);
    }
    InsertItem(index, value);
    return index;
}

void TIntList::Insert(int index, int64_t value)
{
    if (FSorted) throw EListError(SSortedListError);
    CheckIndex(index, FCount + 1);
    InsertItem(index, value);
}

void TIntList::Delete(int index)
{
    CheckIndex(index, FCount);
    --FCount;
    ++FChanges;
    if (index < FCount)
        std::memmove(&FList[size_t(index)], &FList[size_t(index) + 1],
                     size_t(FCount - index) * sizeof(int64_t));
}

int64_t TIntList::Get(int index) const
{
    CheckIndex(index, FCount);
    return FList[size_t(index)];
}

void TIntList::Exchange(int index1, int index2)
{
    CheckIndex(index1, FCount);
    CheckIndex(index2, FCount);
    std::swap(FList[size_t(index1)], FList[size_t(index2)]);
    ++FChanges;
}

int TIntList::IndexOf(int64_t value) const
{
    if (FSorted) {
        int index;
        return Find(value, index) ? index : -1;
    }
    for (int i = 0; i < FCount; ++i)
        if (FList[size_t(i)] == value) return i;
    return -1;
}

bool TIntList::Find(int64_t value, int& index) const
{
    bool found = false;
    int low = 0;
    int high = FCount - 1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const int64_t item = FList[size_t(mid)];
        if (item < value) {
            low = mid + 1;
        } else {
            high = mid - 1;
            if (item == value) {
                found = true;
                // With duplicates the search goes on to the first of the equal values.
                if (FDuplicates != dupAccept) low = mid;
            }
        }
    }
    index = low;
    return found;
}

void TIntList::Clear()
{
    if (FCount == 0) return;
    FList.reset();
    FCount = 0;
    FCapacity = 0;
    ++FChanges;
}

void TIntList::SetSorted(bool sorted)
{
    if (sorted == FSorted) return;
    if (sorted) Sort();
    FSorted = sorted;
}

void TIntList::Sort()
{
    if (FSorted || FCount <= 1) return;
    CustomSort([](const TIntList& list, int a, int b) {
        const int64_t x = list.FList[size_t(a)];
        const int64_t y = list.FList[size_t(b)];
        return x < y ? -1 : x > y ? 1 : 0;
    });
}

void TIntList::CustomSort(const TCompare& compare)
{
    if (FSorted || FCount <= 1) return;
    QuickSort(0, FCount - 1, compare);
    ++FChanges;
}

void TIntList::QuickSort(int left, int right, const TCompare& compare)
{
    // Recurses into the smaller half only, so the depth stays logarithmic.
    while (left < right) {
        int i = left;
        int j = right;
        int pivot = left + (right - left) / 2;
        while (i <= j) {
            while (compare(*this, i, pivot) < 0)
                ++i;
            while (compare(*this, j, pivot) > 0)
                --j;
            if (i <= j) {
                if (i != j) {
                    std::swap(FList[size_t(i)], FList[size_t(j)]);
                    if (pivot == i)
                        pivot = j;
                    else if (pivot == j)
                        pivot = i;
                }
                ++i;
                --j;
            }
        }
        if (j - left < right - i) {
            QuickSort(left, j, compare);
            left = i;
        } else {
            QuickSort(i, right, compare);
            right = j;
        }
    }
}

void TIntList::LoadFromStream(std::istream& stream)
{
    Clear();
    auto readBytes = [&stream](unsigned char* bytes, int n) {
        if (!stream.read(reinterpret_cast<char*>(bytes), n)) throw EListError("Stream read error");
    };
    unsigned char head[4];
    readBytes(head, 4);
    const uint32_t count = uint32_t(head[0]) | uint32_t(head[1]) << 8 | uint32_t(head[2]) << 16 |
                           uint32_t(head[3]) << 24;
    try {
        for (uint32_t i = 0; i < count; ++i) {
            unsigned char b[8];
            readBytes(b, 8);
            uint64_t v = 0;
            for (int k = 7; k >= 0; --k)
                v = v << 8 | b[k];
            Add(int64_t(v));
        }
    } catch (...) {
        Clear();
        throw;
    }
}

void TIntList::SaveToStream(std::ostream& stream) const
{
    const auto count = uint32_t(FCount);
    const unsigned char head[4] = {uint8_t(count), uint8_t(count >> 8), uint8_t(count >> 16),
                                   uint8_t(count >> 24)};
    stream.write(reinterpret_cast<const char*>(head), 4);
    for (int i = 0; i < FCount; ++i) {
        const auto v = uint64_t(FList[size_t(i)]);
        unsigned char b[8];
        for (int k = 0; k < 8; ++k)
            b[k] = uint8_t(v >> (8 * k));
        stream.write(reinterpret_cast<const char*>(b), 8);
    }
}

void TIntList::LoadFromFile(const std::string& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file) throw EListError("Cannot open file " + fileName);
    LoadFromStream(file);
}

void TIntList::SaveToFile(const std::string& fileName) const
{
    std::ostringstream out(std::ios::binary);
    SaveToStream(out);
    const std::string bytes = out.str();
    if (!WriteFileAtomically(QFile::decodeName(fileName.c_str()),
                             QByteArray(bytes.data(), qsizetype(bytes.size()))))
        throw EListError("Cannot write file " + fileName);
}
