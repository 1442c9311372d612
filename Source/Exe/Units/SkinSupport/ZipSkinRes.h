#pragma once

#include "Skins.h"
#include "ZipLoader.h"

#include <memory>

// The skin as a ZIP archive. The archive is opened for each read and closed right after, so
// the program never holds the file open and a skin can be replaced on disk while it runs.
class TZipSkinResource : public TSkinResource
{
public:
    // Opens nothing yet; `password` is handed to the archive library as it is.
    TZipSkinResource(const QString& path, const QString& password);
    ~TZipSkinResource() override;

    // Throws EArchiveError when the archive cannot be opened.
    void Open() override;
    void Close() override;
    // False when no archive is open or it has no such entry.
    bool Read(const QString& name, QIODevice& stream) override;

    const QString& Path() const { return FPath; }

private:
    QString FPath;
    QString FPassword;
    std::unique_ptr<TZipLoader> FLoader;
};
