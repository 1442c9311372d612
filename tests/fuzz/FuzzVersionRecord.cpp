// The version record reader: the input is the program file whose ELF section holds the record.
#include "FuzzCommon.h"
#include "vindra.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = Fuzz::Folder() + "/Korvel";
    if (!Fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size)))
        return 0;
    char text1[VINDRA_TEXT1_SIZE] = {}, text2[VINDRA_TEXT2_SIZE] = {}, text3[VINDRA_TEXT3_SIZE] = {};
    if (GetVersionInfo(path.c_str(), text1, text2, text3)) {
        // The promise callers rely on: every buffer ends in a NUL within its size.
        if (!std::memchr(text1, 0, sizeof text1) || !std::memchr(text2, 0, sizeof text2) ||
            !std::memchr(text3, 0, sizeof text3))
            std::abort();
    }
    return 0;
}
