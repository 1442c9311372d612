// The update window driven through its commands against a loopback server, with the main
// window it belongs to: what a check offers, when it asks, what the exit and the close query
// do, and a whole firmware installation onto a reader folder.
#include "../Support/WindowTestUtil.h"
#include "Categories.h"
#include "DevID.h"
#include "Folders.h"
#include "Globals.h"
#include "ServeProcess.h"
#include "uDownAskDlg.h"
#include "uMainForm.h"
#include "uMsgDlg.h"
#include "uUpDateComm.h"
#include "uUpdateMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <zip.h>

#include <cstring>
#include <deque>
#include <memory>

namespace {

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A ".pkg" entry: 16 leading bytes, 20 header bytes, the payload length, the payload, a tail.
QByteArray PkgEntry(const QByteArray& payload)
{
    QByteArray bytes(16 + 20, 'h');
    const qint32 length = qint32(payload.size());
    bytes.append(reinterpret_cast<const char*>(&length), 4);
    return bytes + payload + QByteArray("tail after the payload");
}

void MakeZip(const QString& path, const QString& entry, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    QVERIFY(zip);
    zip_source_t* source = zip_source_buffer(zip, bytes.constData(), bytes.size(), 0);
    QVERIFY(source);
    QVERIFY(zip_file_add(zip, entry.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8) >= 0);
    QVERIFY(zip_close(zip) == 0);
}

const char* const SoftwareOffer =
    R"(<v Model="VARNIX" ID="1.0.0.9" File="pkg\KorvelSetup.bin" FileSize="2K"><Desc>新的书架, "修正 翻页"</Desc></v>)";
const char* const FirmwareOffer =
    R"(<v Model="05" Edition="02" ID="0140" File="fw/fw0140.zip" FileSize="1M"><Desc>更快</Desc></v>)";

QByteArray Descriptor(const QByteArray& versions)
{
    return "<?xml version=\"1.0\"?><VerDesc><Supported><m ID=\"1F\"/></Supported><Versions>" +
           versions + "</Versions></VerDesc>";
}

} // namespace

class UpdateWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<TXALVarnixForm> FForm;
    std::unique_ptr<TServeProcess> FServer;
    QString FCache;
    QStringList FLaunched;
    int FChooserRuns = 0;

    QString Served(const QString& rest) const { return FDir->filePath("srv/" + rest); }
    TSystemCategory* Root() const { return FForm->SystemCategory(); }

    // A reader of model 5, edition 2, manufacturer 0x1F at firmware 1.36, in a folder.
    void AttachReader()
    {
        TDeviceIdentity id{};
        id.IdKind = 2;
        std::strcpy(id.IdText, "0123ABCD");
        id.VendorExtra[2] = 1;
        id.VendorExtra[3] = 36;
        id.IdentityHead[0] = 1;
        id.ModelCode = 5;
        id.EditionCode = 2;
        id.ManufacturerCode = 0x1F;
        QDir().mkpath(FDir->filePath("reader"));
        Root()->AttachSlot(0, QStringLiteral("阅读器"), FDir->filePath("reader"), 'E', id);
        QCoreApplication::processEvents(); // the reader notification arms the timer
        FForm->AutoUpdateTimer()->stop();
    }
    // Starts a check as the library menu does and waits for the flow to come to rest.
    void CheckAndSettle()
    {
        FForm->ActCheckUpdate->trigger();
        QVERIFY(UpdateV2());
        QTRY_VERIFY_WITH_TIMEOUT(UpdateV2() && UpdateV2()->ListView->topLevelItemCount() > 0 &&
                                     UpdateV2()->Phase == 0 && UpdateV2()->ThreadState != 2,
                                 20000);
    }
    QString Status(int row) const
    {
        QTreeWidgetItem* item = UpdateV2()->ListView->topLevelItem(row);
        return item ? item->text(4) : QStringLiteral("<no row>");
    }

