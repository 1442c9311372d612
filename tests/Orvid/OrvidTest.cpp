#include "Orvid.h"
#include "../Support/FakeRoot.h"
#include "DevID.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

// The exports as a caller gets them: from the built library in the program folder, by name.
struct TOrvid
{
    TOrvid()
    {
        Handle = dlopen(KORVEL_BIN_DIR "/libOrvid.so", RTLD_NOW | RTLD_LOCAL);
        if (!Handle) return;
        IsReader = reinterpret_cast<TIsReaderDrive>(dlsym(Handle, "IsReaderDrive"));
        GetId = reinterpret_cast<TGetDeviceID>(dlsym(Handle, "GetDeviceID"));
        Unmount = reinterpret_cast<TUnmountDrive>(dlsym(Handle, "UnmountDrive"));
        IsValid = reinterpret_cast<TIsDriveValid>(dlsym(Handle, "IsDriveValid"));
    }
    ~TOrvid()
    {
        if (Handle) dlclose(Handle);
    }
    void* Handle = nullptr;
    TIsReaderDrive IsReader = nullptr;
    TGetDeviceID GetId = nullptr;
    TUnmountDrive Unmount = nullptr;
    TIsDriveValid IsValid = nullptr;
};

std::string Signature(const std::string& payload, const char* head = "MassSto")
{
    return std::string(head) + '\x01' + payload;
}

const std::string Payload("\x11\x22\x33\x44\x02\x56\x00\x07", 8);

class OrvidTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(FOrvid.Handle, nullptr) << dlerror();
        ASSERT_TRUE(FOrvid.IsReader && FOrvid.GetId && FOrvid.Unmount && FOrvid.IsValid);
        char pattern[] = "/tmp/korvel-orvid-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        FFolder = pattern;
        FRoot = std::make_unique<TFakeRoot>(FFolder);
        FRoot->Activate();
    }
    void TearDown() override
    {
        TFakeRoot::Deactivate();
        fs::remove_all(FFolder);
    }

    // Mounts a disk as the next volume; the first one is D:, then E:, ...
    char Attach(TFakeRoot::TDisk disk)
    {
        disk.Name = "sd" + std::string(1, static_cast<char>('b' + FCount));
        disk.Minor = static_cast<unsigned>(16 * (FCount + 1));
        FRoot->Mount("/media/user/R" + std::to_string(FCount), FRoot->AddDisk(disk));
        return static_cast<char>('D' + FCount++);
    }

    static TDeviceIdentity Zeroed()
    {
        TDeviceIdentity identity;
        std::memset(&identity, 0, sizeof identity);
        return identity;
    }

    TOrvid FOrvid;
    fs::path FFolder;
    std::unique_ptr<TFakeRoot> FRoot;
    int FCount = 0;
};

} // namespace

TEST_F(OrvidTest, RecognitionTable)
{
    struct Case
    {
        const char* what;
        std::string vendor;
        std::string product;
        bool usb;
        bool removable;
        int inquiryLength;
        bool isReader;
        int deviceId;
    };
    const Case cases[] = {
        {"XAL and five blanks", "XAL     ", Signature(Payload), true, false, 36, true, 16},
        {"a letter instead of the blank", "XALX    ", Signature(Payload), true, false, 36, false,
         -1},
        {"lower-case xal", "xal     ", Signature(Payload), true, false, 36, false, -1},
        {"Q48 followed by anything", "Q48zz!\x01\x02", Signature(Payload), true, false, 36, true,
         16},
        {"TAVO on a removable card", "TAVO\x01\x02\x03\x04", Signature(Payload), false, true, 36,
         true, 16},
        {"TAVO on a fixed disk", "TAVO\x01\x02\x03\x04", Signature(Payload), false, false, 36,
         false, 16},
        {"vendor of blanks", "        ", Signature(Payload), true, false, 36, false, -1},
        {"vendor of NULs", std::string(8, '\0'), Signature(Payload), true, false, 36, false, -1},
        {"no signature", "XAL     ", "USB DISK 2.0", true, false, 36, true, -1},
        {"signature ignores case", "XAL     ", Signature(Payload, "MASSsTO"), true, false, 36, true,
         16},
        {"signature without 0x01", "XAL     ", "MassSto\x02" + Payload, true, false, 36, true, -1},
        {"short descriptor without product", "XAL     ", Signature(Payload), true, false, 20, true,
         -1},
        {"descriptor without vendor", "XAL     ", Signature(Payload), true, false, 10, false, -1},
        {"empty descriptor", "XAL     ", Signature(Payload), true, false, 0, false, 0},
    };
    for (const Case& c : cases) {
        TFakeRoot::TDisk disk;
        disk.Vendor = c.vendor;
        disk.Product = c.product;
        disk.Usb = c.usb;
        disk.Removable = c.removable;
        disk.InquiryLength = c.inquiryLength;
        const char letter = Attach(disk);
        EXPECT_EQ(FOrvid.IsReader(letter), c.isReader) << c.what;
        EXPECT_EQ(FOrvid.IsReader(static_cast<char>(letter + 32)), c.isReader)
            << c.what << " (lower case)";
        TDeviceIdentity identity = Zeroed();
        EXPECT_EQ(FOrvid.GetId(letter, &identity), c.deviceId) << c.what;
        if (c.deviceId <= 0) {
            const TDeviceIdentity zero = Zeroed();
            EXPECT_EQ(std::memcmp(&identity, &zero, sizeof identity), 0)
                << c.what << ": record touched";
        }
    }
}

