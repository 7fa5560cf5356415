// The whole app as a process, against the isolated adb world: how it ends on signals, and that a
// second launch hands over to the first instead of running beside it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "platform/Paths.h"
#include "platform/Process.h"
#include "support/AdbWorld.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::AdbWorld;
auto now = [] { return std::chrono::steady_clock::now(); };

// The app (tests/app/AppLifecycleHarness.cpp), offscreen, on the world's tools and private port.
struct App {
    App(const AdbWorld& world, std::optional<std::string> mirrorTarget = std::nullopt)
        : child(ChildProcess::launch({ORVAN_LIFECYCLE_HARNESS,
                                      {},
                                      {{"QT_QPA_PLATFORM", "offscreen"},
                                       {"ORVAN_PRIVATE_ADB_PORT", std::to_string(world.privateServerPort())},
                                       {"ORVAN_TEST_TOOL_FOLDER", world.toolFolder().string()},
                                       {"ORVAN_CALLBACK_PORT", "0"},
                                       {"ORVAN_CALLBACK_BIND_ADDRESS", "127.0.0.1"},
                                       {"ORVAN_TEST_MIRROR_TARGET", mirrorTarget}},
                                      {}})) {}
    ~App() {
        if (child->isRunning()) child->sendSignal(SIGKILL);
        child->waitForExit();
    }
    // The text after `word ` on the first output line that starts with it.
    std::optional<std::string> waitForLine(const std::string& word) {
        for (auto deadline = now() + 60s; now() < deadline && !child->exit();) {
            child->waitForExit(now() + 50ms, [this](std::string_view chunk) { output += chunk; });
            if (auto at = ("\n" + output).find("\n" + word); at != std::string::npos)
                return output.substr(at + word.size(), output.find('\n', at) - at - word.size());
        }
        return std::nullopt;
    }
    std::optional<ProcessExit> waitForExit() {
        child->waitForExit(now() + 30s, [this](std::string_view chunk) { output += chunk; });
        return child->exit();
    }
    std::unique_ptr<ChildProcess> child;
    std::string output;
};

bool listening(int port) {
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

bool eventually(const std::function<bool()>& condition) {
    for (auto deadline = now() + 30s; !condition(); std::this_thread::sleep_for(50ms))
        if (now() > deadline) return false;
    return true;
}

bool logHas(const std::string& text) {
    std::ifstream file(paths::appStateFolder() / "orvan-mirror-native.log");
    return std::string(std::istreambuf_iterator<char>(file), {}).find(text) != std::string::npos;
}

class AppSignalE2E : public ::testing::TestWithParam<std::pair<int, std::string>> {};

TEST_P(AppSignalE2E, SignalRunsTheTerminationSequence) {
    if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath())
        GTEST_SKIP() << "adb, the simulator or the stand-in is missing";
    AdbWorld world;
    App app(world, world.startConnectedGlasses({.media = false}).wifiSerial());
    auto mirror = app.waitForLine("mirror ");
    ASSERT_TRUE(mirror && eventually([&] { return listening(world.privateServerPort()); })) << app.output;

    app.child->sendSignal(GetParam().first);
    auto exit = app.waitForExit();
    ASSERT_TRUE(exit) << "still running after the signal";
    EXPECT_TRUE(exit->reason == ProcessExit::Reason::exited && exit->status == 0);
    EXPECT_FALSE(listening(world.privateServerPort()));
    EXPECT_TRUE(kill(std::stoi(*mirror), 0) == -1 && errno == ESRCH) << "the mirror outlived the app";
    EXPECT_TRUE(logHas("Orvan Mirror 正在退出：收到信号 " + GetParam().second + "。"));
}

INSTANTIATE_TEST_SUITE_P(Signals, AppSignalE2E,
                         ::testing::Values(std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGINT, "SIGINT"},
                                           std::pair{SIGHUP, "SIGHUP"}),
                         [](const auto& param) { return param.param.second; });

TEST(AppSingleInstanceE2E, SecondLaunchShowsTheFirstAndACrashLeavesNoBlock) {
    if (!AdbWorld::available()) GTEST_SKIP() << "adb or the simulator is missing";
    AdbWorld world;
    {
        App first(world);
        ASSERT_TRUE(first.waitForLine("launched")) << first.output;
        App second(world);
        auto secondExit = second.waitForExit();
        EXPECT_TRUE(secondExit && secondExit->status == 0 && second.output.find("launched") == std::string::npos);
        EXPECT_TRUE(eventually([] { return logHas("收到再次启动请求，已显示主窗口。"); }));
        first.child->sendSignal(SIGKILL);  // a crash: the lock and the socket file stay behind
    }
    App next(world);
    EXPECT_TRUE(next.waitForLine("launched")) << next.output;
}

}  // namespace
}  // namespace orvan
