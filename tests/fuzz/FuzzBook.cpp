// One fuzz target per book format: the libraries read files, so each input is written to a
// file with the format's extension and read as a book, information and thumbnail.
#include "BookInfo.h"

#ifdef FUZZ_TEXT
#include "TextBook.h"
#endif

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#ifndef FUZZ_TEXT
extern "C" unsigned char GetFileInfo(const char*, TBookInfo*, TAbortQuery);
extern "C" unsigned char GetThumbnail(const char*, TThumbnailInfo*, TAbortQuery);
#endif

namespace {

std::string InputPath()
{
    return "/dev/shm/korvel-fuzz-" + std::to_string(getpid()) + "." FUZZ_EXTENSION;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = InputPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
#ifdef FUZZ_TEXT
    Summary::TTextFacts facts;
    Summary::ReadTextBook(path.c_str(), facts, nullptr);
#else
    TBookInfo info{};
    GetFileInfo(path.c_str(), &info, nullptr);
    TThumbnailInfo thumbnail{90, 112, nullptr};
    if (GetThumbnail(path.c_str(), &thumbnail, nullptr)) std::free(thumbnail.Pixels);
#endif
    return 0;
}
