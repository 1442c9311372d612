#pragma once

#include <QProcess>
#include <QString>

// One loopback server process of tests/Update/serve.py ("http" or "ftp") over a folder; it
// lives as long as this object.
class TServeProcess
{
public:
    TServeProcess(const char* mode, const QString& root)
    {
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProcess.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(KORVEL_SOURCE_DIR "/Update/serve.py"),
                        QString::fromLatin1(mode), root});
        // The line may arrive in pieces: read it only once it is whole.
        while (!FProcess.canReadLine() && FProcess.waitForReadyRead(10000)) {
        }
        const QByteArray line = FProcess.readLine().trimmed();
        if (line.startsWith("PORT ")) Port = line.mid(5).toInt();
    }
    ~TServeProcess()
    {
        FProcess.kill();
        FProcess.waitForFinished();
    }
    QString Url() const { return QStringLiteral("http://127.0.0.1:%1").arg(Port); }
    int Port = 0;

private:
    QProcess FProcess;
};
