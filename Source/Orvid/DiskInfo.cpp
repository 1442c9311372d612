#include "DiskInfo.h"

#include "DriveTable.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include <sys/stat.h>
#include <systemd/sd-bus.h>

namespace {

constexpr const char* UDisksService = "org.freedesktop.UDisks2";
constexpr int EjectAttempts = 5;
constexpr auto EjectPause = std::chrono::milliseconds(500);

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RealPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A text field of the descriptor: the bytes up to the first NUL, within the field.
std::string FieldText(const std::string& inquiry, size_t offset, size_t size)
{
    const std::string field = inquiry.substr(offset, size);
    return field.substr(0, field.find('\0'));
}

// The serial number belongs to the USB device, some folders above the SCSI device.
std::string UsbSerial(std::string folder)
{
    const std::string stop = DriveTable::SystemRoot() + "/sys/devices";
    while (folder.size() > stop.size() && folder.compare(0, stop.size(), stop) == 0) {
        if (FileExists(folder + "/serial")) {
            std::string serial = ReadFileBytes(folder + "/serial");
            while (!serial.empty() && (serial.back() == '\n' || serial.back() == '\0'))
                serial.pop_back();
            return serial.substr(0, serial.find('\0'));
        }
        folder.erase(folder.rfind('/'));
    }
    return {};
}

// The block device behind a drive letter ("sdb1"), empty when the drive has none.
std::string BlockDeviceName(char letter)
{
    DriveTable::TVolume volume;
    if (!DriveTable::FindVolume(letter, volume)) return {};
    const std::string folder = DriveTable::BlockDeviceFolder(volume.Major, volume.Minor);
    const size_t slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(slash + 1);
}

// UDisks2 names block devices by their kernel name, other characters written as _xx.
std::string UDisksBlockPath(const std::string& name)
{
    static const char hex[] = "0123456789abcdef";
    std::string path = "/org/freedesktop/UDisks2/block_devices/";
    for (unsigned char c : name) {
        if (std::isalnum(c)) {
            path += static_cast<char>(c);
        } else {
            path += '_';
            path += hex[c >> 4];
            path += hex[c & 15];
        }
    }
    return path;
}

// Errors that no retry can mend: there is nothing to eject or nobody to ask.
bool IsFinal(const sd_bus_error& error)
{
    return sd_bus_error_has_names(
        &error, SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_UNKNOWN_OBJECT,
        SD_BUS_ERROR_UNKNOWN_METHOD, SD_BUS_ERROR_UNKNOWN_INTERFACE, SD_BUS_ERROR_NAME_HAS_NO_OWNER,
        SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_DISCONNECTED, "org.freedesktop.UDisks2.Error.NotFound");
}

enum class TStep
{
    Done,
    Veto,
    Final
};

TStep CallWithEmptyOptions(sd_bus* bus, const char* path, const char* interface, const char* method,
                           std::string& vetoName)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int r =
        sd_bus_call_method(bus, UDisksService, path, interface, method, &error, &reply, "a{sv}", 0);
    TStep step = TStep::Done;
    if (r < 0) {
        // An already unmounted file system is what we wanted anyway.
        if (sd_bus_error_has_name(&error, "org.freedesktop.UDisks2.Error.NotMounted")) {
            step = TStep::Done;
        } else {
            vetoName = error.name ? error.name : "";
            step = IsFinal(error) ? TStep::Final : TStep::Veto;
        }
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return step;
}

// The drive object behind the block device (sd_bus_get_property leaves the reply inside the
// variant).
TStep DriveObject(sd_bus* bus, const std::string& blockPath, std::string& drivePath,
                  std::string& vetoName)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const char* value = nullptr;
    TStep step = TStep::Done;
    if (sd_bus_get_property(bus, UDisksService, blockPath.c_str(), "org.freedesktop.UDisks2.Block",
                            "Drive", &error, &reply, "o") < 0) {
        vetoName = error.name ? error.name : "";
        step = IsFinal(error) ? TStep::Final : TStep::Veto;
    } else if (sd_bus_message_read(reply, "o", &value) < 0 || !value ||
               std::strcmp(value, "/") == 0) {
        step = TStep::Final; // no drive to power off
    } else {
        drivePath = value;
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return step;
}

} // namespace

