#pragma once

#include <cstdint>
#include <string>

// What the identification library learns about one drive: its storage descriptor (the SCSI
// inquiry of the disk behind the drive's volume, read through sysfs), its drive type, and how
// to eject it. Made afresh for every question, so the answers always describe the drive as it
// is now.
class TDiskInfo
{
public:
    explicit TDiskInfo(const std::string& drive = {});

    // Strips a trailing "/" or "\"; a different drive is stored and re-read.
    void SetDrive(std::string drive);
    // Re-reads everything; fields of a drive that cannot be read stay cleared.
    void Refresh();
    // Unmounts and powers off the drive (see Orvid.h); VetoName, when asked for, receives the
    // reason of the last refusal.
    bool Eject(std::string* vetoName = nullptr);
    bool IsValid() const { return Valid; }

    std::string Drive; // "X:"
    bool Valid = false;
    std::string Revision;
    std::string Product;
    std::string Serial;
    std::string Vendor;
    std::int32_t DriveType = 0;
    std::uint8_t VendorBytes[8] = {};
    std::uint8_t ProductBytes[16] = {};

private:
    void Clear();
};

// Reader recognition on the vendor text, case-sensitive.
bool HasReaderVendor(const std::string& vendor);

// "MassSto" ignoring ASCII case, then 0x01; the eight bytes after it are the payload.
bool HasReaderSignature(const std::uint8_t (&productBytes)[16]);
