#include "IniFile.h"
#include "SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>

// Runs real processes: the probe around the guard, and the program itself.
class SingleInstanceTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FRuntime;

    std::unique_ptr<QProcess> Start(const QString& program, const QStringList& args = {},
                                    const QString& workDir = QString())
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", FRuntime->path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        if (!workDir.isEmpty()) {
            env.insert("HOME", workDir);
            env.insert("XDG_CONFIG_HOME", workDir + "/config");
            env.insert("XDG_CACHE_HOME", workDir + "/cache");
        }
        p->setProcessEnvironment(env);
        p->setProgram(program);
        p->setArguments(args);
        p->start();
        return p;
    }
    std::unique_ptr<QProcess> Probe(const QString& mode = "normal") { return Start(KORVEL_PROBE, {mode}); }

    static QByteArray WaitLine(QProcess& p, int ms = 30000)
    {
        QElapsedTimer t;
        t.start();
        while (!p.canReadLine() && t.elapsed() < ms && p.state() != QProcess::NotRunning)
            p.waitForReadyRead(100);
        return p.readLine().trimmed();
    }

    static void Stop(QProcess& p)
    {
        p.kill();
        p.waitForFinished(5000);
    }

private slots:
    void init()
    {
        FRuntime = std::make_unique<QTemporaryDir>();
        QFile::setPermissions(FRuntime->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void secondStartEndsAndActivatesTheFirst_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("minimised window is restored")
            << "minimized" << QByteArray("activated minimized=0 maximized=0 visible=1");
        QTest::newRow("maximised state is kept")
            << "maximized-minimized" << QByteArray("activated minimized=0 maximized=1 visible=1");
    }
    void secondStartEndsAndActivatesTheFirst()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, after);
        auto first = Probe(mode);
        QCOMPARE(WaitLine(*first), QByteArray("ready"));

        auto second = Probe();
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(second->readAllStandardOutput().trimmed(), QByteArray("another 1"));

        QCOMPARE(WaitLine(*first), after);
        QCOMPARE(first->state(), QProcess::Running);
        Stop(*first);
    }

    void otherMessagesAreIgnored()
    {
        auto first = Probe();
        QCOMPARE(WaitLine(*first), QByteArray("ready"));
        QLocalSocket socket;
        // The probe's runtime folder is not this process's: connect by the full path.
        socket.connectToServer(FRuntime->path() + "/TTESSARO_KORVEL_FOR_XAL");
        QVERIFY(socket.waitForConnected(5000));
        socket.write("WM_CLOSE\n" + QByteArray(1000, 'x') + "\n");
        socket.waitForBytesWritten(2000);
        QTest::qWait(300);
        QVERIFY(!first->canReadLine());
        QCOMPARE(first->state(), QProcess::Running);

        QLocalSocket rescan;
        rescan.connectToServer(FRuntime->path() + "/TTESSARO_KORVEL_FOR_XAL");
        QVERIFY(rescan.waitForConnected(5000));
        rescan.write(TSingleInstance::RescanMessageName() + "\n");
        rescan.waitForBytesWritten(2000);
        QCOMPARE(WaitLine(*first), QByteArray("rescan"));
        Stop(*first);
    }

    void staleSocketOfACrashedInstanceDoesNotBlock()
    {
        auto crashed = Probe();
        QCOMPARE(WaitLine(*crashed), QByteArray("ready"));
        ::kill(pid_t(crashed->processId()), SIGKILL);
        crashed->waitForFinished(5000);
        QVERIFY(QFile::exists(FRuntime->path() + "/TTESSARO_KORVEL_FOR_XAL"));

        auto next = Probe();
        QCOMPARE(WaitLine(*next), QByteArray("ready"));
        Stop(*next);
    }

    void simultaneousStartsEndAsOne()
    {
        std::vector<std::unique_ptr<QProcess>> probes;
        for (int i = 0; i < 5; ++i) probes.push_back(Probe());
        int ready = 0, another = 0;
        for (auto& p : probes) {
            const QByteArray line = WaitLine(*p);
            if (line == "ready") ++ready;
            if (line == "another 1") {
                ++another;
                QVERIFY(p->waitForFinished(10000));
                QCOMPARE(p->exitCode(), 0);
            }
        }
        QCOMPARE(ready, 1);
        QCOMPARE(another, 4);
        for (auto& p : probes) Stop(*p);
    }

    // The program itself: a second start ends at once with code 0, and ending the session
    // closes the first one the normal way, so its settings file appears beside it.
    void programStartsOnceAndSavesItsSettings()
    {
        QTemporaryDir home;
        const QString programFolder = home.filePath("program");
        QVERIFY(QDir().mkpath(programFolder));
        for (const QString& name : QDir(KORVEL_BIN_DIR).entryList({"Korvel", "lib*.so"}, QDir::Files))
            QVERIFY(QFile::copy(QString(KORVEL_BIN_DIR) + "/" + name, programFolder + "/" + name));
        QFile::setPermissions(programFolder + "/Korvel", QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);

        auto first = Start(programFolder + "/Korvel", {}, home.path());
        const QString socketPath = FRuntime->path() + "/TTESSARO_KORVEL_FOR_XAL";
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socketPath), 20000);

        auto second = Start(programFolder + "/Korvel", {}, home.path());
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(first->state(), QProcess::Running);

        first->terminate();
        QVERIFY(first->waitForFinished(20000));
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
        const TIniFile ini(programFolder + "/Korvel.ini");
        QCOMPARE(ini.ReadSections(), QStringList({"Window", "Login", "Controls", "Update", "ListHeader"}));
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
