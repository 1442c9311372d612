#include "DevID.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TDeviceIdentity Zeroed()
{
    TDeviceIdentity identity;
    std::memset(&identity, 0, sizeof identity);
    return identity;
}

void Put(TDeviceIdentity& identity, std::size_t offset, std::uint8_t value)
{
    reinterpret_cast<std::uint8_t*>(&identity)[offset] = value;
}

} // namespace

TEST(DevID, ReadingsOfPresenceAndCodes)
{
    struct Case
    {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
        bool noReader;
        bool known;
    };
    const Case cases[] = {
        {"zeroed record", 0, 0, true, false},
        {"identity head set, codes zero", 73, 0x11, false, false},
        {"manufacturer only", 79, 0x02, false, false},
        {"unnamed byte 78 only", 78, 0x02, false, false},
        {"edition set", 76, 0x01, false, true},
        {"model set", 77, 0x56, false, true},
        {"vendor extra alone is no reader", 68, 0x09, true, false},
    };
    for (const Case& c : cases) {
        TDeviceIdentity identity = Zeroed();
        Put(identity, c.offset, c.value);
        EXPECT_EQ(IsNoReader(identity), c.noReader) << c.what;
        EXPECT_EQ(IsKnownReader(identity), c.known) << c.what;
    }
}

TEST(DevID, CodesAndFirmwareComeFromTheirOffsets)
{
    TDeviceIdentity identity = Zeroed();
    Put(identity, 68, 0x34);
    Put(identity, 69, 0x12);
    Put(identity, 70, 1);
    Put(identity, 71, 36);
    Put(identity, 76, 0x02);
    Put(identity, 77, 0x56);
    Put(identity, 79, 0x07);
    EXPECT_EQ(ReaderCode(identity), 0x5602);
    EXPECT_EQ(Edition(identity), 0x02);
    EXPECT_EQ(Model(identity), 0x56);
    EXPECT_EQ(Manufacturer(identity), 0x07);
    EXPECT_EQ(FirmwareMajor(identity), 1);
    EXPECT_EQ(FirmwareBuild(identity), 36);
    EXPECT_EQ(VendorExtraWord(identity), 0x1234);
}

TEST(DevID, IdentifierTextStopsAtNulOrAt65Characters)
{
    TDeviceIdentity identity = Zeroed();
    std::memset(identity.IdText, 'A', 64);
    EXPECT_EQ(IdentifierText(identity), std::string(64, 'A'));

    // A record filled without a terminator up to offset 67 still yields only 65 characters,
    // and the reading never runs into VendorExtra.
    std::memset(identity.IdText, 'B', sizeof identity.IdText);
    Put(identity, 68, 'C');
    EXPECT_EQ(IdentifierText(identity), std::string(65, 'B'));

    EXPECT_EQ(IdentifierText(Zeroed()), "");
}
