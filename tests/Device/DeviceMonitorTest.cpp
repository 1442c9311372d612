#include "DeviceMonitor.h"
#include "../Support/FakeRoot.h"
#include "Categories.h"
#include "DriveTable.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>
#include <sched.h>
#include <sys/mount.h>

namespace fs = std::filesystem;

namespace {

std::string Signed(const char* payload)
{
    return std::string("MassSto\x01", 8) + std::string(payload, 8);
}

// A library model on a fake system root whose readers come and go through real changes of its
// mount table, recognised by the built identification library.
struct TReaderWorld
{
    TReaderWorld() : Root(fs::path(Folder.path().toStdString()))
    {
        Root.Activate();
        TSystemCategory::SetLocalLibraryPath(Folder.path() + QStringLiteral("/library/"));
    }
    ~TReaderWorld()
    {
        Model.reset();
        TFakeRoot::Deactivate();
    }

    // Creates the model and counts the OnChange events of both slot objects.
    void Start()
    {
        Model = std::make_unique<TSystemCategory>();
        for (int slot = 0; slot < 2; ++slot)
            Model->ReaderSlot(slot)->OnChange = [this](TReaderCategory*) { ++Changes; };
    }

    // A disk that can be mounted; readers carry the signature with a payload naming `model`.
    std::pair<unsigned, unsigned> Disk(const char* vendor, bool usb = true, char model = 'V')
    {
        TFakeRoot::TDisk disk;
        disk.Name = "sd" + std::string(1, static_cast<char>('b' + Disks));
        disk.Minor = static_cast<unsigned>(16 * (Disks + 1));
        disk.Vendor = vendor;
        disk.Usb = usb;
        const char payload[8] = {1, 2, 3, 4, 2, model, 0, static_cast<char>(Disks + 1)};
        disk.Product = Signed(payload);
        ++Disks;
        return Root.AddDisk(disk);
    }

    QString SlotName(int slot) const { return Model->ReaderSlot(slot)->Name(); }
    char SlotLetter(int slot) const { return Model->ReaderSlot(slot)->DriveLetter(); }
    const TDeviceIdentity& SlotIdentity(int slot) const
    {
        return *reinterpret_cast<const TDeviceIdentity*>(Model->ReaderSlot(slot)->Identity());
    }

    QTemporaryDir Folder;
    TFakeRoot Root;
    std::unique_ptr<TSystemCategory> Model;
    int Changes = 0;
    int Disks = 0;
};

bool IsZero(const TDeviceIdentity& identity)
{
    const TDeviceIdentity zero{};
    return std::memcmp(&identity, &zero, sizeof zero) == 0;
}

} // namespace

class DeviceMonitorTest : public QObject
{
    Q_OBJECT
private slots:
    void UnitMaskGivesTheLowestDrive_data()
    {
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<char>("letter");
        QTest::newRow("none") << 0u << '\0';
        QTest::newRow("A") << 1u << 'A';
        QTest::newRow("E") << (1u << 4) << 'E';
        QTest::newRow("E and F") << ((1u << 4) | (1u << 5)) << 'E';
        QTest::newRow("Z") << (1u << 25) << 'Z';
        QTest::newRow("beyond Z only") << ((1u << 26) | (1u << 31)) << '\0';
    }
    void UnitMaskGivesTheLowestDrive()
    {
        QFETCH(quint32, mask);
        QFETCH(char, letter);
        QCOMPARE(DriveLetterOfUnitMask(mask), letter);
    }

    // A reader at E: and then one at D: ends with D: in slot one and E: in slot two; removing
    // D: empties both.
    void ReadersTakeSlotsInDriveOrder()
    {
        TReaderWorld w;
        w.Root.Mount("/media/user/STICK", w.Disk("SanDisk ")); // D:, not a reader
        w.Start();
        w.Root.Mount("/media/user/FIRST", w.Disk("XAL     ")); // E:
        QTRY_COMPARE_WITH_TIMEOUT(w.SlotLetter(0), 'E', 1000);
        QCOMPARE(w.SlotName(0), QStringLiteral("阅读器书库 E:"));
        QCOMPARE(w.Model->ReaderSlot(0)->Path(),
                 QString::fromStdString(DriveTable::RootFolder('E')));
        QVERIFY(
            w.Model->ReaderSlot(0)->GetFullPath().endsWith(QStringLiteral("/media/user/FIRST/")));
        QCOMPARE(IdentifierText(w.SlotIdentity(0)).size(), size_t(32));
        QCOMPARE(Manufacturer(w.SlotIdentity(0)), std::uint8_t(2));
        QCOMPARE(w.Changes, 1);

        w.Root.Unmount("/media/user/STICK");
        QTRY_VERIFY_WITH_TIMEOUT(!w.Model->ReaderMonitor()->Drives().contains(QStringLiteral("D")),
                                 1000);
        QCOMPARE(w.SlotLetter(0), 'E'); // a drive that is no reader leaves the slots alone
        TReaderCategory* first = w.Model->ReaderSlot(0);

        w.Root.Mount("/media/user/SECOND", w.Disk("Q48     ", true, 'W')); // D:
        QTRY_COMPARE_WITH_TIMEOUT(w.SlotLetter(0), 'D', 1000);
        QCOMPARE(w.SlotLetter(1), 'E');
        QCOMPARE(w.Model->ReaderSlot(1), first); // the objects traded places
        QCOMPARE(w.SlotName(0), QStringLiteral("阅读器书库 D:"));
        QCOMPARE(w.SlotIdentity(0).IdKind, std::uint8_t(2));
        QCOMPARE(w.SlotIdentity(1).IdKind, std::uint8_t(1));
        QCOMPARE(w.Changes, 2);

        w.Root.Unmount("/media/user/SECOND");
        QTRY_COMPARE_WITH_TIMEOUT(w.SlotLetter(0), '\0', 1000);
        QCOMPARE(w.SlotLetter(1), '\0');
        QCOMPARE(w.Changes, 4);
        for (int slot = 0; slot < 2; ++slot) {
            QCOMPARE(w.SlotName(slot), QStringLiteral("阅读器书库"));
            QVERIFY(w.Model->ReaderSlot(slot)->Path().isEmpty());
            QVERIFY(IsZero(w.SlotIdentity(slot)));
        }
        // E: is still mounted; it comes back with the next rescan, alone in slot one.
        w.Model->RescanReaders();
        QCOMPARE(w.SlotLetter(0), 'E');
        QCOMPARE(w.SlotLetter(1), '\0');
    }

