#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

// A private stand-in for "/" and the drive table: a mount table, sysfs entries for block
// devices (USB readers or fixed disks) and the folders the mount table names. Tests point the
// platform layer at it through KORVEL_TEST_SYSROOT and KORVEL_TEST_DRIVES.
class TFakeRoot
{
public:
    struct TDisk
    {
        std::string Name = "sdb"; // block device name of the disk
        unsigned Major = 8;
        unsigned Minor = 16;
        bool Usb = true;                 // sits below a USB device
        bool Removable = false;          // the disk's "removable" attribute
        std::string Vendor = "XAL     "; // 8 bytes, padded with blanks when shorter
        std::string Product = "";        // 16 bytes, padded with NULs when shorter
        std::string Revision = "0100";
        std::string Serial = "0123456789AB";
        int InquiryLength = 36;    // bytes of the inquiry that exist (short descriptors)
        bool WithPartition = true; // the volume is partition 1
    };

    explicit TFakeRoot(const std::filesystem::path& folder) : FRoot(folder)
    {
        std::filesystem::create_directories(FRoot / "sys/dev/block");
        std::filesystem::create_directories(FRoot / "proc/self");
        std::filesystem::create_directories(FRoot / "drives");
        FLines.push_back("21 1 0:31 / / rw,relatime shared:1 - overlay overlay rw");
        WriteMountTable();
    }

    void Activate() const
    {
        setenv("KORVEL_TEST_SYSROOT", FRoot.c_str(), 1);
        setenv("KORVEL_TEST_DRIVES", (FRoot / "drives").c_str(), 1);
    }

    static void Deactivate()
    {
        unsetenv("KORVEL_TEST_SYSROOT");
        unsetenv("KORVEL_TEST_DRIVES");
    }

    const std::filesystem::path& Root() const { return FRoot; }

    // Creates the sysfs entries of a disk; returns the major:minor of the volume on it.
    std::pair<unsigned, unsigned> AddDisk(const TDisk& disk)
    {
        namespace fs = std::filesystem;
        const std::string id = std::to_string(FNextHost);
        fs::path device = disk.Usb ? FRoot / ("sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + id)
                                   : FRoot / ("sys/devices/pci0000:00/0000:00:1f.2/ata" + id);
        fs::create_directories(device);
        if (disk.Usb) Write(device / "serial", disk.Serial + "\n");
        const fs::path scsi = device / ("host" + id) / ("target" + id + ":0:0") / (id + ":0:0:0");
        fs::create_directories(scsi);
        ++FNextHost;

        std::string inquiry(36, '\0');
        inquiry[0] = 0;
        inquiry.replace(8, 8, Padded(disk.Vendor, 8, ' '));
        inquiry.replace(16, 16, Padded(disk.Product, 16, '\0'));
        inquiry.replace(32, 4, Padded(disk.Revision, 4, ' '));
        inquiry.resize(static_cast<size_t>(disk.InquiryLength));
        Write(scsi / "inquiry", inquiry);

        const fs::path block = scsi / "block" / disk.Name;
        fs::create_directories(block);
        Write(block / "removable", disk.Removable ? "1\n" : "0\n");
        fs::create_directory_symlink(fs::relative(scsi, block), block / "device");
        fs::path volume = block;
        unsigned minor = disk.Minor;
        if (disk.WithPartition) {
            volume = block / (disk.Name + "1");
            fs::create_directories(volume);
            Write(volume / "partition", "1\n");
            ++minor;
        }
        const fs::path link =
            FRoot / "sys/dev/block" / (std::to_string(disk.Major) + ":" + std::to_string(minor));
        fs::create_directory_symlink(fs::relative(volume, FRoot / "sys/dev/block"), link);
        return {disk.Major, minor};
    }

    // Adds a mount-table line and creates the mount point's folder. `escaped` is the mount
    // point as the table writes it (blanks as \040).
    void Mount(const std::string& escaped, std::pair<unsigned, unsigned> device,
               const std::string& folder = {})
    {
        const std::string line = std::to_string(100 + FLines.size()) + " 21 " +
                                 std::to_string(device.first) + ":" +
                                 std::to_string(device.second) + " / " + escaped +
                                 " rw,nosuid,nodev,relatime shared:9 - vfat /dev/fake rw";
        FLines.push_back(line);
        std::filesystem::create_directories(FRoot / (folder.empty() ? escaped : folder).substr(1));
        WriteMountTable();
    }

    void Unmount(const std::string& escaped)
    {
        std::erase_if(FLines, [&](const std::string& l) {
            return l.find(" / " + escaped + " ") != std::string::npos;
        });
        WriteMountTable();
    }

    void WriteMountTable()
    {
        // Replaced in one rename, as the kernel's table changes all at once.
        std::string text;
        for (const std::string& l : FLines)
            text += l + "\n";
        const std::filesystem::path target = FRoot / "proc/self/mountinfo";
        Write(target.string() + ".new", text);
        std::filesystem::rename(target.string() + ".new", target);
    }

    static void Write(const std::filesystem::path& path, const std::string& bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

private:
    static std::string Padded(std::string text, size_t size, char pad)
    {
        text.resize(size, pad);
        return text;
    }

    std::filesystem::path FRoot;
    std::vector<std::string> FLines;
    int FNextHost = 6;
};
