#include "DriveTable.h"
#include "../Support/FakeRoot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

class DriveTableTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/korvel-drives-test-XXXXXX";
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

    std::map<char, std::string> Letters()
    {
        std::map<char, std::string> letters;
        for (const DriveTable::TVolume& v : DriveTable::Synchronize())
            letters[v.Letter] = v.MountPoint;
        return letters;
    }

    fs::path FFolder;
    std::unique_ptr<TFakeRoot> FRoot;
};

} // namespace

TEST_F(DriveTableTest, LettersFollowMountsAndUnmounts)
{
    TFakeRoot::TDisk reader;
    const auto readerDevice = FRoot->AddDisk(reader);
    TFakeRoot::TDisk card;
    card.Name = "sdc";
    card.Minor = 32;
    card.Usb = false;
    card.Removable = true;
    const auto cardDevice = FRoot->AddDisk(card);
    TFakeRoot::TDisk fixed;
    fixed.Name = "sdd";
    fixed.Minor = 48;
    fixed.Usb = false;
    const auto fixedDevice = FRoot->AddDisk(fixed);

    FRoot->Mount("/media/user/READER", readerDevice);
    FRoot->Mount("/home", fixedDevice); // not a removable place: no letter
    FRoot->Mount("/mnt/disk", fixedDevice);
    FRoot->Mount("/run/media/user/MY\\040CARD", cardDevice, "/run/media/user/MY CARD");

    std::map<char, std::string> expected{{'C', "/"},
                                         {'D', "/media/user/READER"},
                                         {'E', "/mnt/disk"},
                                         {'F', "/run/media/user/MY CARD"}};
    EXPECT_EQ(Letters(), expected);
    EXPECT_EQ(DriveTable::DriveType('d'), DriveTable::DriveRemovable); // on USB
    EXPECT_EQ(DriveTable::DriveType('E'), DriveTable::DriveFixed);
    EXPECT_EQ(DriveTable::DriveType('F'), DriveTable::DriveRemovable); // removable media
    EXPECT_EQ(DriveTable::DriveType('C'), DriveTable::DriveFixed);
    for (char none : {'A', 'B', 'G', 'Z', '1'})
        EXPECT_EQ(DriveTable::DriveType(none), DriveTable::DriveNoRoot) << none;
    EXPECT_EQ(DriveTable::RootFolder('F'), (FFolder / "run/media/user/MY CARD").string() + "/");
    EXPECT_EQ(DriveTable::RootFolder('C'), FFolder.string() + "/");
    EXPECT_TRUE(fs::is_symlink(FFolder / "drives/d:"));

    // D: goes; E: and F: keep their letters; the next volume takes the free D:.
    FRoot->Unmount("/media/user/READER");
    expected.erase('D');
    EXPECT_EQ(Letters(), expected);
    EXPECT_EQ(DriveTable::DriveType('D'), DriveTable::DriveNoRoot);
    EXPECT_EQ(DriveTable::RootFolder('D'), "");
    FRoot->Mount("/media/user/OTHER", readerDevice);
    expected['D'] = "/media/user/OTHER";
    EXPECT_EQ(Letters(), expected);
}

TEST_F(DriveTableTest, StaleAndForeignLinksAreDropped)
{
    const auto device = FRoot->AddDisk({});
    FRoot->Mount("/media/user/READER", device);
    fs::create_directory_symlink("/nowhere", FFolder / "drives/d:");
    fs::create_directory_symlink(FFolder / "media/user/READER/", FFolder / "drives/e:");
    fs::create_directory_symlink(FFolder / "media/user/READER/", FFolder / "drives/g:");
    const std::map<char, std::string> expected{{'C', "/"}, {'E', "/media/user/READER"}};
    EXPECT_EQ(Letters(), expected);
    EXPECT_FALSE(fs::exists(fs::symlink_status(FFolder / "drives/d:")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(FFolder / "drives/g:")));
}

TEST_F(DriveTableTest, MountTableParsing)
{
    FRoot->Write(FFolder / "table",
                 "36 35 98:0 /mnt1 /mnt/a\\040b rw,noatime master:1 - ext3 /dev/root rw\n"
                 "garbage line\n"
                 "37 35 8:17 / /media/x rw - vfat /dev/sdb1 rw\n"
                 "38 35 8:18 / /media/y rw shared:2 master:3\n");
    const auto mounts = DriveTable::ReadMountTable((FFolder / "table").string());
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].MountPoint, "/mnt/a b");
    EXPECT_EQ(mounts[0].Major, 98u);
    EXPECT_EQ(mounts[0].FsType, "ext3");
    EXPECT_EQ(mounts[1].MountPoint, "/media/x");
    EXPECT_EQ(mounts[1].Minor, 17u);
    EXPECT_TRUE(DriveTable::ReadMountTable((FFolder / "missing").string()).empty());
    EXPECT_FALSE(DriveTable::IsRemovablePlace("/media"));
    EXPECT_FALSE(DriveTable::IsRemovablePlace("/mediax/a"));
    EXPECT_TRUE(DriveTable::IsRemovablePlace("/run/media/u/X"));
}

// Two processes bring the table up to date at the same moment while volumes come and go. A
// volume must be seen at one letter only, by both processes, for as long as it is mounted, and
// a volume that stays mounted must keep its letter throughout.
TEST_F(DriveTableTest, TwoProcessesUpdatingAtOnceAgree)
{
    const auto device = FRoot->AddDisk({});
    FRoot->Mount("/media/user/STAYS", device);
    ASSERT_EQ(Letters()['D'], "/media/user/STAYS");

    const fs::path go = FFolder / "go";
    auto child = [&](int index) -> int {
        while (!fs::exists(go))
            std::this_thread::yield();
        std::map<std::string, char> seen;
        int faults = 0;
        for (int round = 0; round < 300; ++round) {
            bool stays = false;
            for (const DriveTable::TVolume& v : DriveTable::Synchronize()) {
                seen.emplace(v.MountPoint, v.Letter);
                if (seen[v.MountPoint] != v.Letter) ++faults;
                if (v.MountPoint == "/media/user/STAYS") stays = v.Letter == 'D';
            }
            if (!stays) ++faults;
        }
        std::string text;
        for (const auto& [mountPoint, letter] : seen)
            text += mountPoint + " " + letter + "\n";
        TFakeRoot::Write(FFolder / ("seen" + std::to_string(index)), text);
        return faults > 100 ? 100 : faults;
    };
    pid_t pids[2];
    for (int i = 0; i < 2; ++i) {
        pids[i] = fork();
        ASSERT_GE(pids[i], 0);
        if (pids[i] == 0) _exit(child(i));
    }
    TFakeRoot::Write(go, "");
    // Every name is used once, so a volume never legitimately changes its letter.
    for (int round = 0; round < 60; ++round) {
        FRoot->Mount("/media/user/V" + std::to_string(round), device);
        if (round >= 3) FRoot->Unmount("/media/user/V" + std::to_string(round - 3));
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "a volume changed its letter within one process";
    }
    std::map<std::string, std::string> letters;
    for (int i = 0; i < 2; ++i) {
        std::ifstream in(FFolder / ("seen" + std::to_string(i)));
        std::string mountPoint, letter;
        while (in >> mountPoint >> letter) {
            auto [it, added] = letters.emplace(mountPoint, letter);
            EXPECT_EQ(it->second, letter) << mountPoint << " had two letters";
        }
    }
    EXPECT_GT(letters.size(), 3u);
    // In the end the table matches the mount table exactly: C:, STAYS and three volumes.
    EXPECT_EQ(Letters().size(), 5u);
}
