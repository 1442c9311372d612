#include "DriveTable.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DriveTable {

namespace {

std::string EnvText(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path == "/" ? std::string() : path;
}

// Mount tables escape blanks, tabs, newlines and backslashes as three octal digits.
std::string Unescape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const char a = text[i + 1], b = text[i + 2], c = text[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string ReadSmallFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string RealPath(const std::string& path)
{
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved)) return {};
    return resolved;
}

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder a mount point stands for: itself, or the same path below the test root.
std::string HostFolder(const std::string& mountPoint)
{
    std::string folder = SystemRoot() + mountPoint;
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// The top mount of every mount point (a later line covers an earlier one at the same place), in
// the order the mount table lists them.
std::vector<TMount> TopMounts(const std::vector<TMount>& mounts)
{
    std::map<std::string, size_t> last;
    for (size_t i = 0; i < mounts.size(); ++i)
        last[mounts[i].MountPoint] = i;
    std::vector<TMount> top;
    for (size_t i = 0; i < mounts.size(); ++i)
        if (last[mounts[i].MountPoint] == i) top.push_back(mounts[i]);
    return top;
}

// Holds the table's lock for the life of the object; every reader and writer takes it, so a
// process never sees the table half brought up to date by another.
class TTableLock
{
public:
    explicit TTableLock(const std::string& folder)
    {
        if (folder.empty()) return;
        FFd = open((folder + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (FFd < 0) return;
        while (flock(FFd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(FFd);
                FFd = -1;
                return;
            }
        }
    }
    ~TTableLock()
    {
        if (FFd >= 0) close(FFd); // closing releases the lock
    }
    TTableLock(const TTableLock&) = delete;
    TTableLock& operator=(const TTableLock&) = delete;
    bool Held() const { return FFd >= 0; }

private:
    int FFd = -1;
};

char LinkLetter(const char* name)
{
    if (std::strlen(name) != 2 || name[1] != ':') return 0;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return letter >= 'D' && letter <= 'Z' ? letter : 0;
}

std::string LinkName(char letter)
{
    return std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(letter)))) +
           ":";
}

std::string ReadLink(const std::string& path)
{
    std::string target(PATH_MAX, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) >= target.size()) return {};
    target.resize(static_cast<size_t>(n));
    return target;
}

TVolume RootVolume(const std::vector<TMount>& top)
{
    TVolume volume;
    volume.Letter = 'C';
    volume.MountPoint = "/";
    volume.RootFolder = HostFolder("/");
    for (const TMount& mount : top) {
        if (mount.MountPoint == "/") {
            volume.Major = mount.Major;
            volume.Minor = mount.Minor;
        }
    }
    return volume;
}

} // namespace

std::string SystemRoot()
{
    return WithoutTrailingSlashes(EnvText("KORVEL_TEST_SYSROOT"));
}

std::string TableFolder()
{
    std::string folder = EnvText("KORVEL_TEST_DRIVES");
    if (folder.empty()) {
        const std::string runtime = EnvText("XDG_RUNTIME_DIR");
        folder = runtime.empty() ? "/tmp/korvel-drives-" + std::to_string(getuid())
                                 : runtime + "/korvel-drives";
    }
    folder = WithoutTrailingSlashes(folder);
    if (folder.empty()) return {};
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    // A folder someone else made (in /tmp, say) must not decide our letters.
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return {};
    return folder + "/";
}

std::string MountTablePath()
{
    return SystemRoot() + "/proc/self/mountinfo";
}

