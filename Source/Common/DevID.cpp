#include "DevID.h"

#include <cstring>

namespace {

const std::uint8_t* Bytes(const TDeviceIdentity& identity)
{
    return reinterpret_cast<const std::uint8_t*>(&identity);
}

std::uint16_t Word16(const TDeviceIdentity& identity, std::size_t offset)
{
    const std::uint8_t* b = Bytes(identity) + offset;
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t Word32(const TDeviceIdentity& identity, std::size_t offset)
{
    const std::uint8_t* b = Bytes(identity) + offset;
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

} // namespace

bool IsNoReader(const TDeviceIdentity& identity)
{
    return Word32(identity, 72) == 0 && Word32(identity, 76) == 0;
}

bool IsKnownReader(const TDeviceIdentity& identity)
{
    return ReaderCode(identity) != 0;
}

std::uint16_t ReaderCode(const TDeviceIdentity& identity)
{
    return Word16(identity, 76);
}

std::uint8_t Manufacturer(const TDeviceIdentity& identity)
{
    return identity.ManufacturerCode;
}

std::uint8_t Model(const TDeviceIdentity& identity)
{
    return identity.ModelCode;
}

std::uint8_t Edition(const TDeviceIdentity& identity)
{
    return identity.EditionCode;
}

std::string IdentifierText(const TDeviceIdentity& identity)
{
    // Bounded by the 65-character limit, so a record without a NUL cannot overrun.
    const char* text = identity.IdText;
    return std::string(text, strnlen(text, MaxIdTextLength));
}

std::uint8_t FirmwareMajor(const TDeviceIdentity& identity)
{
    return identity.VendorExtra[2];
}

std::uint8_t FirmwareBuild(const TDeviceIdentity& identity)
{
    return identity.VendorExtra[3];
}

std::uint16_t VendorExtraWord(const TDeviceIdentity& identity)
{
    return Word16(identity, 68);
}
