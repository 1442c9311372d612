// Firmware packages: WriteImage extracts the package's ".pkg" entry, keeps the reader image
// and copies it to the reader's folder (here a private folder). The first input byte chooses
// the reader code (low three bits) and whether the rest is the package file itself (bit 3) or,
// usually, the ".pkg" entry that is packed into a valid archive first, so that mutations reach
// the image header instead of the archive's checksums.
#include "DeviceStream.h"
#include "QuietFirmwareHost.h"
#include "FuzzCommon.h"

#include <QGuiApplication>

namespace {

constexpr quint16 ReaderCodes[] = {1, 2, 0x5600, 0x5602, 0x0105, 0, 0xFFFF, 0x5601};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The working file goes below TMPDIR: a folder of this process.
    setenv("TMPDIR", (Fuzz::Folder() + "/tmp").c_str(), 1);
    static QGuiApplication application(*argc, *argv);
    SetFirmwareRetryWait(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    static const std::string package = Fuzz::Folder() + "/fw0140.zip";
    static const QString target =
        QString::fromStdString(Fuzz::Folder() + "/reader/_sys_/update/updatepackage.bin");
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool raw = data[0] & 8;
    const std::string bytes =
        raw ? std::string(rest) : Fuzz::MakeZip({{"fw0140.pkg", std::string(rest)}});
    if (!Fuzz::WriteFile(package, bytes)) return 0;
    TQuietHost host;
    WriteImage(host, ReaderCodes[data[0] & 7], QString::fromStdString(package), target);
    QFile::remove(target);
    return 0;
}