private slots:
    void initTestCase()
    {
        FCache = Folders::UpdateCacheFolder();
        QVERIFY(!FCache.isEmpty());
    }

    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        QDir(FCache).removeRecursively();
        QDir().mkpath(FCache);
        TSystemCategory::SetLocalLibraryPath(FDir->filePath("Storages"));
        TBrowserCategory::SetHomeFileName(FDir->filePath("home.dll"));
        FForm = std::make_unique<TXALVarnixForm>(FDir->filePath("Korvel.ini"));
        FServer = std::make_unique<TServeProcess>("http", FDir->path());
        QVERIFY(FServer->Port > 0);
        // Without the trailing "/": the window adds it.
        ProcessSettings().UpdateServer = FServer->Url() + QStringLiteral("/srv");
        FLaunched.clear();
        FChooserRuns = 0;
        TUpdateV2::SetPackageLauncher([this](const QString& file) {
            FLaunched << file;
            return true;
        });
        TUpdateV2::SetWaitScale(1);
        SetDownAskAnswer([this](TDownAskForm& form) {
            ++FChooserRuns;
            form.OkClick();
        });
    }

    void cleanup()
    {
        {
            // A download still running when the main window goes is left without asking.
            TAnswers answers;
            answers.Queue = {mrYes};
            FForm.reset();
        }
        QTRY_VERIFY(!UpdateV2());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        FServer.reset();
        SetDownAskAnswer(nullptr);
        TUpdateV2::SetPackageLauncher(nullptr);
        TUpdateV2::SetReaderEjector(nullptr);
        TUpdateV2::SetWaitScale(100);
        ProcessSettings().AutoMode = false;
        EditionInstallType() = 1;
        TSystemCategory::SetLocalLibraryPath(QString());
        TBrowserCategory::SetHomeFileName(QString());
    }

    void windowShowsVersionsAndReader()
    {
        FForm->ActCheckUpdate->trigger();
        TUpdateV2* window = UpdateV2();
        QVERIFY(window);
        QCOMPARE(window->ServerUrl, FServer->Url() + QStringLiteral("/srv/"));
        QCOMPARE(window->ProgramVersionBox->text(), QStringLiteral(KORVEL_VERSION));
        QCOMPARE(window->ReaderVersionBox->text(), QStringLiteral("设备未连接"));
        window->ExitCommand();
        QVERIFY(!UpdateV2());

        AttachReader();
        FForm->ActCheckUpdate->trigger();
        QCOMPARE(UpdateV2()->ReaderVersionBox->text(), QStringLiteral("R0001_BUILD0.0.36"));
    }

    void automaticCheckFindingNothingLeavesNoWindow()
    {
        // The program is as new as the server's; firmware is offered but no reader is there.
        MakeFile(Served("valid_verdesc2.zip"),
                 Descriptor(R"(<v Model="VARNIX" ID="1.0.0.1" File="same.bin"/>)" +
                            QByteArray(FirmwareOffer)));
        QPointer<TUpdateV2> seen;
        bool existed = false;
        bool shown = false;
        QTimer probe; // notes the window while it exists, however briefly
        connect(&probe, &QTimer::timeout, this, [&] {
            if (!UpdateV2()) return;
            seen = UpdateV2();
            existed = true;
            shown = shown || seen->isVisible();
        });
        probe.start(0);
        FForm->AutoUpdateTimer()->setInterval(0);
        FForm->AutoUpdateTimer()->start();
        QTRY_VERIFY(existed);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(FCache + "local_verdesc2.zip") && !UpdateV2(),
                                 20000);
        QVERIFY(!shown);            // the check ran unseen
        QTRY_VERIFY(seen.isNull()); // destroyed, its tray icon with it
        QVERIFY(!ProcessSettings().AutoMode);
        QCOMPARE(FChooserRuns, 0);

        // Nor does one that cannot reach the list.
        QFile::remove(Served("valid_verdesc2.zip"));
        existed = false;
        FForm->AutoUpdateTimer()->start();
        QTRY_VERIFY(existed);
        QTRY_VERIFY_WITH_TIMEOUT(!UpdateV2() && seen.isNull(), 20000);
    }

    void bothPackagesCachedAskWithoutChooser()
    {
        AttachReader();
        MakeFile(Served("valid_verdesc2.zip"),
                 Descriptor(QByteArray(FirmwareOffer) + SoftwareOffer));
        MakeFile(FCache + "fw0140.zip", "cached firmware");
        MakeFile(FCache + "KorvelSetup.bin", "cached installer");
        TAnswers answers;
        answers.Queue = {mrNo, mrYes}; // not the firmware now, the program yes
        CheckAndSettle();
        TUpdateV2* window = UpdateV2();
        QCOMPARE(FChooserRuns, 0);
        QCOMPARE(answers.Texts.size(), 2);
        QVERIFY(answers.Texts[0].startsWith(QStringLiteral("已下载 <设备固件> 升级包")));
        QVERIFY(answers.Texts[1].startsWith(QStringLiteral("已下载 <阅读软件> 升级包")));
        QCOMPARE(FLaunched, QStringList{FCache + "KorvelSetup.bin"});
        QCOMPARE(window->Task.Count, 2);
        QCOMPARE(window->ListView->topLevelItemCount(), 3);
        QCOMPARE(Status(0), QStringLiteral("检测完成"));
        QCOMPARE(window->ListView->topLevelItem(1)->text(1), QStringLiteral("fw0140.zip"));
        QCOMPARE(window->ListView->topLevelItem(1)->text(2), QStringLiteral("设备固件"));
        QCOMPARE(window->ListView->topLevelItem(2)->text(1), QStringLiteral("KorvelSetup.bin"));
        QCOMPARE(Status(1), QStringLiteral("下载完成"));
        QCOMPARE(Status(2), QStringLiteral("更新完成"));
        QVERIFY(!window->Task.At(1).Done);
        QVERIFY(window->Task.At(2).Done);
        QCOMPARE(window->TrayText, QStringLiteral("KeltoVarnix\r\n更新完成!"));
        // Nothing was fetched again.
        QCOMPARE(ReadFile(FCache + "fw0140.zip"), QByteArray("cached firmware"));
    }

    // "退出更新" and closing the main window from inside an install question: the window's step
    // finds it is leaving when the question returns, and the window goes only afterwards.
    void leavingFromInsideAnInstallQuestion()
    {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        AttachReader();
        MakeFile(Served("valid_verdesc2.zip"),
                 Descriptor(QByteArray(FirmwareOffer) + SoftwareOffer));
        MakeFile(FCache + "fw0140.zip", "cached firmware");
        MakeFile(FCache + "KorvelSetup.bin", "cached installer");
        TAnswers answers;
        QPointer<TUpdateV2> window;
        bool left = false;
        answers.OnAsk = [&](const QString&) {
            if (std::exchange(left, true)) return;
            window = UpdateV2();
            window->ExitButton->click();
            FForm->close();
        };
        answers.Queue = {mrYes, mrYes};
        FForm->ActCheckUpdate->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!answers.Texts.isEmpty(), 20000);
        QVERIFY(!UpdateV2());
        QTRY_VERIFY(window.isNull());
        QCOMPARE(answers.Texts.size(), 1); // nothing more was asked or installed
        QVERIFY(FLaunched.isEmpty());
        QVERIFY(!QFile::exists(FDir->filePath("reader/_sys_/update/updatepackage.bin")));
        QGuiApplication::setQuitOnLastWindowClosed(true);
    }

    void chosenPackageIsDownloadedAndStarted()
    {
        MakeFile(Served("valid_verdesc2.zip"), Descriptor(SoftwareOffer));
        MakeFile(Served("pkg/KorvelSetup.bin"), QByteArray(5000, 's'));
        TAnswers answers;
        CheckAndSettle();
        QCOMPARE(FChooserRuns, 1);
        QCOMPARE(ReadFile(FCache + "KorvelSetup.bin"), QByteArray(5000, 's'));
        QCOMPARE(FLaunched, QStringList{FCache + "KorvelSetup.bin"});
        QVERIFY(answers.Texts.isEmpty()); // a fresh download is installed without a question
        QCOMPARE(Status(1), QStringLiteral("更新完成"));
        QVERIFY(UpdateV2()->isVisible());
    }

    void executablePackageIsStartedAsAProgram()
    {
        TUpdateV2::SetPackageLauncher(nullptr);
        const QString marker = FDir->filePath("installer-ran");
        MakeFile(Served("valid_verdesc2.zip"), Descriptor(SoftwareOffer));
        MakeFile(FCache + "KorvelSetup.bin", ("#!/bin/sh\necho ran > '" + marker + "'\n").toUtf8());
        // Downloaded without the executable mark, as every download is.
        TAnswers answers;
        answers.Queue = {mrYes};
        CheckAndSettle();
        QCOMPARE(Status(1), QStringLiteral("更新完成"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 10000);
    }

    void failedDownloadsAndUnchosenPackages()
    {
        AttachReader();
        // The firmware is missing on the server; the program package is not chosen.
        MakeFile(Served("valid_verdesc2.zip"),
                 Descriptor(QByteArray(FirmwareOffer) + SoftwareOffer));
        SetDownAskAnswer([this](TDownAskForm& form) {
            ++FChooserRuns;
            QVERIFY(form.PageVisible(0) && form.PageVisible(1));
            QCOMPARE(form.DescBoxes[0]->toPlainText(),
                     QStringLiteral("版本：1.0.0.9\n大小：2K\n\n新的书架\n修正 翻页"));
            form.DownloadBoxes[0]->setChecked(false);
            form.OkClick();
        });
        CheckAndSettle();
        TUpdateV2* window = UpdateV2();
        QCOMPARE(Status(1), QStringLiteral("下载失败"));
        QCOMPARE(Status(2), QStringLiteral("取消下载"));
        QCOMPARE(window->ThreadState, quint8(4));
        QVERIFY(FLaunched.isEmpty());
        QVERIFY(!QFile::exists(FCache + "fw0140.zip"));
        QVERIFY(!QFile::exists(FCache + "fw0140.zip.tmp"));
        QVERIFY(window->UpdateButton->isEnabled());

        // A check that cannot reach the server says so.
        QFile::remove(Served("valid_verdesc2.zip"));
        window->UpdateButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->Phase == 0 && window->ThreadState == 5, 20000);
        QCOMPARE(Status(0), QStringLiteral("检测失败"));
        QCOMPARE(window->TrayIconIndex, 3);
        QCOMPARE(window->TrayText, QStringLiteral("KeltoVarnix\r\n下载升级包失败"));
    }

    // Without a tray host (offscreen) the information line stands in for the tray's notices; it
    // must end on how the cycle ended, not on the "upgrading" notice of a step that failed.
    void informationLineTellsHowItEnded()
    {
        AttachReader();
        // A firmware package that downloads fine but holds no image: writing it fails.
        MakeFile(Served("valid_verdesc2.zip"), Descriptor(FirmwareOffer));
        MakeFile(Served("fw/fw0140.zip"), "no image in here");
        TAnswers answers;
        CheckAndSettle();
        TUpdateV2* window = UpdateV2();
        QCOMPARE(Status(1), QStringLiteral("更新失败"));
        QCOMPARE(window->InfoLabel->text(), QStringLiteral("KeltoVarnix\n设备固件更新失败!"));

        // The next check starts afresh, and a package that cannot be fetched says so.
        QFile::remove(Served("fw/fw0140.zip"));
        QFile::remove(FCache + "fw0140.zip");
        window->UpdateButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->Phase == 0 && window->ThreadState == 5 &&
                                     Status(1) == QStringLiteral("下载失败"),
                                 20000);
        QCOMPARE(window->InfoLabel->text(), QStringLiteral("KeltoVarnix\n下载升级包失败"));

        // A program package that arrives and is started: the line says it is done.
        MakeFile(Served("valid_verdesc2.zip"), Descriptor(SoftwareOffer));
        MakeFile(Served("pkg/KorvelSetup.bin"), QByteArray(3000, 's'));
        window->UpdateButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(window->Phase == 0 && Status(1) == QStringLiteral("更新完成"),
                                 20000);
        QCOMPARE(window->InfoLabel->text(), QStringLiteral("KeltoVarnix\n更新完成!"));
    }

    // A question the window asks is the main window's box; when it closes the main window comes
    // up, and the update window must be brought back in front of it.
    void questionsLeaveTheWindowInFront()
    {
        MakeFile(Served("valid_verdesc2.zip"), Descriptor(SoftwareOffer));
        MakeFile(FCache + "KorvelSetup.bin", "cached installer");
        FForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        TAnswers answers;
        answers.Queue = {mrNo};
        answers.OnAsk = [this](const QString&) {
            // What closing the box does on the desktop.
            FForm->raise();
            FForm->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(FForm.get()));
        };
        CheckAndSettle();
        QCOMPARE(answers.Texts.size(), 1);
        QVERIFY(answers.Texts[0].startsWith(QStringLiteral("已下载 <阅读软件> 升级包")));
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(UpdateV2()));

        // An unseen check leaves the main window where it is.
        UpdateV2()->hide();
        FForm->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(FForm.get()));
        answers.Queue = {mrNo};
        UpdateV2()->UpdateButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(answers.Texts.size() == 2 && UpdateV2()->Phase == 0, 20000);
        QVERIFY(!UpdateV2()->isVisible());
        QCOMPARE(QApplication::activeWindow(), static_cast<QWidget*>(FForm.get()));
    }

    void busyWindowRefusesAndExitAsks()
    {
        // A package that trickles in for seconds, served from the root: this server URL has no
        // folder at all.
        ProcessSettings().UpdateServer = FServer->Url();
        MakeFile(FDir->filePath("valid_verdesc2.zip"),
                 Descriptor(R"(<v Model="VARNIX" ID="1.0.0.9" File="slow"/>)"));
        TAnswers answers;
        SetDownAskAnswer([&](TDownAskForm& form) {
            ++FChooserRuns;
            // Leaving while the chooser is open is refused.
            UpdateV2()->ExitCommand();
            QVERIFY(UpdateV2());
            QCOMPARE(answers.Texts.value(0),
                     QStringLiteral("已找到可用的更新，确认要退出请先关闭更新选择窗口。"));
            form.OkClick();
        });
        FForm->show();
        FForm->ActCheckUpdate->trigger();
        TUpdateV2* window = UpdateV2();
        QTRY_VERIFY_WITH_TIMEOUT(window->Phase == 5 && window->ThreadState == 2, 20000);
        TUpdateThread* thread = window->Thread();

        // "更新" while a package downloads does nothing.
        window->UpdateButton->click();
        QCoreApplication::processEvents();
        QCOMPARE(window->Phase, 5);
        QCOMPARE(window->Thread(), thread);
        QCOMPARE(window->ListView->topLevelItemCount(), 2);

        // The download reports its progress.
        QTRY_VERIFY_WITH_TIMEOUT(
            window->ProgressLabel->text().startsWith(QStringLiteral("下载进度：")), 10000);
        QVERIFY(window->TrayText.startsWith(QStringLiteral("KeltoVarnix\r\n正在下载升级包(")));

        // Closing the main window asks the update window to exit, which asks first.
        answers.Texts.clear();
        answers.Queue = {mrNo};
        QVERIFY(!FForm->close());
        QCOMPARE(answers.Texts, QStringList{QStringLiteral("正在进行更新，确认退出？")});
        QCOMPARE(UpdateV2(), window);
        QCOMPARE(window->ThreadState, quint8(2));

        answers.Queue = {mrYes};
        window->ExitCommand();
        QVERIFY(!UpdateV2());
        QVERIFY(!QFile::exists(FCache + "slow"));
        QVERIFY(!QFile::exists(FCache + "slow.tmp"));
        QVERIFY(FForm->close());
    }

    void closeIsRefusedWhileFirmwareIsWritten()
    {
        FForm->show();
        FForm->ActCheckUpdate->trigger();
        TUpdateV2* window = UpdateV2();
        QTRY_VERIFY_WITH_TIMEOUT(window->ThreadState == 5, 20000); // no descriptor there
        TAnswers answers;
        window->ThreadState = 6;
        window->CanExit = false;
        QVERIFY(!FForm->close());
        QVERIFY(answers.Texts.value(0).startsWith(QStringLiteral("正在将升级包写入阅读器中")));
        window->ExitCommand(); // ignored while locked
        QCOMPARE(UpdateV2(), window);
        window->ThreadState = 4;
        window->CanExit = true;
        QVERIFY(FForm->close());
        QVERIFY(!UpdateV2());
    }

    void firmwareIsWrittenToTheReader()
    {
        AttachReader();
        const QByteArray payload = QByteArray("reader image ") + QByteArray(300000, 'i');
        MakeFile(Served("valid_verdesc2.zip"), Descriptor(FirmwareOffer));
        MakeZip(Served("fw/fw0140.zip"), QStringLiteral("fw0140.pkg"), PkgEntry(payload));
        QList<char> ejections;
        TUpdateV2::SetReaderEjector([&](char drive) {
            ejections << drive;
            // While the reader is ejected the window stays locked.
            if (!UpdateV2() || UpdateV2()->CanExit) ejections << '!';
            return false;
        });
        TAnswers answers;
        answers.Queue = {mrYes};
        CheckAndSettle();
        TUpdateV2* window = UpdateV2();
        QCOMPARE(ReadFile(FDir->filePath("reader/_sys_/update/updatepackage.bin")), payload);
        QCOMPARE(Status(1), QStringLiteral("更新完成"));
        QVERIFY(window->Task.At(1).Done);
        QCOMPARE(answers.Texts.size(), 2);
        QVERIFY(answers.Texts[0].contains(QStringLiteral("需要重启您的阅读器")));
        QCOMPARE(answers.Texts[1],
                 QStringLiteral("KeltoVarnix 无法正常断开您的阅读器，请手工断开并重启阅读器。"));
        QCOMPARE(ejections, (QList<char>{'E', 'E', 'E'}));
        QCOMPARE(window->ThreadState, quint8(4));
        QVERIFY(window->CanExit);
        QVERIFY(window->ExitButton->isEnabled());
        QCOMPARE(window->TrayText, QStringLiteral("KeltoVarnix\r\n设备固件更新完成!"));
    }

    void sdCardEditionNeedsTheCard()
    {
        AttachReader();
        MakeFile(Served("valid_verdesc2.zip"),
                 "<?xml version=\"1.0\"?><VerDesc><Mappings><m Manufacturer=\"1F\" Model=\"05\" "
                 "Edition=\"02\" Name=\"卡版\" Type=\"2\"/></Mappings><Supported><m "
                 "ID=\"1F\"/></Supported><Versions>" +
                     QByteArray(FirmwareOffer) + "</Versions></VerDesc>");
        MakeFile(FCache + "fw0140.zip", "cached firmware");
        TAnswers answers;
        answers.Queue = {mrYes};
        CheckAndSettle();
        TUpdateV2* window = UpdateV2();
        QCOMPARE(window->EditionLabel->text(), QStringLiteral("卡版"));
        QCOMPARE(answers.Texts.size(), 2);
        QCOMPARE(answers.Texts[1], QStringLiteral("读取SD卡路径出错，请插入SD卡后重试。"));
        QVERIFY(!window->Task.At(1).Done);
        QVERIFY(!QFile::exists(FDir->filePath("reader/_sys_/update/updatepackage.bin")));
        QVERIFY(window->CanExit);
    }

    void firmwareNeedsTheSameReader()
    {
        AttachReader();
        MakeFile(Served("valid_verdesc2.zip"), Descriptor(FirmwareOffer));
        MakeFile(FCache + "fw0140.zip", "cached firmware");
        TAnswers answers;
        // The reader is replaced by another model while the question is open.
        answers.OnAsk = [this](const QString&) {
            TDeviceIdentity other{};
            other.ModelCode = 7;
            other.ManufacturerCode = 0x1F;
            Root()->ReaderSlot(0)->SetIdentity(&other);
        };
        answers.Queue = {mrYes};
        CheckAndSettle();
        TUpdateV2* window = UpdateV2();
        QCOMPARE(answers.Texts.size(), 1);
        QVERIFY(!window->Task.At(1).Done);
        QVERIFY(!QFile::exists(FDir->filePath("reader/_sys_/update/updatepackage.bin")));
        // Without a tray host (offscreen) the notice stays in the window's information line.
        QCOMPARE(window->InfoLabel->text(),
                 QStringLiteral("没有与下载更新匹配的阅读器，请连接设备后重新检测更新"));
    }
};

