#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The identity of an attached reader as the identification library hands it over. Both sides
// exchange the record as raw memory, so every field sits at a fixed offset and the whole record
// is exactly 88 bytes; the asserts below keep it that way. Whoever asks for a record zeroes it
// first, and every byte the library does not write stays zero.
struct TDeviceIdentity
{
    std::uint8_t IdKind;          // 0 no identity; 1 when ModelCode is 'V', else 2
    char IdText[67];              // upper-case hexadecimal identifier, NUL-padded
    std::uint8_t VendorExtra[4];  // vendor bytes 5..8, only for "TAVO" readers
    std::uint8_t IdentityHead[4]; // start of the identity block, not interpreted
    std::uint8_t EditionCode;
    std::uint8_t ModelCode;
    std::uint8_t IdentityByte78; // part of the identity block, not interpreted
    std::uint8_t ManufacturerCode;
    std::uint8_t Reserved[8]; // always zero
};

static_assert(sizeof(TDeviceIdentity) == 88);
static_assert(offsetof(TDeviceIdentity, IdKind) == 0);
static_assert(offsetof(TDeviceIdentity, IdText) == 1);
static_assert(offsetof(TDeviceIdentity, VendorExtra) == 68);
static_assert(offsetof(TDeviceIdentity, IdentityHead) == 72);
static_assert(offsetof(TDeviceIdentity, EditionCode) == 76);
static_assert(offsetof(TDeviceIdentity, ModelCode) == 77);
static_assert(offsetof(TDeviceIdentity, IdentityByte78) == 78);
static_assert(offsetof(TDeviceIdentity, ManufacturerCode) == 79);
static_assert(offsetof(TDeviceIdentity, Reserved) == 80);

// Offsets of the record that other units read as plain bytes or words.
constexpr std::size_t IdentityBlockOffset = 72;
constexpr std::size_t IdentityBlockSize = 8;
constexpr std::size_t MaxIdTextLength = 65; // what the store reads at most

// The readings the other units rely on. Words are read little-endian, as the record is laid out
// in memory on the machines the record was defined for.

// The 32-bit words at 72 and 76 are both zero: no reader was identified.
bool IsNoReader(const TDeviceIdentity& identity);

// The 16-bit word at 76 (edition low, model high) is nonzero: a reader of a known model.
bool IsKnownReader(const TDeviceIdentity& identity);

// The 16-bit word at 76: edition code in the low byte, model code in the high byte.
std::uint16_t ReaderCode(const TDeviceIdentity& identity);

std::uint8_t Manufacturer(const TDeviceIdentity& identity);
std::uint8_t Model(const TDeviceIdentity& identity);
std::uint8_t Edition(const TDeviceIdentity& identity);

// The identifier text for the store: at most 65 characters from offset 1, up to the first NUL.
std::string IdentifierText(const TDeviceIdentity& identity);

// The reader's firmware version, carried in VendorExtra: the major number is its third byte
// (offset 70), the build number its fourth (offset 71); the 16-bit word at 68 is read as is.
std::uint8_t FirmwareMajor(const TDeviceIdentity& identity);
std::uint8_t FirmwareBuild(const TDeviceIdentity& identity);
std::uint16_t VendorExtraWord(const TDeviceIdentity& identity);
