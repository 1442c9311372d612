#include "../Support/FakeRoot.h"
#include "Orvid.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Starts a helper with its output discarded (the services report every call).
pid_t Spawn(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int r = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return r == 0 ? pid : -1;
}

void Stop(pid_t& pid)
{
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

bool NameHasOwner(const char* name)
{
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return false;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s", name) >= 0)
        sd_bus_message_read(reply, "b", &owned);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return owned != 0;
}

// Ejection against a disk service on a private bus that this test starts and stops; the
// library reaches it as the system bus.
class EjectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FHandle = dlopen(KORVEL_BIN_DIR "/libOrvid.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(FHandle, nullptr) << dlerror();
        FUnmount = reinterpret_cast<TUnmountDrive>(dlsym(FHandle, "UnmountDrive"));
        ASSERT_NE(FUnmount, nullptr);

        char pattern[] = "/tmp/korvel-eject-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        FFolder = pattern;
        FRoot = std::make_unique<TFakeRoot>(FFolder);
        FRoot->Activate();
        FRoot->Mount("/media/user/READER", FRoot->AddDisk({}));

        const std::string socket = (FFolder / "bus").string();
        FBus = Spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                      "--address=unix:path=" + socket});
        ASSERT_GT(FBus, 0);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
        for (int i = 0; i < 200 && !fs::exists(socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(fs::exists(socket)) << "the private bus did not start";
    }

    void TearDown() override
    {
        Stop(FService);
        Stop(FBus);
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        TFakeRoot::Deactivate();
        fs::remove_all(FFolder);
        if (FHandle) dlclose(FHandle);
    }

    void StartService(const std::string& parameters)
    {
        const std::string json =
            "{\"log\": \"" + (FFolder / "log").string() + "\"" + parameters + "}";
        FService = Spawn({"/usr/bin/python3", "-m", "dbusmock", "--template",
                          KORVEL_UDISKS_TEMPLATE, "-p", json});
        ASSERT_GT(FService, 0);
        for (int i = 0; i < 250 && !NameHasOwner("org.freedesktop.UDisks2"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(NameHasOwner("org.freedesktop.UDisks2")) << "the disk service did not start";
    }

    // The requests the service saw, with their times in seconds.
    std::vector<std::pair<std::string, double>> Requests()
    {
        std::vector<std::pair<std::string, double>> requests;
        std::ifstream in(FFolder / "log");
        std::string what;
        double when;
        while (in >> what >> when)
            requests.emplace_back(what, when);
        return requests;
    }

    void* FHandle = nullptr;
    TUnmountDrive FUnmount = nullptr;
    fs::path FFolder;
    std::unique_ptr<TFakeRoot> FRoot;
    pid_t FBus = -1;
    pid_t FService = -1;
};

} // namespace

TEST_F(EjectTest, UnmountsThenPowersOff)
{
    StartService("");
    EXPECT_TRUE(FUnmount('D'));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].first, "Unmount");
    EXPECT_EQ(requests[1].first, "PowerOff");
}

TEST_F(EjectTest, BusyFileSystemIsRetriedThenEjected)
{
    StartService(", \"busy\": 2");
    EXPECT_TRUE(FUnmount('d'));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].first, "Unmount");
    EXPECT_EQ(requests[3].first, "PowerOff");
}

TEST_F(EjectTest, FiveVetoesHalfASecondApartFail)
{
    StartService(", \"busy\": -1");
    EXPECT_FALSE(FUnmount('D'));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 5u);
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].first, "Unmount");
        if (i > 0) {
            EXPECT_GE(requests[i].second - requests[i - 1].second, 0.45) << "attempt " << i;
        }
    }
}

TEST_F(EjectTest, RefusedPowerOffIsAVeto)
{
    StartService(", \"refuse_power\": true");
    EXPECT_FALSE(FUnmount('D'));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 10u);
    EXPECT_EQ(requests.back().first, "PowerOff");
}

TEST_F(EjectTest, NoServiceNoBusNoDrive)
{
    // Nobody owns the disk service's name: no ejection, and no waiting for retries either.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(FUnmount('D'));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    StartService("");
    EXPECT_FALSE(FUnmount('E')); // no volume
    EXPECT_FALSE(FUnmount('#'));
    EXPECT_TRUE(Requests().empty());
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    EXPECT_FALSE(FUnmount('D'));
}
