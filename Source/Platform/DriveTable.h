#pragma once

#include <string>
#include <vector>

// Drive letters for mounted volumes, so that the library model, the reader slots and the
// identification library can speak of "E:" as the rest of the system does. The table is a
// folder of links, one per letter ("e:" -> the volume's folder), in the user's runtime folder,
// and every process of the user sees the same letters: whoever asks first brings the folder in
// step with the mount table under a file lock. C: is the root file system; volumes mounted
// below /media, /run/media or /mnt get the lowest free letter from D: upward when they first
// appear, keep it while they stay mounted and lose it when they go.
//
// No Qt here: the identification library links this without the toolkit.
namespace DriveTable {

// Drive types, as the rest of the system knows them.
constexpr int DriveNoRoot = 1;
constexpr int DriveRemovable = 2;
constexpr int DriveFixed = 3;

// One line of the mount table.
struct TMount
{
    unsigned Major = 0;
    unsigned Minor = 0;
    std::string MountPoint; // as the mount table names it, escapes undone
    std::string FsType;
    std::string Source;
};

// A volume that has a letter.
struct TVolume
{
    char Letter = 0;        // 'C' to 'Z'
    std::string MountPoint; // as the mount table names it
    std::string RootFolder; // the folder to work in, ending with "/"
    unsigned Major = 0;
    unsigned Minor = 0;
};

// The folder that stands for "/" (empty normally; set only by tests and test tools through
// KORVEL_TEST_SYSROOT). The mount table, sysfs and mount points are looked up below it.
std::string SystemRoot();

// The table's folder (KORVEL_TEST_DRIVES in tests), created private to the user when missing.
// Empty when it cannot be made or is not ours.
std::string TableFolder();

// Parses a mount table in the /proc/self/mountinfo format; unreadable gives an empty list.
std::vector<TMount> ReadMountTable(const std::string& path);

// The mount table of this process (below the system root in tests).
std::string MountTablePath();

// True for mount points below the usual removable places.
bool IsRemovablePlace(const std::string& mountPoint);

// Brings the table in step with the mount table under the lock and returns every volume with a
// letter, C: first, then by letter.
std::vector<TVolume> Synchronize();

// The volume of a letter (either case) after a Synchronize; false for a letter without one.
bool FindVolume(char letter, TVolume& volume);

// DriveRemovable when the volume's disk reports removable media or sits on USB, DriveFixed for
// other volumes, DriveNoRoot for a letter without a volume.
int DriveType(char letter);

// The drive type of a block device from sysfs; DriveFixed when sysfs does not know it.
int DriveTypeOfDevice(unsigned major, unsigned minor);

// The real sysfs folder of a block device ("/sys/devices/.../block/sdb/sdb1"), empty when
// unknown, and the folder of its whole disk (the device itself when it is not a partition).
std::string BlockDeviceFolder(unsigned major, unsigned minor);
std::string DiskFolder(const std::string& blockDeviceFolder);

// True when `folder` ("/media/user/READER/", with or without the trailing "/") is where a
// volume is mounted now, as the mount table says (below the system root in tests).
bool IsMountedFolder(const std::string& folder);

// The type of the file system that holds `path` ("vfat", "ext4", ...), as the mount table says;
// empty when no mount covers it.
std::string FileSystemType(const std::string& path);

// True when names on the file system that holds `path` ignore letter case (FAT, exFAT and NTFS
// volumes, as readers formatted on Windows are).
bool IgnoresCase(const std::string& path);

// The root folder of a letter ("/media/user/READER/"), empty without a volume.
std::string RootFolder(char letter);

} // namespace DriveTable
