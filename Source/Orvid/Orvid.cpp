#include "Orvid.h"

#include "Context.h"
#include "DiskInfo.h"
#include "DriveTable.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace {

constexpr int MaxIdentifierBytes = 33; // 2N digits must end before offset 68

// Drive letters arrive as one character; anything outside A..Z names no drive.
bool ToLetter(char drive, char& letter)
{
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(drive)));
    return letter >= 'A' && letter <= 'Z';
}

std::string DriveText(char letter)
{
    return std::string(1, letter) + ":";
}

// A random GUID in its registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string NewGuidText()
{
    unsigned char b[16] = {};
    if (getrandom(b, sizeof b, 0) != static_cast<ssize_t>(sizeof b)) {
        std::FILE* f = std::fopen("/dev/urandom", "rb");
        if (f) {
            if (std::fread(b, 1, sizeof b, f) != sizeof b)
                b[0] ^= static_cast<unsigned char>(getpid());
            std::fclose(f);
        }
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    char text[40];
    std::snprintf(text, sizeof text,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

} // namespace

ORVID_EXPORT bool IsReaderDrive(char Drive)
{
    try {
        char letter;
        if (!ToLetter(Drive, letter)) return false;
        const TDiskInfo info(DriveText(letter));
        return info.DriveType == DriveTable::DriveRemovable && HasReaderVendor(info.Vendor);
    } catch (...) {
        return false;
    }
}

ORVID_EXPORT int GetDeviceID(char Drive, TDeviceIdentity* Identity)
{
    try {
        const int n = GetContext(nullptr, nullptr);
        if (!Identity) return n;
        // An identifier that cannot fit the record would overwrite the fields after it.
        if (n <= 0 || n > MaxIdentifierBytes) return 0;
        const int contextSize = CreateContext(nullptr, nullptr);
        if (contextSize < static_cast<int>(IdentityBlockSize)) return 0;

        char letter;
        if (!ToLetter(Drive, letter)) return 0;
        const TDiskInfo info(DriveText(letter));
        if (!info.IsValid()) return 0;
        if (!HasReaderVendor(info.Vendor)) return -1;
        if (!HasReaderSignature(info.ProductBytes)) return -1;

        const auto context = std::make_unique<std::uint8_t[]>(static_cast<size_t>(contextSize));
        CreateContext(info.ProductBytes + 8, context.get());
        const auto identifier = std::make_unique<std::uint8_t[]>(static_cast<size_t>(n));
        GetContext(context.get(), identifier.get());

        auto* record = reinterpret_cast<std::uint8_t*>(Identity);
        record[0] = context[5] == 0x56 ? 1 : 2;
        std::memcpy(record + IdentityBlockOffset, context.get(), IdentityBlockSize);
        static const char hex[] = "0123456789ABCDEF";
        for (int i = 0; i < n; ++i) {
            record[1 + 2 * i] = static_cast<std::uint8_t>(hex[identifier[i] >> 4]);
            record[2 + 2 * i] = static_cast<std::uint8_t>(hex[identifier[i] & 15]);
        }
        if (info.Vendor.starts_with("TAVO")) std::memcpy(record + 68, info.VendorBytes + 4, 4);
        return n;
    } catch (...) {
        return 0;
    }
}

ORVID_EXPORT bool UnmountDrive(char Drive)
{
    try {
        char letter;
        if (!ToLetter(Drive, letter)) return false;
        TDiskInfo info(DriveText(letter));
        return info.Eject();
    } catch (...) {
        return false;
    }
}

ORVID_EXPORT bool IsDriveValid(char Drive)
{
    try {
        char letter;
        if (!ToLetter(Drive, letter)) return false;
        const std::string root = DriveTable::RootFolder(letter);
        if (root.empty()) return false;
        const std::string path = root + NewGuidText();
        // Exclusive creation: a probe never truncates a file that happens to carry the name.
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return false;
        close(fd);
        // Removal is retried a while (a virus scanner or indexer may hold the file), but not
        // for ever: a drive that stops answering must not hang the caller.
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (unlink(path.c_str()) == 0 || errno == ENOENT) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    } catch (...) {
        return false;
    }
}
