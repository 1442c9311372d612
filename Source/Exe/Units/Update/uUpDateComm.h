#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

// The update window's command, posted to it: the downloads' completion uses codes 100 and 101.
class TUpdateCommandEvent : public QEvent
{
public:
    static QEvent::Type EventType();
    TUpdateCommandEvent(int code, quintptr argument)
        : QEvent(EventType()), Code(code), Argument(argument)
    {
    }
    int Code;
    quintptr Argument;
};

// The cache file name for a package path from the descriptor: its last path component, inside
// the cache folder. Empty when the name is empty, "." or "..", or would land outside the cache.
QString SafeCacheFileName(const QString& cacheFolder, const QString& packagePath);

// The address of a package path of the descriptor below the server's address: "\\" becomes
// "/", and each path step is percent-encoded, so blanks, "#", "?" or "%" in a file name reach
// the server as part of the name.
QString PackageUrl(const QString& serverUrl, const QString& packagePath);

// The user agent sent with every download: the browser's, once the program has set it, so
// the servers see one client.
QByteArray UpdateUserAgent();
void SetUpdateUserAgent(const QByteArray& agent);

class TUpdateThread;

// The progress callback of one transfer: forwards byte counts to its thread and carries the
// stop request back to the transfer.
class TDownLoadProcess
{
public:
    explicit TDownLoadProcess(TUpdateThread* thread) : Thread(thread) {}
    // Returns false when the transfer is to be aborted.
    bool OnProgress(quint32 progress, quint32 progressMax, quint32 statusCode,
                    const QString& statusText);

    TUpdateThread* Thread;
    bool Cancelled = false;
};

// Downloads one URL to one local file on its own thread, reports progress to the main thread
// while it runs and posts UpdateCommand 100 (downloaded) or 101 (failed) to its window. The
// file appears under its name only when complete.
class TUpdateThread : public QThread
{
    Q_OBJECT
public:
    enum : int
    {
        cmDownloaded = 100,
        cmDownloadFailed = 101,
    };

    TUpdateThread(const QString& url, QObject* window, const QString& fileName);
    // Stops and waits for a running download.
    ~TUpdateThread() override;

    // Asks a running download to stop; it ends with 101 at its next progress report.
    void Terminate();
    // Waits for the thread to end while serving its progress calls. Main thread only.
    void WaitFor();

    QString Url;
    QString FileName;
    // A server that sends more than this fails the download, so it cannot fill the disk.
    static constexpr qint64 DefaultMaxBytes = qint64(2) << 30;
    qint64 MaxBytes = DefaultMaxBytes;
    QPointer<QObject> Window;
    TDownLoadProcess* Callback = nullptr;
    std::atomic<quint32> Progress{0};
    std::atomic<quint32> ProgressMax{0};
    std::atomic<quint32> StatusCode{0};
    QString StatusText;
    std::atomic<int> Result{0};

    std::function<void(TUpdateThread*, quint32, quint32)> OnProgress;
    std::function<void(TUpdateThread*, quint32, quint32, quint32, const QString&)> OnStatus;
    std::function<void(TUpdateThread*)> OnComplete;   // on the download thread
    std::function<void(TUpdateThread*, int)> OnError; // on the download thread

    // Called by the callback object on the download thread.
    void ReportProgress();

protected:
    void run() override;
    void customEvent(QEvent* event) override;

private:
    bool Attempt(const QString& url, const QString& tempFile);
    // Runs call on the thread that owns this object and waits for it.
    void Synchronize(const std::function<void()>& call);
    void ServePendingCall();

    std::mutex FSyncMutex;
    std::condition_variable FSyncCond;
    const std::function<void()>* FPendingCall = nullptr;
    bool FRunDone = false;
};
