#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QWidget;

// Keeps Korvel to one running instance per user. The running instance listens on a local
// socket named after the instance name in the user's runtime folder, reachable by the user
// only; a second start connects to it, sends the activation request and ends. The check and
// the start of listening happen under a file lock, so two programs started at the same moment
// still end up as one, and a socket left behind by a crashed instance is simply replaced.
class TSingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit TSingleInstance(const QString& instanceName, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // True when another instance was already running at construction.
    bool AnotherInstance() const { return FAnotherInstance; }
    // Sends the activation request to the running instance (only when AnotherInstance).
    bool ActivateOther();
    // Sends another request text to the running instance (only when AnotherInstance).
    bool SendToOther(const QByteArray& message);

    // The window that activation brings forward. Requests that arrive before it is set are
    // ignored.
    void SetMainWindow(QWidget* window);

    // The name of the activation request.
    static QByteArray MessageName();
    // The request that asks the running instance to rescan the drives for readers.
    static QByteArray RescanMessageName();
    // Where the instance's socket lives for a given instance name.
    static QString ServerPath(const QString& instanceName);

signals:
    // After the main window was brought forward by a request.
    void Activated();
    // The rescan request arrived while the main window exists.
    void RescanRequested();

private:
    void AcceptConnections();
    void HandleRequest(const QByteArray& message);
    void Activate();

    QString FServerPath;
    bool FAnotherInstance = false;
    QLocalServer* FServer = nullptr;
    QLocalSocket* FOther = nullptr;
    QPointer<QWidget> FMainWindow;
};