    void AThirdReaderFindsNoSlot()
    {
        TReaderWorld w;
        w.Start();
        for (const char* name : {"/media/user/A", "/media/user/B", "/media/user/C"}) {
            w.Root.Mount(name, w.Disk("XAL     "));
            QTest::qWait(50);
        }
        QTRY_COMPARE_WITH_TIMEOUT(w.SlotLetter(1), 'E', 1000);
        QTest::qWait(200);
        QCOMPARE(w.SlotLetter(0), 'D');
        QCOMPARE(w.SlotLetter(1), 'E');
        QCOMPARE(w.Changes, 2);
        QVERIFY(w.Model->ReaderMonitor()->Drives().contains(QStringLiteral("F")));
        // The third one leaving changes nothing.
        w.Root.Unmount("/media/user/C");
        QTRY_VERIFY_WITH_TIMEOUT(!w.Model->ReaderMonitor()->Drives().contains(QStringLiteral("F")),
                                 1000);
        QCOMPARE(w.Changes, 2);
    }

    // Two readers in one change of the mount table: both attach, in drive order; two leaving in
    // one change leave both slots empty.
    void SeveralVolumesAtOnceAllCount()
    {
        TReaderWorld w;
        w.Start();
        const auto one = w.Disk("XAL     ");
        const auto two = w.Disk("XAL     ");
        w.Root.Mount("/media/user/A", one);
        w.Root.Mount("/media/user/B", two); // both lines are on disk before the watcher reads
        QTRY_COMPARE_WITH_TIMEOUT(w.SlotLetter(1), 'E', 1000);
        QCOMPARE(w.SlotLetter(0), 'D');
        QCOMPARE(w.Model->ReaderMonitor()->Drives(),
                 (QStringList{QStringLiteral("D"), QStringLiteral("E")}));

        w.Root.Unmount("/media/user/A");
        w.Root.Unmount("/media/user/B");
        QTRY_COMPARE_WITH_TIMEOUT(w.SlotLetter(0), '\0', 1000);
        QCOMPARE(w.SlotLetter(1), '\0');
        QVERIFY(w.Model->ReaderMonitor()->Drives().isEmpty());

        // Masks handed in directly: none is nothing.
        const int changes = w.Changes;
        w.Model->ReaderMonitor()->VolumeArrival(0);
        QCOMPARE(w.Changes, changes);
    }