bool HasReaderVendor(const std::string& vendor)
{
    return vendor.starts_with("XAL ") || vendor.starts_with("TAVO") || vendor.starts_with("Q48");
}

bool HasReaderSignature(const std::uint8_t (&productBytes)[16])
{
    static const char signature[] = "masssto";
    for (int i = 0; i < 7; ++i)
        if (std::tolower(productBytes[i]) != signature[i]) return false;
    return productBytes[7] == 0x01;
}

TDiskInfo::TDiskInfo(const std::string& drive)
{
    SetDrive(drive);
}

void TDiskInfo::SetDrive(std::string drive)
{
    if (!drive.empty() && (drive.back() == '\\' || drive.back() == '/')) drive.pop_back();
    if (drive != Drive) {
        Drive = drive;
        Refresh();
    }
}

void TDiskInfo::Clear()
{
    Valid = false;
    Revision.clear();
    Product.clear();
    Serial.clear();
    Vendor.clear();
    DriveType = 0;
    std::memset(VendorBytes, 0, sizeof VendorBytes);
    std::memset(ProductBytes, 0, sizeof ProductBytes);
}

void TDiskInfo::Refresh()
{
    Clear();
    if (Drive.empty()) return;
    const char letter = Drive[0];
    DriveType = DriveTable::DriveType(letter);

    DriveTable::TVolume volume;
    if (!DriveTable::FindVolume(letter, volume)) return;
    const std::string disk =
        DriveTable::DiskFolder(DriveTable::BlockDeviceFolder(volume.Major, volume.Minor));
    if (disk.empty()) return;
    const std::string scsi = RealPath(disk + "/device");
    if (scsi.empty()) return;
    const std::string inquiry = ReadFileBytes(scsi + "/inquiry");
    if (inquiry.empty()) return;

    // A field the descriptor does not hold in full counts as absent.
    if (inquiry.size() >= 16) {
        Vendor = FieldText(inquiry, 8, 8);
        std::memcpy(VendorBytes, inquiry.data() + 8, 8);
    }
    if (inquiry.size() >= 32) {
        Product = FieldText(inquiry, 16, 16);
        std::memcpy(ProductBytes, inquiry.data() + 16, 16);
    }
    if (inquiry.size() >= 36) Revision = FieldText(inquiry, 32, 4);
    Serial = UsbSerial(scsi);
    Valid = true;
}

bool TDiskInfo::Eject(std::string* vetoName)
{
    if (vetoName) vetoName->clear();
    if (Drive.empty()) return false;
    const std::string name = BlockDeviceName(Drive[0]);
    if (name.empty()) return false;
    const std::string blockPath = UDisksBlockPath(name);

    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return false;
    bool ejected = false;
    std::string veto;
    for (int attempt = 0; attempt < EjectAttempts && !ejected; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(EjectPause);
        TStep step = CallWithEmptyOptions(bus, blockPath.c_str(),
                                          "org.freedesktop.UDisks2.Filesystem", "Unmount", veto);
        std::string drivePath;
        if (step == TStep::Done) step = DriveObject(bus, blockPath, drivePath, veto);
        if (step == TStep::Done)
            step = CallWithEmptyOptions(bus, drivePath.c_str(), "org.freedesktop.UDisks2.Drive",
                                        "PowerOff", veto);
        if (step == TStep::Done) ejected = true;
        if (step == TStep::Final) break;
    }
    sd_bus_flush_close_unref(bus);
    if (vetoName) *vetoName = ejected ? std::string() : veto;
    return ejected;
}