// The chooser on its own: what it shows and what its buttons do to the offer.
class DownAskTest : public QObject
{
    Q_OBJECT
private slots:
    void descriptionLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("commas and blanks") << "a,b c" << QStringList{"a", "b", "c"};
        QTest::newRow("quoted") << R"("x, y",z)" << QStringList{"x, y", "z"};
        QTest::newRow("doubled quote") << R"("say ""hi""")" << QStringList{R"(say "hi")"};
        QTest::newRow("empty between commas") << "a,,b" << QStringList{"a", "", "b"};
        QTest::newRow("trailing comma") << "a," << QStringList{"a", ""};
        QTest::newRow("empty") << "" << QStringList{};
    }
    void descriptionLines()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QCOMPARE(SplitDescription(text), lines);
    }

    void buttonsDecideTheSelection()
    {
        TDownTask task;
        task.Count = 2;
        task.At(1) = {true, true, "0140", "fw.zip", "1M", "x", 3, true, 0x0502, 0x1F};
        task.At(2) = {true, false, "1.0.0.9", "setup.bin", "2K", "y", 2, false, 0, 0};
        TAnswers answers;
        {
            TDownAskForm form(task);
            QVERIFY(!form.PageVisible(1)); // the cached firmware is not offered again
            QVERIFY(form.PageVisible(0));
            QVERIFY(!task.At(2).Selected); // until the box says so
            form.DownloadBoxes[0]->setChecked(false);
            answers.Queue = {mrNo, mrYes};
            form.OkClick(); // "no, choose again"
            QCOMPARE(form.result(), int(mrNone));
            form.OkClick(); // "yes, download nothing"
            QCOMPARE(form.result(), int(mrNo));
            QVERIFY(!task.At(2).Selected);
            QVERIFY(task.At(1).Selected);
        }
        {
            TDownAskForm form(task);
            form.OkClick();
            QCOMPARE(form.result(), int(mrYes));
            QVERIFY(task.At(2).Selected);
        }
        {
            TDownAskForm form(task);
            form.CancelClick();
            QVERIFY(!task.At(2).Selected);
        }
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int status = 0;
    {
        DownAskTest test;
        status |= QTest::qExec(&test, argc, argv);
    }
    {
        UpdateWindowTest test;
        status |= QTest::qExec(&test, argc, argv);
    }
    return status;
}

#include "UpdateWindowTest.moc"