    void DrivesListAndQueryRemove()
    {
        TReaderWorld w;
        w.Root.Mount("/media/user/READER", w.Disk("XAL     ")); // D:, removable (USB)
        w.Root.Mount("/mnt/backup", w.Disk("ATA     ", false)); // E:, fixed
        // Without a filter every letter is taken; a filter sees each letter's drive type.
        TDeviceMonitor plain;
        QCOMPARE(plain.Drives().size(), 26);
        QMap<char, int> types;
        plain.OnAcceptDrive = [&](TDeviceMonitor*, char drive, bool& accept, int type) {
            types[drive] = type;
            accept = type != DriveTable::DriveNoRoot;
        };
        plain.RescanDrives();
        QCOMPARE(plain.Drives(),
                 (QStringList{QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E")}));
        QCOMPARE(types.value('D'), DriveTable::DriveRemovable);
        QCOMPARE(types.value('E'), DriveTable::DriveFixed);
        QCOMPARE(types.value('A'), DriveTable::DriveNoRoot);
        QCOMPARE(types.size(), 26);
        w.Start();
        TReaderMonitor* monitor = w.Model->ReaderMonitor();
        QCOMPARE(monitor->Drives(), QStringList{QStringLiteral("D")});
        // Readers present before the start were found by the model's construction.
        QCOMPARE(w.SlotLetter(0), 'D');

        // A fixed drive still reaches the list through an arrival.
        w.Root.Mount("/mnt/other", w.Disk("ATA     ", false)); // F:
        QTRY_VERIFY_WITH_TIMEOUT(monitor->Drives().contains(QStringLiteral("F")), 1000);
        QCOMPARE(w.SlotLetter(1), '\0');

        QVERIFY(monitor->QueryRemove('D'));
        QVERIFY(monitor->VolumeQueryRemove(0));
        monitor->OnQueryRemove = [](TDeviceMonitor*, char drive, bool& allow) {
            allow = drive != 'D';
        };
        QVERIFY(!monitor->VolumeQueryRemove(1u << 3));
        QVERIFY(monitor->VolumeQueryRemove(1u << 4));

        // A removal for a drive the monitor never listed only runs DoRemoval.
        QStringList removed;
        plain.OnRemoval = [&](TDeviceMonitor*, char drive) {
            removed << QString(QLatin1Char(drive));
        };
        plain.VolumeRemoveComplete(1u << 20);
        QCOMPARE(removed, QStringList{QStringLiteral("U")});
    }

    // A rescan with a reader in slot one finds it again for slot two: a rescan does not look
    // at what the slots already hold.
    void RescanWithAReaderAttachedFillsBothSlots()
    {
        TReaderWorld w;
        w.Root.Mount("/media/user/READER", w.Disk("TAVO\x01\x02\x03\x04"));
        w.Start();
        QCOMPARE(w.SlotLetter(0), 'D');
        QCOMPARE(FirmwareMajor(w.SlotIdentity(0)), std::uint8_t(3));
        w.Model->RescanReaders();
        QCOMPARE(w.SlotLetter(0), 'D');
        QCOMPARE(w.SlotLetter(1), 'D');
        QCOMPARE(w.Changes, 1);
    }

    // The developer tool's reader shows up in a slot within a second and leaves with its line.
    void FakeReaderToolAttachesAndDetaches()
    {
        TReaderWorld w;
        const QString tool =
            QStringLiteral("/usr/bin/python3 " KORVEL_SOURCE_DIR "/scripts/fake-reader ");
        const QString root = w.Folder.path() + QLatin1Char(' ');
        auto run = [&](const QString& arguments) {
            return std::system(
                (tool + arguments + QStringLiteral(" >/dev/null")).toLocal8Bit().constData());
        };
        QCOMPARE(
            run(QStringLiteral("add ") + root + QStringLiteral("--name STICK --vendor SanDisk")),
            0);
        w.Start();
        QCOMPARE(w.SlotLetter(0), '\0');
        QCOMPARE(run(QStringLiteral("add ") + root + QStringLiteral("--payload 0000000001560001")),
                 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.SlotName(0), QStringLiteral("阅读器书库 E:"), 1000);
        QCOMPARE(ReaderCode(w.SlotIdentity(0)), std::uint16_t(0x5601));
        QCOMPARE(w.SlotIdentity(0).IdKind, std::uint8_t(1));
        w.Model->ReaderSlot(0)->EnsureLoaded();
        QVERIFY(w.Model->ReaderSlot(0)->IndexOfCategory(QStringLiteral("小说")) >= 0);
        QCOMPARE(w.Model->ReaderSlot(0)->IndexOfCategory(QStringLiteral("_sys_")), -1);
        QCOMPARE(run(QStringLiteral("remove ") + root), 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.SlotName(0), QStringLiteral("阅读器书库"), 1000);
        QCOMPARE(w.SlotLetter(0), '\0');
    }

    // The kernel's own mount table, watched for POLLPRI. Runs in a private mount namespace so
    // nothing is mounted on the machine; skipped where mounting is not permitted.
    void RealMountTableIsWatched()
    {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            QSKIP("mounting is not permitted here");
        QTemporaryDir place(QStringLiteral("/mnt/korvel-watch-XXXXXX"));
        if (!place.isValid()) QSKIP("/mnt is not writable here");
        // Letters of its own: other test processes live in the machine's mount namespace.
        QTemporaryDir table;
        qputenv("KORVEL_TEST_DRIVES", table.path().toLocal8Bit());
        TDeviceMonitor monitor;
        QList<char> arrived, removed;
        monitor.OnArrival = [&](TDeviceMonitor*, char drive) { arrived << drive; };
        monitor.OnRemoval = [&](TDeviceMonitor*, char drive) { removed << drive; };
        const QByteArray folder = place.path().toLocal8Bit();
        QCOMPARE(mount("korvel", folder.constData(), "tmpfs", 0, "size=64k"), 0);
        QTRY_COMPARE_WITH_TIMEOUT(arrived.size(), 1, 1000);
        QCOMPARE(QString::fromStdString(DriveTable::RootFolder(arrived[0])),
                 place.path() + QLatin1Char('/'));
        QCOMPARE(umount(folder.constData()), 0);
        QTRY_COMPARE_WITH_TIMEOUT(removed, QList<char>{arrived[0]}, 1000);
    }
};

QTEST_GUILESS_MAIN(DeviceMonitorTest)
#include "DeviceMonitorTest.moc"
