// Desktop notifications against a pretend notification service on a private bus that the test
// starts: what the Notify call carries, that only work ending in the background is told, that
// copies to the reader are told from the main window, and that without a service nothing waits
// or fails.
#include "Notify.h"
#include "../Support/WindowTestUtil.h"
#include "BookListModel.h"
#include "Categories.h"
#include "uMainForm.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

struct TNotice
{
    QString AppName;
    uint ReplacesId;
    QString AppIcon;
    QString Summary;
    QString Body;
    QStringList Actions;
    QVariantMap Hints;
    int Timeout;
};

// Records what it is asked to show and answers with an id, like a notification daemon.
class TFakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<TNotice> Notices;

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout)
    {
        Notices.append({appName, replacesId, appIcon, summary, body, actions, hints, timeout});
        return uint(Notices.size());
    }
};

const QString ServiceName = QStringLiteral("org.freedesktop.Notifications");

} // namespace

class NotifyTest : public QObject
{
    Q_OBJECT

    QTemporaryDir FDir;
    QProcess FBus;
    QString FAddress;
    TFakeNotifications FService;
    bool FBackground = true;

    QDBusConnection ServiceBus() const
    {
        return QDBusConnection(QStringLiteral("notify-test-service"));
    }

    void StartService()
    {
        QDBusConnection bus = ServiceBus();
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &FService,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(ServiceName));
    }

    void StopService()
    {
        QDBusConnection bus = ServiceBus();
        bus.unregisterService(ServiceName);
        bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }

    // Sends a marker and waits for it: every notice sent before it has arrived by then, so a
    // notice that is still missing was never sent.
    void Settle()
    {
        QVERIFY(Notify::Send(QStringLiteral("marker"), QString()));
        QTRY_VERIFY(!FService.Notices.isEmpty() &&
                    FService.Notices.last().Summary == QStringLiteral("marker"));
        FService.Notices.removeLast();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        // A bus of its own with nothing to start on demand: no real notification daemon can
        // be reached or launched.
        const QString config = FDir.filePath("bus.conf");
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:path=" +
            FDir.filePath("bus").toUtf8() +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
            "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
            "<allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        FBus.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
        QVERIFY2(FBus.waitForStarted(), "dbus-daemon did not start");
        QTRY_VERIFY(FBus.canReadLine());
        FAddress = QString::fromUtf8(FBus.readLine()).trimmed();
        QVERIFY(!FAddress.isEmpty());

        const QDBusConnection sender =
            QDBusConnection::connectToBus(FAddress, QStringLiteral("notify-test-sender"));
        QVERIFY(sender.isConnected());
        QVERIFY(QDBusConnection::connectToBus(FAddress, QStringLiteral("notify-test-service"))
                    .isConnected());
        Notify::SetBusForTests(sender);
        StartService();
    }

    void cleanupTestCase()
    {
        Notify::ResetForTests();
        QDBusConnection::disconnectFromBus(QStringLiteral("notify-test-sender"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notify-test-service"));
        FBus.terminate();
        FBus.waitForFinished();
    }

    void init()
    {
        FService.Notices.clear();
        FBackground = true;
        Notify::SetBackgroundForTests([this] { return FBackground; });
    }

    void notifyCarriesTheProgramAndTheTexts()
    {
        QVERIFY(Notify::Send(Notify::CopySummary(false, false), Notify::CopyBody(3, false)));
        // Sent, not waited for: the service has not answered when Send returns.
        QCOMPARE(FService.Notices.size(), 0);
        QTRY_COMPARE(FService.Notices.size(), 1);
        const TNotice& n = FService.Notices[0];
        QCOMPARE(n.AppName, QStringLiteral("Korvel"));
        QCOMPARE(n.ReplacesId, 0u);
        QCOMPARE(n.AppIcon, QStringLiteral("org.korvel.Korvel"));
        QCOMPARE(n.Summary, QStringLiteral("复制完成"));
        QCOMPARE(n.Body, QStringLiteral("已将 3 本书复制到阅读器。"));
        QVERIFY(n.Actions.isEmpty());
        QCOMPARE(n.Hints.value(QStringLiteral("desktop-entry")).toString(),
                 QStringLiteral("org.korvel.Korvel"));
        QCOMPARE(n.Timeout, -1);
    }

    void onlyWorkEndingInTheBackgroundIsTold()
    {
        FBackground = false;
        QVERIFY(!Notify::SendInBackground(QStringLiteral("升级完成"), QStringLiteral("前台")));
        FBackground = true;
        QVERIFY(Notify::SendInBackground(QStringLiteral("升级完成"), QStringLiteral("后台")));
        Settle();
        QCOMPARE(FService.Notices.size(), 1);
        QCOMPARE(FService.Notices[0].Body, QStringLiteral("后台"));
    }

    void anActiveWindowIsTheForeground()
    {
        Notify::SetBackgroundForTests(nullptr);
        QWidget window;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(!Notify::InBackground());
        QVERIFY(!Notify::SendInBackground(QStringLiteral("升级完成"), QString()));
    }

    void withoutServiceNothingWaitsOrShows()
    {
        StopService();
        // The call goes out and its error answer is dropped; no box, no wait.
        QVERIFY(Notify::Send(QStringLiteral("复制失败"), QStringLiteral("操作失败")));
        QTest::qWait(100);
        QVERIFY(!QApplication::activeModalWidget());
        StartService();
        Settle();
        QCOMPARE(FService.Notices.size(), 0);

        // No bus at all: nothing is sent.
        const QDBusConnection none = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=") + FDir.filePath("no-bus"), QStringLiteral("notify-none"));
        QVERIFY(!none.isConnected());
        Notify::SetBusForTests(none);
        QVERIFY(!Notify::Send(QStringLiteral("复制完成"), QString()));
        QVERIFY(!Notify::SendInBackground(QStringLiteral("复制完成"), QString()));
        QDBusConnection::disconnectFromBus(QStringLiteral("notify-none"));
        Notify::SetBusForTests(QDBusConnection(QStringLiteral("notify-test-sender")));
    }

    void copiesToTheReaderAreTold()
    {
        QTemporaryDir dir;
        MakeFile(dir.filePath("Storages/shelf/one.txt"));
        MakeFile(dir.filePath("Storages/shelf/two.txt"));
        MakeFile(dir.filePath("Storages/shelf/three.txt"));
        QDir().mkpath(dir.filePath("Storages/other"));
        QDir().mkpath(dir.filePath("reader/books"));
        MakeFile(dir.filePath("in/new.txt"));
        MakeFile(dir.filePath("in/more.txt"));
        MakeFile(dir.filePath("in/last.txt"));
        TSystemCategory::SetLocalLibraryPath(dir.filePath("Storages/"));
        TBrowserCategory::SetHomeFileName(dir.filePath("home.dll"));
        {
            TXALVarnixForm form(dir.filePath("Korvel.ini"));
            TSystemCategory* root = form.SystemCategory();
            TReaderCategory* reader = root->ReaderSlot(0);
            reader->SetPath(dir.filePath("reader"));
            reader->SetDriveLetter('E');
            form.show();
            QTRY_VERIFY(form.CurrentCategory() == root->Child(0));
            const auto shelf = [](TCategory* parent, const QString& name) {
                parent->EnsureLoaded();
                TCategory* c = parent->Category(parent->IndexOfCategory(name));
                c->EnsureLoaded();
                return c;
            };
            TCategory* local = shelf(root->LocalLibrary(), "shelf");
            TCategory* books = shelf(reader, "books");
            form.SelectCategory(local);
            QCoreApplication::processEvents();
            QCOMPARE(form.BookListModel()->rowCount(), 3);
            TAnswers answers;

            // All three books to the reader.
            answers.Queue = {mrYes};
            form.SelectAllBooks();
            QVERIFY(form.DropBooks(books, Qt::CopyAction));
            QTRY_COMPARE(FService.Notices.size(), 1);
            QCOMPARE(FService.Notices[0].Summary, QStringLiteral("复制完成"));
            QCOMPARE(FService.Notices[0].Body, QStringLiteral("已将 3 本书复制到阅读器。"));

            // A folder in the place of a book on the reader makes the copy fail: the failure
            // is told, with the message box's reason.
            FService.Notices.clear();
            const QString blocked = form.BookListModel()->Item(0)->FileName();
            QVERIFY(QFile::remove(dir.filePath("reader/books/" + blocked)));
            QVERIFY(QDir().mkpath(dir.filePath("reader/books/" + blocked + "/inside")));
            answers.Queue = {mrYes};
            form.SelectBookRow(0);
            QVERIFY(!form.DropBooks(books, Qt::CopyAction));
            QTRY_COMPARE(FService.Notices.size(), 1);
            QCOMPARE(FService.Notices[0].Summary, QStringLiteral("复制失败"));
            QCOMPARE(FService.Notices[0].Body, answers.Texts.last());

            // Within the library: not a copy to the reader.
            FService.Notices.clear();
            answers.Queue = {mrYes};
            form.SelectBookRow(0);
            QVERIFY(form.DropBooks(shelf(root->LocalLibrary(), "other"), Qt::MoveAction));
            Settle();
            QCOMPARE(FService.Notices.size(), 0);

            // Books added to a reader's shelf are copied there; in the foreground nothing is
            // told.
            form.SelectCategory(reader);
            QCoreApplication::processEvents();
            form.AddBooks({dir.filePath("in/new.txt"), dir.filePath("in/more.txt")});
            QTRY_COMPARE(FService.Notices.size(), 1);
            QCOMPARE(FService.Notices[0].Summary, QStringLiteral("复制完成"));
            QCOMPARE(FService.Notices[0].Body, QStringLiteral("已将 2 本书复制到阅读器。"));
            FBackground = false;
            form.AddBooks({dir.filePath("in/last.txt")});
            QVERIFY(QFile::exists(dir.filePath("reader/last.txt")));
            FBackground = true;
            Settle();
            QCOMPARE(FService.Notices.size(), 1);
        }
        TSystemCategory::SetLocalLibraryPath(QString());
        TBrowserCategory::SetHomeFileName(QString());
    }
};

QTEST_MAIN(NotifyTest)
#include "NotifyTest.moc"
