#include "uUpDateComm.h"

#include <curl/curl.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <mutex>

QEvent::Type TUpdateCommandEvent::EventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QString SafeCacheFileName(const QString& cacheFolder, const QString& packagePath)
{
    QString path = packagePath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString name = path.section(QLatin1Char('/'), -1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        cacheFolder.isEmpty())
        return QString();
    const QString folder = QDir::cleanPath(QFileInfo(cacheFolder).absoluteFilePath());
    const QString file = QDir::cleanPath(folder + QLatin1Char('/') + name);
    if (QFileInfo(file).absolutePath() != folder) return QString();
    return file;
}

QString PackageUrl(const QString& serverUrl, const QString& packagePath)
{
    QString path = packagePath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QStringList steps = path.split(QLatin1Char('/'));
    for (QString& step : steps)
        step = QString::fromLatin1(QUrl::toPercentEncoding(step));
    return serverUrl + steps.join(QLatin1Char('/'));
}

namespace {

std::mutex UserAgentLock;

QByteArray& UserAgentText()
{
    // Until the program sets the browser's own, a text of the same shape.
    static QByteArray agent =
        QByteArrayLiteral("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                          "QtWebEngine/6.4.2 Chrome/102.0.5005.177 Safari/537.36 (Varnix/1.0)");
    return agent;
}

} // namespace

QByteArray UpdateUserAgent()
{
    const std::lock_guard<std::mutex> lock(UserAgentLock);
    return UserAgentText();
}

void SetUpdateUserAgent(const QByteArray& agent)
{
    const std::lock_guard<std::mutex> lock(UserAgentLock);
    UserAgentText() = agent;
}

bool TDownLoadProcess::OnProgress(quint32 progress, quint32 progressMax, quint32 statusCode,
                                  const QString&)
{
    Thread->Progress = progress;
    Thread->ProgressMax = progressMax;
    Thread->StatusCode = statusCode;
    Thread->ReportProgress();
    if (Thread->isInterruptionRequested()) Cancelled = true;
    return !Cancelled;
}

TUpdateThread::TUpdateThread(const QString& url, QObject* window, const QString& fileName)
    : Url(url), FileName(fileName), Window(window)
{
    static const bool curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)curlReady;
}

TUpdateThread::~TUpdateThread()
{
    if (isRunning()) {
        Terminate();
        WaitFor();
    }
}

void TUpdateThread::Terminate()
{
    requestInterruption();
}

void TUpdateThread::WaitFor()
{
    if (!isRunning() && !isFinished()) return; // never started
    for (;;) {
        std::unique_lock lock(FSyncMutex);
        FSyncCond.wait(lock, [this] { return FRunDone || FPendingCall != nullptr; });
        if (FPendingCall) {
            lock.unlock();
            ServePendingCall();
            continue;
        }
        break;
    }
    wait();
}

void TUpdateThread::Synchronize(const std::function<void()>& call)
{
    if (QThread::currentThread() == thread()) {
        call();
        return;
    }
    std::unique_lock lock(FSyncMutex);
    FPendingCall = &call;
    // Either the owner's event loop or an owner waiting in WaitFor serves the call.
    QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    FSyncCond.notify_all();
    FSyncCond.wait(lock, [this] { return FPendingCall == nullptr; });
}

void TUpdateThread::ServePendingCall()
{
    const std::function<void()>* call = nullptr;
    {
        std::lock_guard lock(FSyncMutex);
        call = FPendingCall;
    }
    if (!call) return; // already served by WaitFor
    try {
        (*call)();
    } catch (...) {
        // A failing handler must not stop the download.
    }
    {
        std::lock_guard lock(FSyncMutex);
        FPendingCall = nullptr;
    }
    FSyncCond.notify_all();
}

void TUpdateThread::customEvent(QEvent* event)
{
    if (event->type() == QEvent::User) ServePendingCall();
}

void TUpdateThread::ReportProgress()
{
    Synchronize([this] {
        const quint32 progress = Progress, progressMax = ProgressMax;
        if (OnProgress) OnProgress(this, progress, progressMax);
        if (OnStatus) OnStatus(this, progress, progressMax, StatusCode, StatusText);
    });
}

void TUpdateThread::run()
{
    bool ok = false;
    if (!Url.isEmpty()) {
        ok = Attempt(Url, FileName + QStringLiteral(".tmp"));
        if (!ok) QThread::msleep(1000);
    }
    Result = ok ? cmDownloaded : cmDownloadFailed;
    if (Window) QCoreApplication::postEvent(Window, new TUpdateCommandEvent(Result, 0));
    {
        std::lock_guard lock(FSyncMutex);
        FRunDone = true;
    }
    FSyncCond.notify_all();
}

namespace {

struct TTarget
{
    QFile* File;
    qint64 Written;
    qint64 MaxBytes;
};

size_t WriteToFile(char* data, size_t size, size_t count, void* target)
{
    auto* t = static_cast<TTarget*>(target);
    const qint64 n = static_cast<qint64>(size * count);
    // Beyond the bound (a server that sent no length, or a wrong one): stop the transfer.
    if (n > t->MaxBytes - t->Written) return 0;
    if (t->File->write(data, n) != n) return 0;
    t->Written += n;
    return size * count;
}

int TransferInfo(void* client, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t, curl_off_t)
{
    auto* callback = static_cast<TDownLoadProcess*>(client);
    // The status code follows the URL service's meaning: 5 = downloading data.
    const bool go = callback->OnProgress(static_cast<quint32>(dlNow), static_cast<quint32>(dlTotal),
                                         5, QString());
    return go ? 0 : 1;
}

} // namespace

bool TUpdateThread::Attempt(const QString& url, const QString& tempFile)
{
    TDownLoadProcess callback(this);
    Callback = &callback;
    QFile::remove(FileName);

    bool ok = false;
    int code = -1;
    QFile out(tempFile);
    TTarget target{&out, 0, std::max<qint64>(MaxBytes, 0)};
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        CURL* curl = curl_easy_init();
        if (curl) {
            const QByteArray u = url.toUtf8();
            const QByteArray agent = UpdateUserAgent();
            curl_easy_setopt(curl, CURLOPT_URL, u.constData());
            curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,ftp,ftps");
            curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp,ftps");
            curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
            curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
            curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.constData());
            curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
            curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
            // A stalled server fails the download rather than hanging it.
            curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
            curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToFile);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, &target);
            curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(MaxBytes));
            curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, TransferInfo);
            curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &callback);
            code = curl_easy_perform(curl);
            curl_easy_cleanup(curl);
        }
        ok = code == CURLE_OK && out.flush();
        out.close();
        if (ok && out.error() != QFileDevice::NoError) ok = false;
    }
    if (ok) {
        QFile::remove(FileName);
        ok = QFile::rename(tempFile, FileName);
    }
    if (ok) {
        if (OnComplete) OnComplete(this);
    } else {
        QFile::remove(tempFile);
        if (OnError) OnError(this, code);
    }
    Callback = nullptr;
    return ok;
}
