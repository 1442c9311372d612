#include "rkIntegerList.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <random>
#include <sstream>
#include <vector>

namespace {

std::vector<int64_t> Values(const TIntList& list)
{
    std::vector<int64_t> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list.Get(i));
    return out;
}

template <typename F> std::string ErrorOf(F&& f)
{
    try {
        f();
    } catch (const EListError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(IntList, IndexErrorsCarryTheFixedText)
{
    TIntList list;
    list.Add(5);
    list.Add(6);
    EXPECT_EQ(ErrorOf([&] { list.Get(-1); }), "List index Error");
    EXPECT_EQ(ErrorOf([&] { list.Get(2); }), "List index Error");
    EXPECT_EQ(ErrorOf([&] { list.Delete(2); }), "List index Error");
    EXPECT_EQ(ErrorOf([&] { list.Insert(3, 1); }), "List index Error");
    EXPECT_EQ(ErrorOf([&] { list.Insert(-1, 1); }), "List index Error");
    EXPECT_EQ(ErrorOf([&] { list.Exchange(0, 2); }), "List index Error");
    EXPECT_EQ(Values(list), (std::vector<int64_t>{5, 6}));

    // Insert at count appends; Insert at 0 prepends.
    list.Insert(2, 7);
    list.Insert(0, 4);
    list.Exchange(0, 3);
    EXPECT_EQ(Values(list), (std::vector<int64_t>{7, 5, 6, 4}));
    list.Delete(1);
    EXPECT_EQ(Values(list), (std::vector<int64_t>{7, 6, 4}));
    EXPECT_EQ(list.IndexOf(4), 2);
    EXPECT_EQ(list.IndexOf(99), -1);
}

TEST(IntList, CapacityGrowsInSteps)
{
    TIntList list;
    std::vector<int> capacities;
    for (int i = 0; i < 200; ++i) {
        list.Add(i);
        if (capacities.empty() || capacities.back() != list.Capacity())
            capacities.push_back(list.Capacity());
    }
    // 4 up to 8, then 16 at a time up to 64 and beyond, then a quarter.
    EXPECT_EQ(capacities, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183, 228}));

    // Clear releases the storage; on an empty list it leaves the capacity alone.
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    list.Add(1);
    list.Delete(0);
    EXPECT_EQ(list.Capacity(), 4);
    list.Clear();
    EXPECT_EQ(list.Capacity(), 4);
}

TEST(IntList, SortedListsAndDuplicates)
{
    TIntList list;
    list.SetSorted(true);
    for (int64_t v : std::initializer_list<int64_t>{30, -5, INT64_MAX, 10, INT64_MIN, 20})
        list.Add(v);
    EXPECT_EQ(Values(list), (std::vector<int64_t>{INT64_MIN, -5, 10, 20, 30, INT64_MAX}));
    EXPECT_EQ(ErrorOf([&] { list.Insert(0, 1); }), "Cannont insert to sorted list");

    // Ignore (the default) answers the existing index and inserts nothing.
    EXPECT_EQ(list.Add(20), 3);
    EXPECT_EQ(list.Count(), 6);

    list.SetDuplicates(dupError);
    EXPECT_EQ(ErrorOf([&] { list.Add(20); }), "Cannot add integer because it already exists");
    EXPECT_EQ(list.Count(), 6);

    list.SetDuplicates(dupAccept);
    list.Add(20);
    list.Add(20);
    int index = -1;
    EXPECT_TRUE(list.Find(20, index));
    EXPECT_EQ(index, 3); // the first of the equal values
    EXPECT_EQ(list.IndexOf(20), 3);
    EXPECT_FALSE(list.Find(15, index));
    EXPECT_EQ(index, 3); // the insertion point
    EXPECT_FALSE(list.Find(INT64_MAX - 1, index));
    EXPECT_EQ(index, 7);
}

TEST(IntList, SortingOnAndCustomSort)
{
    std::mt19937_64 random(7);
    TIntList list;
    std::vector<int64_t> expected;
    for (int i = 0; i < 1000; ++i) {
        const auto v = int64_t(random() % 100) - 50; // many duplicates
        list.Add(v);
        expected.push_back(v);
    }
    list.SetSorted(true);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Values(list), expected);

    TIntList descending;
    for (int64_t v : {3, 1, 2, 5, 4})
        descending.Add(v);
    descending.CustomSort([](const TIntList& l, int a, int b) {
        return l.Get(a) > l.Get(b) ? -1 : l.Get(a) < l.Get(b) ? 1 : 0;
    });
    EXPECT_EQ(Values(descending), (std::vector<int64_t>{5, 4, 3, 2, 1}));
}

TEST(IntList, StreamAndFileRoundTrip)
{
    TIntList list;
    for (int64_t v : std::initializer_list<int64_t>{1, -1, INT64_MIN, 0x0102030405060708})
        list.Add(v);
    std::ostringstream out(std::ios::binary);
    list.SaveToStream(out);
    const std::string bytes = out.str();
    ASSERT_EQ(bytes.size(), 4u + 4 * 8);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x04\0\0\0", 4));
    EXPECT_EQ(bytes.substr(28, 8), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));

    QTemporaryDir dir;
    const std::string file = dir.filePath("list.bin").toStdString();
    list.SaveToFile(file);
    TIntList loaded;
    loaded.Add(99);
    loaded.LoadFromFile(file);
    EXPECT_EQ(Values(loaded), Values(list));

    // A cut stream is an error and leaves nothing half-read behind.
    std::istringstream cut(bytes.substr(0, 20), std::ios::binary);
    EXPECT_EQ(ErrorOf([&] { loaded.LoadFromStream(cut); }), "Stream read error");
    EXPECT_EQ(loaded.Count(), 0);
}
