#pragma once

#include <QString>

#include <stdexcept>

class QIODevice;

// The error of an archive that cannot be opened.
class EArchiveError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One open skin archive: opening it in the constructor and closing it in the destructor ties
// the archive's handle to a scope, so no read can leave it open.
class TZipLoader
{
public:
    // Throws EArchiveError "Load archive "<path>" failed" when the archive cannot be opened.
    TZipLoader(const QString& path, const QString& password);
    ~TZipLoader();
    TZipLoader(const TZipLoader&) = delete;
    TZipLoader& operator=(const TZipLoader&) = delete;

    bool Exists(const QString& name) const;
    // Appends the entry's bytes to `stream`. Entries larger than MaxEntrySize fail, so a
    // damaged or hostile archive cannot exhaust memory.
    bool Extract(const QString& name, QIODevice& stream) const;

    static constexpr qint64 MaxEntrySize = 32 * 1024 * 1024;

private:
    void* FHandle = nullptr;
};
