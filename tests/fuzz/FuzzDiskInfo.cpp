// What the identification library reads of a reader: the SCSI inquiry of the disk and the USB
// serial number, as sysfs files below a private system root with one USB disk mounted as D:.
// Input: one byte n, then n bytes of inquiry (fewer when the input ends), then the serial file.
// Read through TDiskInfo and the exports that judge the answers.
#include "../Support/FakeRoot.h"
#include "DiskInfo.h"
#include "FuzzCommon.h"
#include "Orvid.h"

#include <climits>
#include <cstring>

namespace {

std::string InquiryFile, SerialFile;

std::string Real(const std::filesystem::path& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static TFakeRoot root(Fuzz::Folder());
    root.Activate();
    TFakeRoot::TDisk disk;
    disk.Vendor = "XAL";
    disk.Product = std::string("MassSto\x01", 8) + std::string("\x11\x22\x33\x44\x02\x56\x00\x07", 8);
    const auto device = root.AddDisk(disk);
    root.Mount("/media/user/READER", device);
    // The files TFakeRoot made, found the way the library finds them.
    const std::string scsi = Real(root.Root() / "sys/dev/block" /
                                  (std::to_string(device.first) + ":" +
                                   std::to_string(device.second)) /
                                  "../device");
    if (scsi.empty()) std::abort();
    InquiryFile = scsi + "/inquiry";
    // The USB device folder holds the serial, three folders above the SCSI device.
    SerialFile = Real(scsi + "/../../..") + "/serial";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t n = std::min<size_t>(data[0], input.size());
    if (!Fuzz::WriteFile(InquiryFile, input.substr(0, n)) ||
        !Fuzz::WriteFile(SerialFile, input.substr(n)))
        return 0;
    const TDiskInfo info("D:");
    HasReaderVendor(info.Vendor);
    HasReaderSignature(info.ProductBytes);
    IsReaderDrive('D');
    TDeviceIdentity identity;
    std::memset(&identity, 0, sizeof identity);
    GetDeviceID('d', &identity);
    return 0;
}