std::vector<TMount> ReadMountTable(const std::string& path)
{
    std::vector<TMount> mounts;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, devices, root, mountPoint, options, field;
        if (!(fields >> id >> parent >> devices >> root >> mountPoint >> options)) continue;
        while (fields >> field && field != "-") {
        }
        if (field != "-") continue;
        TMount mount;
        if (!(fields >> mount.FsType >> mount.Source)) continue;
        if (std::sscanf(devices.c_str(), "%u:%u", &mount.Major, &mount.Minor) != 2) continue;
        mount.MountPoint = Unescape(mountPoint);
        mount.Source = Unescape(mount.Source);
        if (mount.MountPoint.empty() || mount.MountPoint[0] != '/') continue;
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

bool IsRemovablePlace(const std::string& mountPoint)
{
    for (const char* place : {"/media", "/run/media", "/mnt"}) {
        const size_t n = std::strlen(place);
        if (mountPoint.compare(0, n, place) == 0 && mountPoint.size() > n + 1 &&
            mountPoint[n] == '/')
            return true;
    }
    return false;
}

std::vector<TVolume> Synchronize()
{
    // The mount table is read under the lock too: a process holding an older reading must not
    // undo what a process with a newer one has just written.
    const std::string folder = TableFolder();
    TTableLock lock(folder);
    const std::vector<TMount> top = TopMounts(ReadMountTable(MountTablePath()));
    std::vector<TVolume> volumes{RootVolume(top)};
    if (!lock.Held()) return volumes;

    // Which removable mount each folder stands for.
    std::map<std::string, const TMount*> byFolder;
    std::vector<std::string> folders; // in mount-table order
    for (const TMount& mount : top) {
        if (!IsRemovablePlace(mount.MountPoint)) continue;
        byFolder[HostFolder(mount.MountPoint)] = &mount;
        folders.push_back(HostFolder(mount.MountPoint));
    }

    // Keep the letters whose volume is still mounted; drop the others and any second letter
    // that points at a volume which already has one.
    std::map<char, const TMount*> letters;
    std::map<std::string, char> lettered;
    if (DIR* dir = opendir(folder.c_str())) {
        std::vector<std::pair<char, std::string>> links;
        while (dirent* entry = readdir(dir)) {
            const char letter = LinkLetter(entry->d_name);
            if (letter) links.emplace_back(letter, ReadLink(folder + entry->d_name));
        }
        closedir(dir);
        std::sort(links.begin(), links.end());
        for (const auto& [letter, target] : links) {
            const auto it = byFolder.find(target);
            if (it != byFolder.end() && !lettered.count(target)) {
                letters[letter] = it->second;
                lettered[target] = letter;
            } else {
                unlink((folder + LinkName(letter)).c_str());
            }
        }
    }

    // New volumes take the lowest free letter, in the order the mount table lists them.
    for (const std::string& hostFolder : folders) {
        if (lettered.count(hostFolder)) continue;
        for (char letter = 'D'; letter <= 'Z'; ++letter) {
            if (letters.count(letter)) continue;
            if (symlink(hostFolder.c_str(), (folder + LinkName(letter)).c_str()) == 0) {
                letters[letter] = byFolder[hostFolder];
                lettered[hostFolder] = letter;
                break;
            }
        }
    }

    for (const auto& [letter, mount] : letters) {
        TVolume volume;
        volume.Letter = letter;
        volume.MountPoint = mount->MountPoint;
        volume.RootFolder = HostFolder(mount->MountPoint);
        volume.Major = mount->Major;
        volume.Minor = mount->Minor;
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

std::string FileSystemType(const std::string& path)
{
    std::string wanted = path;
    if (wanted.empty() || wanted.back() != '/') wanted += '/';
    std::string type;
    size_t longest = 0;
    for (const TMount& mount : TopMounts(ReadMountTable(MountTablePath()))) {
        const std::string folder = HostFolder(mount.MountPoint);
        if (wanted.compare(0, folder.size(), folder) == 0 && folder.size() >= longest) {
            longest = folder.size();
            type = mount.FsType;
        }
    }
    return type;
}

bool IgnoresCase(const std::string& path)
{
    const std::string type = FileSystemType(path);
    return type == "vfat" || type == "msdos" || type == "exfat" || type == "ntfs3";
}

bool IsMountedFolder(const std::string& folder)
{
    if (folder.empty()) return false;
    std::string wanted = folder;
    if (wanted.back() != '/') wanted += '/';
    for (const TMount& mount : ReadMountTable(MountTablePath()))
        if (HostFolder(mount.MountPoint) == wanted) return true;
    return false;
}

bool FindVolume(char letter, TVolume& volume)
{
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (upper < 'A' || upper > 'Z') return false;
    for (TVolume& v : Synchronize()) {
        if (v.Letter == upper) {
            volume = std::move(v);
            return true;
        }
    }
    return false;
}

std::string BlockDeviceFolder(unsigned major, unsigned minor)
{
    if (major == 0) return {}; // anonymous devices (tmpfs, overlay, ...) have no disk
    return RealPath(SystemRoot() + "/sys/dev/block/" + std::to_string(major) + ":" +
                    std::to_string(minor));
}

std::string DiskFolder(const std::string& blockDeviceFolder)
{
    if (blockDeviceFolder.empty()) return {};
    struct stat st;
    if (stat((blockDeviceFolder + "/partition").c_str(), &st) == 0) {
        const size_t slash = blockDeviceFolder.rfind('/');
        return slash == std::string::npos ? std::string() : blockDeviceFolder.substr(0, slash);
    }
    return blockDeviceFolder;
}

int DriveTypeOfDevice(unsigned major, unsigned minor)
{
    const std::string disk = DiskFolder(BlockDeviceFolder(major, minor));
    if (disk.empty()) return DriveFixed;
    const std::string removable = ReadSmallFile(disk + "/removable");
    if (!removable.empty() && removable[0] == '1') return DriveRemovable;
    // The real path runs through the USB host and hub folders for disks on USB.
    if (disk.find("/usb") != std::string::npos) return DriveRemovable;
    return DriveFixed;
}

int DriveType(char letter)
{
    TVolume volume;
    if (!FindVolume(letter, volume)) return DriveNoRoot;
    return DriveTypeOfDevice(volume.Major, volume.Minor);
}

std::string RootFolder(char letter)
{
    TVolume volume;
    return FindVolume(letter, volume) && IsDirectory(volume.RootFolder) ? volume.RootFolder
                                                                        : std::string();
}

} // namespace DriveTable
