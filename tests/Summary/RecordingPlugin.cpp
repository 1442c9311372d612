// A book-information library built only for the tests: it appends every call to the file named
// by KORVEL_TEST_PLUGIN_LOG and answers as the file name tells it ("fail" in the name: false,
// "need" in the name: the default library should run too). Its title and picture carry its
// own name, so a test sees which library wrote last.
#include "BookInfo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef PLUGIN_NAME
#error PLUGIN_NAME must name the library
#endif

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void Log(const char* what, const char* fileName)
{
    const char* path = std::getenv("KORVEL_TEST_PLUGIN_LOG");
    if (!path) return;
    if (FILE* f = std::fopen(path, "a")) {
        const char* base = fileName ? std::strrchr(fileName, '/') : nullptr;
        std::fprintf(f, "%s %s %s\n", PLUGIN_NAME, what,
                     base ? base + 1 : (fileName ? fileName : "-"));
        std::fclose(f);
    }
}

bool Has(const char* fileName, const char* word)
{
    const char* base = std::strrchr(fileName, '/');
    return std::strstr(base ? base : fileName, word) != nullptr;
}

// Polls the abort query the way a real library does during long work.
// "fail" in the name fails every library, "noX" only library X.
[[maybe_unused]] bool Fails(const char* fileName)
{
    const char own[] = {'n', 'o', PLUGIN_NAME[0], 0};
    return Has(fileName, "fail") || Has(fileName, own);
}

[[maybe_unused]] bool Stopped(TAbortQuery abort, const char* fileName)
{
    if (abort && abort()) {
        Log("stopped", fileName);
        return true;
    }
    return false;
}

__attribute__((destructor)) void Unloaded()
{
    Log("unload", nullptr);
}

} // namespace

#ifndef NO_EXPORTS
EXPORT unsigned char GetFileInfo(const char* fileName, TBookInfo* info, TAbortQuery abort)
{
    Log("GetFileInfo", fileName);
    if (Stopped(abort, fileName) || Fails(fileName)) return 0;
    const size_t length = std::strlen(PLUGIN_NAME);
    info->Data[biTitle] = static_cast<unsigned char>(length);
    std::memcpy(info->Data + biTitle + 1, PLUGIN_NAME, length);
    // Each library leaves its own mark too, so a test sees that both wrote.
    info->Data[biReserved3 + static_cast<unsigned char>(PLUGIN_NAME[0]) % 200] = 1;
    return 1;
}

EXPORT unsigned char GetThumbnail(const char* fileName, TThumbnailInfo* thumbnail,
                                  TAbortQuery abort)
{
    Log("GetThumbnail", fileName);
    if (Stopped(abort, fileName) || Fails(fileName)) return 0;
    thumbnail->Width = 1;
    thumbnail->Height = 1;
    thumbnail->Pixels = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t)));
    thumbnail->Pixels[0] = static_cast<unsigned char>(PLUGIN_NAME[0]);
    return 1;
}
#endif

#ifdef WITH_NEED_DEFAULT
EXPORT unsigned char NeedDefaultSummaryInfo(const char* fileName)
{
    Log("NeedDefaultSummaryInfo", fileName);
    return Has(fileName, "need") ? 1 : 0;
}
#endif

#ifdef WITH_SHOW_PROPERTIES
EXPORT int ShowProperties(void*, const char* fileName)
{
    Log("ShowProperties", fileName);
    return 0;
}
#endif
