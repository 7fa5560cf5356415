// The whole app as a process, against the isolated adb world: how it ends on signals, and that a
// second launch hands over to the first instead of running beside it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Paths.h"
#include "platform/Process.h"
#include "support/AdbWorld.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::AdbWorld;
using Clock = std::chrono::steady_clock;

// The termination sequence stops mirrors and the private server with adb's own time-outs.
constexpr auto kEndBound = 30s;

class AppProcess {
public:
    explicit AppProcess(const AdbWorld& world, std::optional<std::string> mirrorTarget = std::nullopt) {
        ProcessSpec spec{ORVAN_LIFECYCLE_HARNESS, {}, {}, {}};
        spec.environmentChanges = {{"QT_QPA_PLATFORM", "offscreen"},
                                   {"ORVAN_PRIVATE_ADB_PORT", std::to_string(world.privateServerPort())},
                                   {"ORVAN_TEST_TOOL_FOLDER", world.toolFolder().string()},
                                   {"ORVAN_TEST_MIRROR_TARGET", mirrorTarget}};
        child_ = ChildProcess::launch(spec);
    }
    ~AppProcess() {
        if (child_->isRunning()) child_->sendSignal(SIGKILL);
        child_->waitForExit();
    }
    // The first output line starting with `prefix`, read until the deadline.
    std::optional<std::string> waitForLine(const std::string& prefix, std::chrono::seconds within = 60s) {
        auto deadline = Clock::now() + within;
        while (true) {
            std::istringstream lines(output_);
            for (std::string line; std::getline(lines, line);)
                if (line.starts_with(prefix)) return line;
            if (Clock::now() > deadline || !child_->isRunning()) return std::nullopt;
            child_->waitForExit(Clock::now() + 50ms, [this](std::string_view chunk) { output_ += chunk; });
        }
    }
    std::optional<ProcessExit> waitForExit(std::chrono::seconds within) {
        child_->waitForExit(Clock::now() + within, [this](std::string_view chunk) { output_ += chunk; });
        return child_->exit();
    }
    ChildProcess& child() { return *child_; }
    const std::string& output() const { return output_; }

private:
    std::unique_ptr<ChildProcess> child_;
    std::string output_;
};

bool portAcceptsConnections(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

std::string logText() {
    std::ifstream file(paths::appStateFolder() / "orvan-mirror-native.log");
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::seconds within) {
    for (auto deadline = Clock::now() + within; !condition();) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

class AppSignalE2E : public ::testing::TestWithParam<std::pair<int, const char*>> {};

TEST_P(AppSignalE2E, SignalRunsTheTerminationSequence) {
    if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath())
        GTEST_SKIP() << "adb, the simulator or the stand-in is missing";
    AdbWorld world;
    auto& glasses = world.startConnectedGlasses({.media = false});
    AppProcess app(world, glasses.wifiSerial());

    auto mirror = app.waitForLine("mirror");
    ASSERT_TRUE(mirror && mirror->starts_with("mirror ")) << app.output();
    pid_t standin = std::stoi(mirror->substr(7));
    ASSERT_TRUE(waitUntil([&] { return portAcceptsConnections(world.privateServerPort()); }, 30s)) << app.output();

    app.child().sendSignal(GetParam().first);
    auto exit = app.waitForExit(kEndBound);
    ASSERT_TRUE(exit) << "still running after the signal";
    EXPECT_EQ(exit->reason, ProcessExit::Reason::exited);
    EXPECT_EQ(exit->status, 0);
    EXPECT_FALSE(portAcceptsConnections(world.privateServerPort()));
    EXPECT_TRUE(kill(standin, 0) == -1 && errno == ESRCH) << "the mirror outlived the app";
    EXPECT_NE(logText().find(std::string("Orvan Mirror 正在退出：收到信号 ") + GetParam().second + "。"),
              std::string::npos)
        << logText();
}

INSTANTIATE_TEST_SUITE_P(Signals, AppSignalE2E,
                         ::testing::Values(std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGINT, "SIGINT"},
                                           std::pair{SIGHUP, "SIGHUP"}),
                         [](const auto& param) { return std::string(param.param.second); });

TEST(AppSingleInstanceE2E, SecondLaunchShowsTheFirstAndACrashLeavesNoBlock) {
    if (!AdbWorld::available()) GTEST_SKIP() << "adb or the simulator is missing";
    AdbWorld world;
    {
        AppProcess first(world);
        ASSERT_TRUE(first.waitForLine("launched")) << first.output();
        AppProcess second(world);
        auto secondExit = second.waitForExit(30s);
        ASSERT_TRUE(secondExit);
        EXPECT_EQ(secondExit->status, 0);
        EXPECT_TRUE(
            waitUntil([] { return logText().find("收到再次启动请求，已显示主窗口。") != std::string::npos; }, 30s));
        EXPECT_EQ(second.output().find("launched"), std::string::npos) << "the second launch ran a second app";

        first.child().sendSignal(SIGKILL);  // a crash: the lock and the socket file stay behind
        ASSERT_TRUE(first.waitForExit(30s));
    }
    AppProcess next(world);
    EXPECT_TRUE(next.waitForLine("launched")) << next.output();
}

}  // namespace
}  // namespace orvan
