#pragma once

#include "BookInfo.h"

#include <QString>

#include <functional>

class QWidget;

// Reads a text block of a book-information record.
QString BookInfoText(const TBookInfo& info, TBookInfoOffset offset);
// Stores text in a block, cut to 255 bytes at a character boundary.
void SetBookInfoText(TBookInfo& info, TBookInfoOffset offset, const QString& text);
// Frees the pixels of a thumbnail and zeroes the record.
void ReleaseThumbnail(TThumbnailInfo& thumbnail);

// The book-information manager: reads the plug-in map "fimap.ini" in the "ficomp" folder,
// loads the plug-ins and asks the right library for a book's information and thumbnail.
// One manager exists per process (FileInfoManager()).
//
// The abort query is passed per call: the main thread and the search worker read books at the
// same time, and each must only ever be stopped by its own caller.
class TFileInfoManager
{
public:
    using TAbortHandler = std::function<bool()>;

    TFileInfoManager();
    ~TFileInfoManager();
    TFileInfoManager(const TFileInfoManager&) = delete;
    TFileInfoManager& operator=(const TFileInfoManager&) = delete;

    // `abort` is asked before each library call and whenever a library polls; true stops.
    bool GetFileInfo(const QString& fileName, TBookInfo& info, const TAbortHandler& abort = {});
    bool GetThumbnail(const QString& fileName, TThumbnailInfo& thumbnail,
                      const TAbortHandler& abort = {});
    void ShowProperties(QWidget* window, const QString& fileName);
    // "*.chm;*.pdf;*.txt" for the mapped extensions, in case-insensitive order.
    QString SupportedFilter() const;
};

// The process's manager; created on first use.
TFileInfoManager& FileInfoManager();
