// The test world itself: what keeps every end-to-end test away from the developer's home and
// adb servers, and the clean-up even of what a failed test left.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "support/AdbWorld.h"

namespace orvan::testing {
namespace {

bool somethingListensOn(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return connected;
}

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "(unset)";
}

class AdbWorldTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!AdbWorld::available()) GTEST_SKIP() << "adb or glasses-sim missing";
    }
};

TEST_F(AdbWorldTest, EnvironmentIsIsolatedAndRestored) {
    ::setenv("ANDROID_SERIAL", "leaked-serial", 1);
    const std::string homeBefore = env("HOME");
    {
        AdbWorld world;
        EXPECT_EQ(env("HOME"), world.home().string());
        EXPECT_EQ(env("ANDROID_SERIAL"), "(unset)");
        for (const char* off : {"ADB_EMU", "ADB_USB", "ADB_MDNS"}) EXPECT_EQ(env(off), "0") << off;
        EXPECT_EQ(env("ANDROID_ADB_SERVER_PORT"), std::to_string(world.adbServerPort()));
        EXPECT_EQ(env("XDG_STATE_HOME"), (world.home() / ".local/state").string());
        EXPECT_NE(world.adbServerPort(), 5037);
        EXPECT_NE(world.privateServerPort(), 15037);
        EXPECT_NE(world.adbServerPort(), world.privateServerPort());
        EXPECT_TRUE(std::filesystem::exists(world.adbPublicKeyPath()));
        EXPECT_THROW(AdbWorld second, std::logic_error);
    }
    EXPECT_EQ(env("ANDROID_SERIAL"), "leaked-serial");
    EXPECT_EQ(env("HOME"), homeBefore);
    ::unsetenv("ANDROID_SERIAL");
}

TEST_F(AdbWorldTest, DestructionKillsServersAndSimulatorsAndRemovesTheFolder) {
    int serverPort = 0, privatePort = 0;
    pid_t simulator = 0;
    std::filesystem::path root;
    {
        AdbWorld world;
        serverPort = world.adbServerPort();
        privatePort = world.privateServerPort();
        root = world.root();
        SimulatedGlasses& glasses = world.startGlasses({.media = false});
        simulator = glasses.pid();
        EXPECT_EQ(world.adb({"start-server"}).exitCode, 0);
        EXPECT_EQ(world.adbOnPort(privatePort, {"start-server"}).exitCode, 0);
        EXPECT_EQ(world.connectWifi(glasses), "connected to " + glasses.wifiSerial());
        EXPECT_TRUE(somethingListensOn(serverPort));
        EXPECT_TRUE(somethingListensOn(privatePort));
    }  // as if the test had failed here: nothing may be left behind
    EXPECT_FALSE(somethingListensOn(serverPort));
    EXPECT_FALSE(somethingListensOn(privatePort));
    EXPECT_EQ(::kill(simulator, 0), -1);  // reaped, not a zombie
    EXPECT_EQ(errno, ESRCH);
    EXPECT_FALSE(std::filesystem::exists(root));
}

}  // namespace
}  // namespace orvan::testing
