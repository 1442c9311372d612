#pragma once

#include "BookInfo.h"

#include <QLibrary>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

// Reads a text block of a book-information record.
QString BookInfoText(const TBookInfo& info, TBookInfoOffset offset);
// Stores text in a block, cut to 255 bytes at a character boundary.
void SetBookInfoText(TBookInfo& info, TBookInfoOffset offset, const QString& text);
// Frees the pixels of a thumbnail and zeroes the record.
void ReleaseThumbnail(TThumbnailInfo& thumbnail);

// One loaded plug-in library and the exports it offers; an export it lacks is null and is
// simply not called. Deleting the record unloads the library.
struct TPluginRecord
{
    std::unique_ptr<QLibrary> Library;
    TGetFileInfoProc GetFileInfo = nullptr;
    TGetThumbnailProc GetThumbnail = nullptr;
    TNeedDefaultSummaryInfoProc NeedDefaultSummaryInfo = nullptr;

    TPluginRecord();
    ~TPluginRecord();
    TPluginRecord(TPluginRecord&&) noexcept;
    TPluginRecord& operator=(TPluginRecord&&) = delete;
};

// The loaded plug-ins in map order. Clearing or destroying the list unloads the libraries in
// reverse order, so a library loaded later (which may rely on an earlier one) goes first.
class TDllList
{
public:
    TDllList() = default;
    ~TDllList() { Clear(); }
    TDllList(const TDllList&) = delete;
    TDllList& operator=(const TDllList&) = delete;

    // Takes ownership; returns the record's index.
    int Add(TPluginRecord&& record);
    const TPluginRecord& operator[](int index) const { return *FItems[static_cast<size_t>(index)]; }
    int Count() const { return static_cast<int>(FItems.size()); }
    void Clear();

private:
    std::vector<std::unique_ptr<TPluginRecord>> FItems;
};

// The book-information manager: reads the plug-in map "fimap.ini" in the "ficomp" folder,
// loads the plug-ins and asks the right library for a book's information and thumbnail.
// One manager exists per process (FileInfoManager()).
//
// The abort query is passed per call: the main thread and the search worker read books at the
// same time, and each must only ever be stopped by its own caller. The libraries still receive
// one parameterless function; it asks the handler of the thread that is calling.
//
// After construction nothing is modified, so calls from several threads need no lock.
class TFileInfoManager
{
public:
    using TAbortHandler = std::function<bool()>;

    // Reads the map of the program's "ficomp" folder and loads "libsummary.so" from it.
    TFileInfoManager();
    // The same for another folder (ending in "/"); the tests use it.
    explicit TFileInfoManager(const QString& ficompFolder);
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
    // Asks the abort handler of the calling thread; false when there is none.
    static bool QueryAbort();

    bool Loaded() const { return FLoaded; }
    // True when the default library was found; without it books show no information.
    bool HasSummary() const { return FSummary != nullptr; }
    int PluginCount() const { return FPlugins.Count(); }
    // The plug-in index for a file name, -1 for none.
    int PluginIndexFor(const QString& fileName) const;
    // The plug-in for a file and whether the default library should run as well.
    const TPluginRecord* PluginFor(const QString& fileName, const QByteArray& name,
                                   bool& needDefault) const;

private:
    struct TExtension
    {
        QString Name;
        int Plugin;
    };

    void LoadSummary(const QString& folder);
    void ReadMap(const QString& folder);
    // Adds an extension unless the list holds it already (ignoring case); keeps the order.
    void AddExtension(const QString& name, int plugin);
    const TExtension* FindExtension(const QString& name) const;

    TDllList FPlugins;
    std::vector<TExtension> FExtensions; // sorted ignoring case
    bool FLoaded = false;

    std::unique_ptr<QLibrary> FSummary;
    TGetFileInfoProc FSummaryGetFileInfo = nullptr;
    TGetThumbnailProc FSummaryGetThumbnail = nullptr;
    TShowPropertiesProc FSummaryShowProperties = nullptr;
};

// The process's manager; created on first use (the program creates it before its main window).
TFileInfoManager& FileInfoManager();
// Makes the process's manager read another "ficomp" folder (ending in "/"); only before its first
// use. Tests and benchmarks that run beside the program's folder use it.
void SetFileInfoFolder(const QString& ficompFolder);
