// korvel-folders: prints "data <folder>", "cache <folder>" and "settings <file>" as the
// program resolves them for the current user.
#include "Folders.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    std::printf("data %s\n", qPrintable(Folders::DataFolder()));
    std::printf("cache %s\n", qPrintable(Folders::UpdateCacheFolder()));
    return 0;
}
