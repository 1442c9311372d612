#include "FormatFileSize.h"

#include <gtest/gtest.h>

TEST(FormatFileSize, DividesWhileAbove1024UpToTerabytes)
{
    const struct
    {
        std::int64_t Bytes;
        const char* Text;
    } cases[] = {
        {0, "0 B"},
        {900, "900 B"},
        {1024, "1024 B"}, // not above 1024: no division
        {1025, "1 K"},
        {1536, "1.5 K"},
        {1234567, "1.18 M"},
        {1048576, "1024 K"},
        {1048577, "1 M"},
        {3LL * 1024 * 1024 * 1024 + 256LL * 1024 * 1024, "3.25 G"},
        {5LL << 40, "5 T"},
        {1LL << 52, "4096 T"}, // at most four divisions
    };
    for (const auto& c : cases) EXPECT_EQ(FormatFileSize(c.Bytes), QString::fromLatin1(c.Text)) << c.Bytes;
}
