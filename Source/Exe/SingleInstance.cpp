#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Longest request we accept; anything longer is not one of ours.
constexpr qsizetype MaxRequest = 256;

// Holds an exclusive flock for its lifetime. The kernel drops it when the process dies, so a
// crash never leaves the next start waiting.
class TStartLock
{
public:
    explicit TStartLock(const QString& path)
    {
        FHandle = open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (FHandle >= 0) {
            while (flock(FHandle, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~TStartLock()
    {
        if (FHandle >= 0) {
            flock(FHandle, LOCK_UN);
            close(FHandle);
        }
    }
    TStartLock(const TStartLock&) = delete;
    TStartLock& operator=(const TStartLock&) = delete;

private:
    int FHandle = -1;
};

} // namespace

QByteArray TSingleInstance::MessageName()
{
    return QByteArrayLiteral("TESSAROSoft_TSingleInstance");
}

QByteArray TSingleInstance::RescanMessageName()
{
    return QByteArrayLiteral("TESSAROSoft_RescanReaders");
}

QString TSingleInstance::ServerPath(const QString& instanceName)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return folder + u'/' + instanceName;
}

TSingleInstance::TSingleInstance(const QString& instanceName, QObject* parent)
    : QObject(parent), FServerPath(ServerPath(instanceName))
{
    TStartLock lock(FServerPath + QStringLiteral(".lock"));

    auto* probe = new QLocalSocket(this);
    probe->connectToServer(FServerPath);
    if (probe->waitForConnected(2000)) {
        FAnotherInstance = true;
        FOther = probe;
        return;
    }
    delete probe;

    // Nobody answers, so a socket file that is still there was left by an instance that died.
    QLocalServer::removeServer(FServerPath);
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, &TSingleInstance::AcceptConnections);
    FServer->listen(FServerPath);
}

TSingleInstance::~TSingleInstance()
{
    if (FServer) FServer->close();
}

bool TSingleInstance::SendToOther(const QByteArray& message)
{
    if (!FOther || FOther->state() != QLocalSocket::ConnectedState) return false;
    FOther->write(message + '\n');
    const bool written = FOther->waitForBytesWritten(2000);
    FOther->disconnectFromServer();
    if (FOther->state() != QLocalSocket::UnconnectedState) FOther->waitForDisconnected(1000);
    return written;
}

bool TSingleInstance::ActivateOther()
{
    return SendToOther(MessageName());
}

void TSingleInstance::SetMainWindow(QWidget* window)
{
    FMainWindow = window;
}

void TSingleInstance::AcceptConnections()
{
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QByteArray pending = socket->property("pending").toByteArray() + socket->readAll();
            qsizetype eol;
            while ((eol = pending.indexOf('\n')) >= 0) {
                HandleRequest(pending.left(eol));
                pending.remove(0, eol + 1);
            }
            if (pending.size() > MaxRequest) {
                socket->abort();
                return;
            }
            socket->setProperty("pending", pending);
        });
    }
}

void TSingleInstance::HandleRequest(const QByteArray& message)
{
    if (!FMainWindow) return;
    if (message == MessageName())
        Activate();
    else if (message == RescanMessageName())
        emit RescanRequested();
}

void TSingleInstance::Activate()
{
    QWidget* window = FMainWindow;
    // Restored from the taskbar, but a window that was maximised before it was minimised
    // comes back maximised.
    const bool maximized = window->windowState().testFlag(Qt::WindowMaximized);
    if (maximized)
        window->showMaximized();
    else
        window->showNormal();
    window->raise();
    window->activateWindow();
    emit Activated();
}
