#include "vindra.h"

#include <cstdio>
#include <cstring>
#include <elf.h>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TFileCloser
{
    void operator()(FILE* f) const { fclose(f); }
};
using TFile = std::unique_ptr<FILE, TFileCloser>;

bool ReadAt(FILE* f, long offset, void* buffer, size_t size)
{
    return fseek(f, offset, SEEK_SET) == 0 && fread(buffer, 1, size, f) == size;
}

// Finds the named section of a 64-bit little-endian ELF file and returns its bytes.
bool ReadSection(FILE* f, const char* wanted, std::string& contents)
{
    Elf64_Ehdr header;
    if (!ReadAt(f, 0, &header, sizeof header)) return false;
    if (memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_ident[EI_DATA] != ELFDATA2LSB)
        return false;
    if (header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shnum == 0 ||
        header.e_shstrndx >= header.e_shnum || header.e_shnum > 65000)
        return false;

    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (!ReadAt(f, static_cast<long>(header.e_shoff), sections.data(),
                sections.size() * sizeof(Elf64_Shdr)))
        return false;

    const Elf64_Shdr& names = sections[header.e_shstrndx];
    if (names.sh_size == 0 || names.sh_size > (1u << 20)) return false;
    std::string nameTable(names.sh_size, '\0');
    if (!ReadAt(f, static_cast<long>(names.sh_offset), nameTable.data(), nameTable.size()))
        return false;
    nameTable.push_back('\0');

    for (const Elf64_Shdr& s : sections) {
        if (s.sh_name >= nameTable.size() - 1) continue;
        if (strcmp(nameTable.c_str() + s.sh_name, wanted) != 0) continue;
        if (s.sh_type == SHT_NOBITS || s.sh_size == 0 || s.sh_size > 4096) return false;
        contents.assign(s.sh_size, '\0');
        return ReadAt(f, static_cast<long>(s.sh_offset), contents.data(), contents.size());
    }
    return false;
}

void CopyText(char* buffer, size_t size, const std::string& text)
{
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // namespace

extern "C" int GetVersionInfo(const char* Path, char* Buffer1, char* Buffer2, char* Buffer3)
{
    if (!Path || !Buffer1 || !Buffer2 || !Buffer3) return 0;
    TFile file(fopen(Path, "rb"));
    if (!file) return 0;
    std::string contents;
    if (!ReadSection(file.get(), VINDRA_SECTION, contents)) return 0;

    // Three texts, each ending at its NUL; missing ones are empty.
    std::string texts[3];
    size_t pos = 0;
    for (std::string& text : texts) {
        if (pos >= contents.size()) break;
        const size_t end = contents.find('\0', pos);
        text = contents.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? contents.size() : end + 1;
    }
    if (texts[0].empty()) return 0;
    CopyText(Buffer1, VINDRA_TEXT1_SIZE, texts[0]);
    CopyText(Buffer2, VINDRA_TEXT2_SIZE, texts[1]);
    CopyText(Buffer3, VINDRA_TEXT3_SIZE, texts[2]);
    return 1;
}
