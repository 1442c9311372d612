#pragma once

// What the fuzz targets share: a private folder per process, files written from the input, and
// the entry scheme that turns one input into a well-formed ZIP archive, so that mutations reach
// the parsers behind the archive instead of dying on its checksums.

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

namespace Fuzz {

// A folder of this process only, in /dev/shm when there is one (the targets write a file per
// input, and memory is faster than a disk), left behind for the caller to clean.
inline const std::string& Folder()
{
    static const std::string folder = [] {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm")
                                                              : std::string("/tmp")) +
                              "/korvel-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return folder;
}

inline bool WriteFile(const std::string& path, std::string_view bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Entries of an archive input: "name\ncontents", one after another, separated by Separator. A
// chunk without a line break is an entry with that name and no contents.
constexpr std::string_view Separator = "\n@@\n";

using TEntries = std::vector<std::pair<std::string, std::string>>;

inline TEntries SplitEntries(std::string_view input)
{
    TEntries entries;
    for (;;) {
        const size_t cut = input.find(Separator);
        const std::string_view chunk = input.substr(0, cut);
        const size_t eol = chunk.find('\n');
        if (eol == std::string_view::npos)
            entries.emplace_back(std::string(chunk), std::string());
        else
            entries.emplace_back(std::string(chunk.substr(0, eol)),
                                 std::string(chunk.substr(eol + 1)));
        if (cut == std::string_view::npos) break;
        input.remove_prefix(cut + Separator.size());
    }
    return entries;
}

// The inverse of SplitEntries, for the seed writer.
inline std::string JoinEntries(const TEntries& entries)
{
    std::string out;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i) out += Separator;
        out += entries[i].first;
        out += '\n';
        out += entries[i].second;
    }
    return out;
}

namespace Detail {
inline void Put16(std::string& out, unsigned v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
} // namespace Detail

// A stored (uncompressed) ZIP archive of the entries with correct sizes and checksums. Names are
// written as they are, flagged as UTF-8; duplicates and odd names stay, as a hostile archive
// would have them.
inline std::string MakeZip(const TEntries& entries)
{
    using namespace Detail;
    std::string out, central;
    for (const auto& [name, data] : entries) {
        const uint32_t crc = static_cast<uint32_t>(
            crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        const uint32_t offset = static_cast<uint32_t>(out.size());
        const unsigned nameSize = static_cast<unsigned>(std::min<size_t>(name.size(), 0xFFFF));
        Put32(out, 0x04034b50);
        Put16(out, 20);     // version needed
        Put16(out, 0x0800); // UTF-8 names
        Put16(out, 0);      // stored
        Put16(out, 0);      // time
        Put16(out, 0x21);   // date: 1980-01-01
        Put32(out, crc);
        Put32(out, static_cast<uint32_t>(data.size()));
        Put32(out, static_cast<uint32_t>(data.size()));
        Put16(out, nameSize);
        Put16(out, 0);
        out.append(name, 0, nameSize);
        out += data;

        Put32(central, 0x02014b50);
        Put16(central, 0x0314); // made by: version 2.0 on a Unix system
        Put16(central, 20);
        Put16(central, 0x0800);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0x21);
        Put32(central, crc);
        Put32(central, static_cast<uint32_t>(data.size()));
        Put32(central, static_cast<uint32_t>(data.size()));
        Put16(central, nameSize);
        Put16(central, 0); // extra
        Put16(central, 0); // comment
        Put16(central, 0); // disk
        Put16(central, 0); // internal attributes
        Put32(central, 0100644u << 16);
        Put32(central, offset);
        central.append(name, 0, nameSize);
    }
    const uint32_t centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    const unsigned count = static_cast<unsigned>(std::min<size_t>(entries.size(), 0xFFFF));
    Put16(out, count);
    Put16(out, count);
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}

} // namespace Fuzz
