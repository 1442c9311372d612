#pragma once

#include "DevID.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

class QFileSystemWatcher;
class QSocketNotifier;

// The letter of a unit mask: the lowest of its first 26 bits ('A' for bit 0), or 0 when none
// is set.
char DriveLetterOfUnitMask(std::uint32_t unitMask);

// Turns changes of the mount table into arrivals and removals of drive letters. The kernel
// flags a change of /proc/self/mountinfo with POLLPRI; under a test root the fake table is a
// plain file, so a file watcher stands in. Each change is compared with the letters seen before
// and reported as one mask of removed and one of arrived letters; the monitor decides which
// letter of a mask counts.
class TMountTableWatcher : public QObject
{
    Q_OBJECT
public:
    explicit TMountTableWatcher(QObject* parent = nullptr);
    ~TMountTableWatcher() override;

    // Compares the drive table with the last snapshot now; the watcher calls it on every change.
    // While long work is on the stack (LongWork.h) the comparison waits until it has ended; only
    // the letters that left are announced at once, with VolumesLeaving.
    void Check();

signals:
    void VolumesRemoved(std::uint32_t unitMask);
    void VolumesArrived(std::uint32_t unitMask);
    // Letters whose volume has gone while their removal waits.
    void VolumesLeaving(std::uint32_t unitMask);

private:
    std::map<char, std::string> Snapshot() const;

    int FFd = -1;
    QSocketNotifier* FNotifier = nullptr;
    QFileSystemWatcher* FFileWatcher = nullptr;
    std::map<char, std::string> FLetters; // letter -> mount point
    bool FCheckQueued = false;
};

// Keeps the list of drives and reports volumes that arrive and leave as drive letters; its
// descendants decide what an arrival means. Lives on the main thread, like the window that
// received the broadcasts before.
class TDeviceMonitor : public QObject
{
    Q_OBJECT
public:
    using TQueryRemoveEvent = std::function<void(TDeviceMonitor* sender, char drive, bool& allow)>;
    using TDriveEvent = std::function<void(TDeviceMonitor* sender, char drive)>;
    using TAcceptDriveEvent =
        std::function<void(TDeviceMonitor* sender, char drive, bool& accept, int driveType)>;

    explicit TDeviceMonitor(QObject* parent = nullptr);
    ~TDeviceMonitor() override;

    // One-letter texts of the drives the monitor knows, sorted, without duplicates.
    const QStringList& Drives() const { return FDrives; }
    // Refills Drives with every letter that AcceptDrive takes, given its drive type.
    void RescanDrives();

    virtual bool AcceptDrive(char drive, int driveType);
    virtual void DoArrival(char drive);
    virtual void DoRemoval(char drive);
    virtual bool QueryRemove(char drive);
    // A volume has gone but its removal waits for long work to end (LongWork.h).
    virtual void DoLeaving(char drive);

    // The watcher's reports, every letter of the mask in turn; public so that a rescan request
    // or a test can hand in a mask directly.
    void VolumeArrival(std::uint32_t unitMask);
    void VolumeRemoveComplete(std::uint32_t unitMask);
    // Asked before a volume goes; false denies the removal.
    bool VolumeQueryRemove(std::uint32_t unitMask);

    TMountTableWatcher* Watcher() const { return FWatcher; }

    TQueryRemoveEvent OnQueryRemove;
    TDriveEvent OnRemoval;
    TDriveEvent OnArrival;
    TAcceptDriveEvent OnAcceptDrive;

private:
    void AddDrive(char drive);
    void RemoveDrive(char drive);

    QStringList FDrives;
    TMountTableWatcher* FWatcher = nullptr;
};

// What the reader monitor needs of the library model: the two reader slots of the system
// category (its children 2 and 3). The model sets the slot's fields and fires its OnChange.
class TReaderSlots
{
public:
    virtual ~TReaderSlots() = default;
    // Drive letter of slot 0 (reader slot one) or 1 (slot two); 0 when empty.
    virtual char SlotDriveLetter(int slot) const = 0;
    // Attached state: Name, Path (the drive's root folder), DriveLetter and Identity are set,
    // then OnChange fires.
    virtual void AttachSlot(int slot, const QString& name, const QString& rootFolder, char drive,
                            const TDeviceIdentity& identity) = 0;
    // Empty state: Name "阅读器书库", DriveLetter 0, empty Path, OnChange fires, then the
    // Identity is zeroed.
    virtual void EmptySlot(int slot) = 0;
    // Exchanges the two slot objects in the category list, without any notification.
    virtual void ExchangeSlots() = 0;
    // The slot's reader has gone and the slot is emptied later: only its identity goes now.
    virtual void ForgetSlotIdentity(int) {}
};

// The identification library's questions the reader monitor asks; the program binds them
// from libOrvid.so.
struct TReaderProbe
{
    bool (*IsReaderDrive)(char drive) = nullptr;
    int (*GetDeviceID)(char drive, TDeviceIdentity* identity) = nullptr;
};
TReaderProbe OrvidReaderProbe();

// The reader form of the monitor: an arriving drive that the identification library calls a
// reader takes the first free reader slot with its identity; removing either reader empties
// both slots. Only removable drives count for the drive list.
class TReaderMonitor : public TDeviceMonitor
{
    Q_OBJECT
public:
    explicit TReaderMonitor(TReaderSlots* systemCategory, TReaderProbe probe = OrvidReaderProbe(),
                            QObject* parent = nullptr);

    TReaderSlots* SystemCategory() const { return FSystemCategory; }

    bool AcceptDrive(char drive, int driveType) override;
    void DoArrival(char drive) override;
    void DoRemoval(char drive) override;
    void DoLeaving(char drive) override;

    // Runs the arrival logic for every letter from A to Z, so readers attached before the start
    // are found.
    void RescanReaders();
    // Puts the reader with the lower drive letter into slot one (an empty slot counts as "Z").
    void OrderReaders();

private:
    TReaderSlots* FSystemCategory;
    TReaderProbe FProbe;
};

// The captions of a reader slot.
QString EmptyReaderName();              // "阅读器书库"
QString AttachedReaderName(char drive); // "阅读器书库 E:"
