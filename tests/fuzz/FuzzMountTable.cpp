// The mount table: parsed from a file in the /proc/self/mountinfo format, then used the ways
// the program uses it, below a private system root: the drive table brought in step with it
// (letters as links), file system types, mounted folders and drive types.
#include "DriveTable.h"
#include "FuzzCommon.h"

#include <dirent.h>
#include <sys/stat.h>

namespace {

// Forgets the letters of the previous input, so every input starts from an empty table.
void ClearTable(const std::string& folder)
{
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') unlink((folder + "/" + entry->d_name).c_str());
        closedir(dir);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string root = Fuzz::Folder();
    for (const char* folder : {"/proc", "/proc/self", "/drives", "/media", "/media/user"})
        mkdir((root + folder).c_str(), 0700);
    setenv("KORVEL_TEST_SYSROOT", root.c_str(), 1);
    setenv("KORVEL_TEST_DRIVES", (root + "/drives").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string root = Fuzz::Folder();
    const std::string table = root + "/proc/self/mountinfo";
    if (!Fuzz::WriteFile(table, std::string_view(reinterpret_cast<const char*>(data), size)))
        return 0;
    const std::vector<DriveTable::TMount> mounts = DriveTable::ReadMountTable(table);
    for (const DriveTable::TMount& mount : mounts)
        DriveTable::IsRemovablePlace(mount.MountPoint);
    ClearTable(root + "/drives");
    for (const DriveTable::TVolume& volume : DriveTable::Synchronize()) {
        DriveTable::FileSystemType(volume.RootFolder);
        DriveTable::IsMountedFolder(volume.RootFolder);
        DriveTable::IgnoresCase(volume.RootFolder + "x");
        DriveTable::DriveTypeOfDevice(volume.Major, volume.Minor);
    }
    DriveTable::RootFolder('D');
    return 0;
}
