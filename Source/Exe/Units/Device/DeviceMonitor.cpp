#include "DeviceMonitor.h"

#include "DriveTable.h"
#include "LongWork.h"
#include "Orvid.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int DriveBits = 26;

std::uint32_t Bit(char letter)
{
    return 1u << (letter - 'A');
}

// Calls `step` with every drive letter of a unit mask, from A up.
template <typename TStep> void ForEachDrive(std::uint32_t unitMask, TStep step)
{
    for (int bit = 0; bit < DriveBits; ++bit)
        if (unitMask & (1u << bit)) step(static_cast<char>('A' + bit));
}

} // namespace

char DriveLetterOfUnitMask(std::uint32_t unitMask)
{
    for (int bit = 0; bit < DriveBits; ++bit)
        if (unitMask & (1u << bit)) return static_cast<char>('A' + bit);
    return 0;
}

QString EmptyReaderName()
{
    return QStringLiteral("阅读器书库");
}

QString AttachedReaderName(char drive)
{
    return EmptyReaderName() + QLatin1Char(' ') + QLatin1Char(drive) + QLatin1Char(':');
}

// ---------------------------------------------------------------------------------------------

TMountTableWatcher::TMountTableWatcher(QObject* parent) : QObject(parent)
{
    FLetters = Snapshot();
    // Without an event loop nothing could report a change (a model built by a tool or a test).
    if (!QCoreApplication::instance()) return;
    const QString table = QString::fromStdString(DriveTable::MountTablePath());
    if (DriveTable::SystemRoot().empty()) {
        FFd = open(table.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        if (FFd >= 0) {
            FNotifier = new QSocketNotifier(FFd, QSocketNotifier::Exception, this);
            connect(FNotifier, &QSocketNotifier::activated, this, &TMountTableWatcher::Check);
        }
    } else {
        // A fake table is replaced by renaming, so its folder is watched as well as the file.
        FFileWatcher = new QFileSystemWatcher(this);
        // The fake root may still be empty when the program starts; its folder must exist to
        // be watched.
        QDir().mkpath(QFileInfo(table).absolutePath());
        FFileWatcher->addPath(QFileInfo(table).absolutePath());
        if (QFile::exists(table)) FFileWatcher->addPath(table);
        auto changed = [this, table] {
            if (QFile::exists(table) && !FFileWatcher->files().contains(table))
                FFileWatcher->addPath(table);
            Check();
        };
        connect(FFileWatcher, &QFileSystemWatcher::fileChanged, this, changed);
        connect(FFileWatcher, &QFileSystemWatcher::directoryChanged, this, changed);
    }
}

TMountTableWatcher::~TMountTableWatcher()
{
    delete FNotifier;
    if (FFd >= 0) close(FFd);
}

std::map<char, std::string> TMountTableWatcher::Snapshot() const
{
    std::map<char, std::string> letters;
    for (const DriveTable::TVolume& volume : DriveTable::Synchronize())
        letters[volume.Letter] = volume.MountPoint;
    return letters;
}

void TMountTableWatcher::Check()
{
    const std::map<char, std::string> now = Snapshot();
    std::uint32_t removed = 0;
    std::uint32_t arrived = 0;
    for (const auto& [letter, mountPoint] : FLetters) {
        const auto it = now.find(letter);
        if (it == now.end() || it->second != mountPoint) removed |= Bit(letter);
    }
    for (const auto& [letter, mountPoint] : now) {
        const auto it = FLetters.find(letter);
        if (it == FLetters.end() || it->second != mountPoint) arrived |= Bit(letter);
    }
    if (removed || arrived) TLongWork::NoteChange();
    if (TLongWork::Busy()) {
        // The slots and their shelves must not change under the work in progress: the
        // comparison runs again once it has ended. Readers that left lose their identity now.
        if (removed) emit VolumesLeaving(removed);
        if ((removed || arrived) && !FCheckQueued) {
            FCheckQueued = true;
            TLongWork::Defer(this, [this] {
                FCheckQueued = false;
                Check();
            });
        }
        return;
    }
    FLetters = now;
    // A letter that changed its volume leaves before it arrives again.
    if (removed) emit VolumesRemoved(removed);
    if (arrived) emit VolumesArrived(arrived);
}

// ---------------------------------------------------------------------------------------------

TDeviceMonitor::TDeviceMonitor(QObject* parent) : QObject(parent)
{
    RescanDrives();
    FWatcher = new TMountTableWatcher(this);
    connect(FWatcher, &TMountTableWatcher::VolumesArrived, this, &TDeviceMonitor::VolumeArrival);
    connect(FWatcher, &TMountTableWatcher::VolumesRemoved, this,
            &TDeviceMonitor::VolumeRemoveComplete);
    connect(FWatcher, &TMountTableWatcher::VolumesLeaving, this, [this](std::uint32_t mask) {
        ForEachDrive(mask, [this](char drive) { DoLeaving(drive); });
    });
}

TDeviceMonitor::~TDeviceMonitor() = default;

void TDeviceMonitor::RescanDrives()
{
    FDrives.clear();
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        if (AcceptDrive(letter, DriveTable::DriveType(letter))) AddDrive(letter);
}

bool TDeviceMonitor::AcceptDrive(char drive, int driveType)
{
    bool accept = true;
    if (OnAcceptDrive) OnAcceptDrive(this, drive, accept, driveType);
    return accept;
}

void TDeviceMonitor::DoArrival(char drive)
{
    if (OnArrival) OnArrival(this, drive);
}

void TDeviceMonitor::DoRemoval(char drive)
{
    if (OnRemoval) OnRemoval(this, drive);
}

void TDeviceMonitor::DoLeaving(char) {}

bool TDeviceMonitor::QueryRemove(char drive)
{
    bool allow = true;
    if (OnQueryRemove) OnQueryRemove(this, drive, allow);
    return allow;
}

// Every letter of a change counts: one reading of the mount table can show two readers that
// were plugged in (or pulled out) at once, and each must arrive (or leave).
void TDeviceMonitor::VolumeArrival(std::uint32_t unitMask)
{
    ForEachDrive(unitMask, [this](char drive) {
        AddDrive(drive);
        DoArrival(drive);
    });
}

void TDeviceMonitor::VolumeRemoveComplete(std::uint32_t unitMask)
{
    ForEachDrive(unitMask, [this](char drive) {
        DoRemoval(drive);
        RemoveDrive(drive);
    });
}

bool TDeviceMonitor::VolumeQueryRemove(std::uint32_t unitMask)
{
    const char drive = DriveLetterOfUnitMask(unitMask);
    return !drive || QueryRemove(drive);
}

void TDeviceMonitor::AddDrive(char drive)
{
    const QString text{QLatin1Char(drive)};
    for (qsizetype i = 0; i <= FDrives.size(); ++i) {
        const int order = i < FDrives.size() ? FDrives[i].compare(text, Qt::CaseInsensitive) : 1;
        if (order == 0) return;
        if (order > 0) {
            FDrives.insert(i, text);
            return;
        }
    }
}

void TDeviceMonitor::RemoveDrive(char drive)
{
    const QString text{QLatin1Char(drive)};
    FDrives.removeIf(
        [&text](const QString& d) { return d.compare(text, Qt::CaseInsensitive) == 0; });
}

// ---------------------------------------------------------------------------------------------

TReaderProbe OrvidReaderProbe()
{
    TReaderProbe probe;
    probe.IsReaderDrive = &IsReaderDrive;
    probe.GetDeviceID = &GetDeviceID;
    return probe;
}

TReaderMonitor::TReaderMonitor(TReaderSlots* systemCategory, TReaderProbe probe, QObject* parent)
    : TDeviceMonitor(parent), FSystemCategory(systemCategory), FProbe(probe)
{
    // The base filled the list before this object's own filter existed; fill it again with it.
    RescanDrives();
}

bool TReaderMonitor::AcceptDrive(char, int driveType)
{
    return driveType == DriveTable::DriveRemovable;
}

void TReaderMonitor::DoArrival(char drive)
{
    if (!FProbe.IsReaderDrive || !FProbe.IsReaderDrive(drive)) return;
    TDeviceIdentity identity;
    std::memset(&identity, 0, sizeof identity);
    if (FProbe.GetDeviceID) FProbe.GetDeviceID(drive, &identity); // a failed read leaves zeros

    int slot = -1;
    if (FSystemCategory->SlotDriveLetter(0) == 0)
        slot = 0;
    else if (FSystemCategory->SlotDriveLetter(1) == 0)
        slot = 1;
    if (slot >= 0) {
        const QString root = QString::fromStdString(DriveTable::RootFolder(drive));
        FSystemCategory->AttachSlot(slot, AttachedReaderName(drive), root, drive, identity);
    }
    OrderReaders();
}

void TReaderMonitor::DoRemoval(char drive)
{
    if (drive != FSystemCategory->SlotDriveLetter(0) &&
        drive != FSystemCategory->SlotDriveLetter(1))
        return;
    FSystemCategory->EmptySlot(0);
    FSystemCategory->EmptySlot(1);
    OrderReaders();
}

void TReaderMonitor::DoLeaving(char drive)
{
    for (int slot = 0; slot < 2; ++slot)
        if (drive == FSystemCategory->SlotDriveLetter(slot)) FSystemCategory->ForgetSlotIdentity(slot);
}

void TReaderMonitor::RescanReaders()
{
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        DoArrival(letter);
}

void TReaderMonitor::OrderReaders()
{
    const char one =
        FSystemCategory->SlotDriveLetter(0) ? FSystemCategory->SlotDriveLetter(0) : 'Z';
    const char two =
        FSystemCategory->SlotDriveLetter(1) ? FSystemCategory->SlotDriveLetter(1) : 'Z';
    if (two < one) FSystemCategory->ExchangeSlots();
}
