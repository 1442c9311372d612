// One fuzz target per book format: the libraries read files, so each input is written to a
// file with the format's extension and read as a book, information and thumbnail. With
// FUZZ_ZIP the input is a list of entries (see FuzzCommon.h) packed into a valid archive first,
// so that mutations reach the documents and pictures inside instead of the archive's checksums.
#include "BookInfo.h"
#include "FuzzCommon.h"

#ifdef FUZZ_TEXT
#include "TextBook.h"
#endif

#include <QGuiApplication>

#include <cstdlib>
#include <string>

#ifndef FUZZ_TEXT
extern "C" unsigned char GetFileInfo(const char*, TBookInfo*, TAbortQuery);
extern "C" unsigned char GetThumbnail(const char*, TThumbnailInfo*, TAbortQuery);
#endif

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = Fuzz::Folder() + "/book." FUZZ_EXTENSION;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
#ifdef FUZZ_ZIP
    if (!Fuzz::WriteFile(path, Fuzz::MakeZip(Fuzz::SplitEntries(input)))) return 0;
#else
    if (!Fuzz::WriteFile(path, input)) return 0;
#endif
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