TEST_F(OrvidTest, DrivesWithoutAReadableDescriptor)
{
    // A volume whose device sysfs does not know (a network or memory file system).
    FRoot->Mount("/media/user/NET", {0, 77});
    TDeviceIdentity identity = Zeroed();
    for (char letter : {'D', 'Q', 'C', '#', '\0'}) {
        EXPECT_FALSE(FOrvid.IsReader(letter)) << letter;
        EXPECT_EQ(FOrvid.GetId(letter, &identity), 0) << letter;
    }
    // A size query answers without looking at the drive.
    EXPECT_EQ(FOrvid.GetId('Q', nullptr), 16);
    const TDeviceIdentity zero = Zeroed();
    EXPECT_EQ(std::memcmp(&identity, &zero, sizeof identity), 0);
}

TEST_F(OrvidTest, IdentityRecordBytes)
{
    TFakeRoot::TDisk xal;
    xal.Product = Signature(Payload);
    const char d = Attach(xal);
    TFakeRoot::TDisk tavo;
    tavo.Vendor = "TAVO\x01\x24\x03\x2A";
    tavo.Product = Signature(std::string("\x01\x00\x00\x00\x05\x41\x09\x02", 8));
    const char e = Attach(tavo);

    TDeviceIdentity identity = Zeroed();
    ASSERT_EQ(FOrvid.GetId(d, &identity), 16);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&identity);
    EXPECT_EQ(bytes[0], 1); // model code 'V'
    // The identifier of this payload under the documented derivation.
    EXPECT_EQ(IdentifierText(identity), "38B2EF51A6A035A91121850B1F45C304");
    EXPECT_EQ(std::memcmp(bytes + 72, Payload.data(), 8), 0);
    for (int i = 33; i < 72; ++i)
        EXPECT_EQ(bytes[i], 0) << "offset " << i;
    for (int i = 80; i < 88; ++i)
        EXPECT_EQ(bytes[i], 0) << "offset " << i;
    EXPECT_EQ(ReaderCode(identity), 0x5602);
    EXPECT_EQ(Manufacturer(identity), 7);

    TDeviceIdentity second = Zeroed();
    ASSERT_EQ(FOrvid.GetId(e, &second), 16);
    EXPECT_EQ(second.IdKind, 2);
    EXPECT_EQ(FirmwareMajor(second), 0x03);
    EXPECT_EQ(FirmwareBuild(second), 0x2A);
    EXPECT_EQ(VendorExtraWord(second), 0x2401);
    EXPECT_EQ(IdentifierText(second).size(), 32u);
    EXPECT_NE(IdentifierText(second), IdentifierText(identity));
    EXPECT_EQ(IdentifierText(second).find_first_not_of("0123456789ABCDEF"), std::string::npos);
}

TEST_F(OrvidTest, IsDriveValidLeavesNothingBehind)
{
    const char d = Attach({});
    const char e = Attach({});
    const char f = Attach({});
    const fs::path writable = FFolder / "media/user/R0";
    const fs::path readOnly = FFolder / "media/user/R1";
    const fs::path open = FFolder / "media/user/R2";
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec |
                                  fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(open, fs::perms::all);

    EXPECT_TRUE(FOrvid.IsValid(d));
    EXPECT_TRUE(fs::is_empty(writable));
    EXPECT_FALSE(FOrvid.IsValid('Z'));

    // Root writes anywhere, so the read-only case runs as an unprivileged user, with a drive
    // table of its own; the same user must still be able to write where it may.
    const bool asRoot = getuid() == 0;
    const fs::path ownTable = FFolder / "drives-user";
    if (asRoot) {
        fs::permissions(FFolder, fs::perms::all);
        fs::create_directory(ownTable);
        ASSERT_EQ(chown(ownTable.c_str(), 65534, 65534), 0);
    }
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (asRoot) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
            setenv("KORVEL_TEST_DRIVES", ownTable.c_str(), 1);
        }
        if (!FOrvid.IsValid(f)) _exit(3);
        _exit(FOrvid.IsValid(e) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: a read-only drive was reported writable; 3: a writable one was not";
    EXPECT_TRUE(fs::is_empty(readOnly));
    EXPECT_TRUE(fs::is_empty(open));
}

// The developer tool builds a reader that the library recognises, and takes it away again.
TEST_F(OrvidTest, FakeReaderToolMakesARecognisedReader)
{
    const std::string tool = "/usr/bin/python3 " KORVEL_SOURCE_DIR "/scripts/fake-reader ";
    const std::string root = FFolder.string();
    ASSERT_EQ(
        std::system((tool + "add " + root + " --payload 0102030401560009 >/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((tool + "add " + root +
                           " --name CARD --vendor TAVO1234 --no-signature >/dev/null")
                              .c_str()),
              0);
    EXPECT_TRUE(FOrvid.IsReader('D'));
    TDeviceIdentity identity = Zeroed();
    EXPECT_EQ(FOrvid.GetId('D', &identity), 16);
    EXPECT_EQ(identity.IdKind, 1);
    EXPECT_EQ(ReaderCode(identity), 0x5601);
    EXPECT_EQ(Manufacturer(identity), 9);
    EXPECT_TRUE(FOrvid.IsReader('E'));
    EXPECT_EQ(FOrvid.GetId('E', &identity), -1);
    EXPECT_TRUE(fs::exists(FFolder / "media/user/READER/小说/红楼梦.txt"));

    ASSERT_EQ(std::system((tool + "remove " + root + " >/dev/null").c_str()), 0);
    EXPECT_FALSE(FOrvid.IsReader('D'));
    EXPECT_TRUE(FOrvid.IsReader('E'));
    // Attached again, the reader takes the free letter again.
    ASSERT_EQ(std::system((tool + "add " + root + " >/dev/null").c_str()), 0);
    EXPECT_TRUE(FOrvid.IsReader('D'));
}
