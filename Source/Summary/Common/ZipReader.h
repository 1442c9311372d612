#pragma once

#include "BookInfo.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

struct zip;

namespace Summary {

// Read-only access to a ZIP container (EPUB, CBZ, zipped FB2) that trusts none of its sizes:
// every entry is read through a limit on the bytes really produced, so a ZIP bomb costs at
// most the limit, and long reads poll the abort query.
class TZipReader
{
public:
    explicit TZipReader(const char* fileName);
    ~TZipReader();
    TZipReader(const TZipReader&) = delete;
    TZipReader& operator=(const TZipReader&) = delete;

    bool IsOpen() const { return FZip != nullptr; }
    // Entry names in archive order (at most MaxEntries of them).
    const QStringList& Names() const { return FNames; }
    // Index of an entry, -1 when absent.
    qsizetype IndexOf(const QString& name, Qt::CaseSensitivity cs = Qt::CaseSensitive) const;
    // Names in a package are case-insensitive, but most writers refer to them as stored: the
    // exact name first, then any case; -1 for an empty name.
    qsizetype Find(const QString& name) const;
    // The entry's bytes; false when it is missing, damaged, encrypted, larger than `limit`
    // or when the caller stops.
    bool Read(qsizetype index, QByteArray& bytes, qint64 limit, TAbortQuery abort) const;
    bool Read(const QString& name, QByteArray& bytes, qint64 limit, TAbortQuery abort) const;
    // Hands the entry's bytes to `sink` piece by piece, so a large entry costs no more memory
    // than a piece; the sink returns false when it has what it wants. False when the entry is
    // missing or damaged, or the caller stops, before the sink was satisfied or the entry ended.
    bool Stream(qsizetype index, const std::function<bool(QByteArrayView)>& sink,
                TAbortQuery abort) const;

    static constexpr qsizetype MaxEntries = 100000;

private:
    zip* FZip = nullptr;
    QStringList FNames;
};

// Resolves `href` (percent-encoded, relative to the entry `base`) to an entry name: "../"
// climbs, a fragment or query is dropped.
QString ResolveHref(const QString& base, const QString& href);

// Tries pictures of an archive as a book's cover until one decodes: each name once, at most
// MaxTries reads, formats Qt cannot decode skipped unread.
class TZipCoverPicker
{
public:
    static constexpr int MaxTries = 8;
    TZipCoverPicker(const TZipReader& zip, TThumbnailInfo* thumbnail, TAbortQuery abort);
    // True once `name` became the thumbnail.
    bool Try(const QString& name);

private:
    const TZipReader& FZip;
    TThumbnailInfo* FThumbnail;
    TAbortQuery FAbort;
    QSet<QString> FTried;
    int FTries = 0;
};

} // namespace Summary
