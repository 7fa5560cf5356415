// The private mirroring server's lifecycle and circuit breaker against the scripted adb,
// answered in-process (launch failures run the real launch): exact commands, time-outs, log
// lines, and that the shared server is never addressed.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "adb/PrivateAdbServer.h"
#include "foundation/MirrorError.h"
#include "support/FakeAdb.h"
#include "support/Recorders.h"

namespace orvan {
namespace {

using testing::FakeAdb;
using testing::InvocationRecorder;
using testing::LogRecorder;

constexpr int kPort = 16031;

class PrivateAdbServerTest : public ::testing::Test {
protected:
    PrivateAdbServerTest() {
        logs.attach(*log);
        trace.attach(runner);
        runner.setCommandRunner(adb.inProcess());
    }

    ~PrivateAdbServerTest() override {
        // Every command must have addressed the private server on its own port.
        for (const auto& invocation : trace.invocations()) {
            EXPECT_EQ(invocation.scope, AdbServerScope::privateMirroring) << invocation.arguments;
            EXPECT_TRUE(invocation.arguments.starts_with("-P " + std::to_string(kPort) + " ")) << invocation.arguments;
            EXPECT_FALSE(invocation.check);
            EXPECT_FALSE(invocation.logCommand);
        }
    }

    void makeAdbUnlaunchable() {
        runner.setCommandRunner({});
        std::filesystem::remove(adb.adbPath());
        std::ofstream(adb.adbPath()) << "not a program";
    }

    FakeAdb adb;
    FakeClock clock;
    SharedLogSink log = std::make_shared<LogSink>();
    LogRecorder logs;
    AdbRunner runner{adb.adbPath(), kPort, log};
    InvocationRecorder trace;
    ToolLocation tools = adb.tools();
    PrivateAdbServer server{runner, tools, clock};
    const std::string ready = "投屏专用 ADB Server 已就绪: 127.0.0.1:16031";
};

TEST_F(PrivateAdbServerTest, PrepareStartsOnceThenReusesReadiness) {
    adb.on({"-P", "16031", "start-server"}).reply("* daemon started successfully");
    EXPECT_TRUE(server.preparePrivateWirelessAdbServer(false));
    EXPECT_TRUE(server.preparePrivateWirelessAdbServer(false));
    EXPECT_TRUE(server.preparePrivateWirelessAdbServer(true));
    ASSERT_EQ(trace.invocations().size(), 1u);
    EXPECT_EQ(trace.lines()[0], "-P 16031 start-server");
    EXPECT_EQ(trace.timeouts()[0], 8.0);
    EXPECT_EQ(logs.lines(), std::vector<std::string>{ready});
    EXPECT_TRUE(server.isReady());
}

TEST_F(PrivateAdbServerTest, StartFailureLogsItsOutputAndLeavesTheBreakerClosed) {
    adb.on({"-P", "16031", "start-server"})
        .reply("  \n", 1)
        .reply("cannot bind 'tcp:16031': Address already in use", 1);
    EXPECT_FALSE(server.preparePrivateWirelessAdbServer(false));
    EXPECT_FALSE(server.preparePrivateWirelessAdbServer(false));
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{
                                "投屏专用 ADB Server 启动失败，将仅在本次扫码中回退共享 5037: ",
                                "投屏专用 ADB Server 启动失败，将仅在本次扫码中回退共享 5037: cannot bind 'tcp:16031': "
                                "Address already in use"}));
    EXPECT_FALSE(server.isSuppressed());
    EXPECT_EQ(trace.invocations().size(), 2u);  // not ready, so every preparation tries again
}

TEST_F(PrivateAdbServerTest, SilentPreparationLogsNothing) {
    adb.on({"**", "start-server"}).reply("", 1).reply("");
    EXPECT_FALSE(server.preparePrivateWirelessAdbServer(true));
    EXPECT_TRUE(server.preparePrivateWirelessAdbServer(true));
    EXPECT_TRUE(logs.lines().empty());
}

TEST_F(PrivateAdbServerTest, MissingToolsAndLaunchErrorsAreStartAndRestartFailures) {
    std::filesystem::remove(adb.adbPath());  // scrcpy is needed for mirrors only
    EXPECT_FALSE(server.preparePrivateWirelessAdbServer(false));
    EXPECT_TRUE(trace.invocations().empty());  // the tool check fails before any command
    ASSERT_EQ(logs.lines().size(), 1u);
    EXPECT_EQ(logs.lines()[0],
              "投屏专用 ADB Server 启动异常，将仅在本次扫码中回退共享 5037: 缺少工具文件: " + adb.adbPath().string());

    makeAdbUnlaunchable();
    EXPECT_FALSE(server.preparePrivateWirelessAdbServer(false));  // a launch error is no exception
    EXPECT_FALSE(server.isReady());
    EXPECT_FALSE(server.restartPrivateWirelessAdbServer());
    EXPECT_EQ(logs.lines().size(), 3u);
}

TEST_F(PrivateAdbServerTest, BreakerSendsScanSessionsToTheSharedServerForFiveMinutes) {
    adb.on({"**", "start-server"}).reply("");
    EXPECT_EQ(server.preferredScanAdbServerScope(), AdbServerScope::privateMirroring);
    server.suppressPrivateWirelessAdbTemporarily("当前扫码未形成有效 transport");
    EXPECT_TRUE(logs.contains("投屏专用 16031 已短时熔断 5 分钟: 当前扫码未形成有效 transport"));
    EXPECT_TRUE(server.isReady());  // suppression leaves readiness alone

    logs.clear();
    clock.advance(Seconds(299));
    EXPECT_EQ(server.preferredScanAdbServerScope(), AdbServerScope::sharedDevelopment);
    EXPECT_EQ(logs.lines(),
              std::vector<std::string>{"投屏专用 16031 处于短时熔断，本次扫码直接使用共享 5037；不会重启共享服务。"});

    logs.clear();
    clock.advance(Seconds(2));
    EXPECT_EQ(server.preferredScanAdbServerScope(), AdbServerScope::privateMirroring);
    EXPECT_TRUE(logs.lines().empty());  // still ready: nothing ran, nothing to say
    EXPECT_EQ(trace.invocations().size(), 1u);

    // A later suppression replaces the earlier deadline.
    server.suppressPrivateWirelessAdbTemporarily("a");
    clock.advance(Seconds(200));
    server.suppressPrivateWirelessAdbTemporarily("b");
    clock.advance(Seconds(200));
    EXPECT_TRUE(server.isSuppressed());
    clock.advance(Seconds(101));
    EXPECT_FALSE(server.isSuppressed());
}

TEST_F(PrivateAdbServerTest, ResetDuringSuppressionMakesTheNextSessionStartTheServerAgain) {
    adb.on({"**", "start-server"}).reply("");
    ASSERT_TRUE(server.preparePrivateWirelessAdbServer(true));
    server.suppressPrivateWirelessAdbTemporarily("x");
    server.resetPrivateWirelessAdbCircuitBreaker("电脑网络发生变化");
    EXPECT_TRUE(logs.contains("已重置投屏专用 16031 健康状态: 电脑网络发生变化"));
    EXPECT_EQ(server.preferredScanAdbServerScope(), AdbServerScope::privateMirroring);
    EXPECT_EQ(trace.lines(), (std::vector<std::string>{"-P 16031 start-server", "-P 16031 start-server"}));
}

TEST_F(PrivateAdbServerTest, UnpreparableServerFallsBackToSharedWithTheNoRestartPromise) {
    adb.on({"**", "start-server"}).reply("error", 1);
    EXPECT_EQ(server.preferredScanAdbServerScope(), AdbServerScope::sharedDevelopment);
    EXPECT_EQ(logs.lines().back(), "本次扫码改用共享 5037；不会自动重启或清理 Android Studio 的 ADB Server。");
}

TEST_F(PrivateAdbServerTest, RestartKillsThenStartsWithTheirTimeOuts) {
    adb.on({"**", "kill-server"}).reply("error: cannot connect to daemon", 1);  // ignored
    adb.on({"**", "start-server"}).reply("").reply("", 1);
    EXPECT_TRUE(server.restartPrivateWirelessAdbServer());
    EXPECT_TRUE(server.isReady());
    EXPECT_FALSE(server.restartPrivateWirelessAdbServer());  // a failed start is not logged
    EXPECT_FALSE(server.isReady());
    EXPECT_EQ(trace.lines(), (std::vector<std::string>{"-P 16031 kill-server", "-P 16031 start-server",
                                                       "-P 16031 kill-server", "-P 16031 start-server"}));
    EXPECT_EQ(trace.timeouts(), (std::vector<double>{5.0, 8.0, 5.0, 8.0}));
    EXPECT_TRUE(logs.lines().empty());
}

TEST_F(PrivateAdbServerTest, StopLogsByExitStatusAndClosesEverything) {
    adb.on({"**", "start-server"}).reply("");
    adb.on({"**", "kill-server"}).reply("").reply("error: no daemon", 1);
    ASSERT_TRUE(server.preparePrivateWirelessAdbServer(true));
    server.suppressPrivateWirelessAdbTemporarily("x");
    logs.clear();
    server.stopPrivateWirelessAdbServer();
    EXPECT_FALSE(server.isReady());
    EXPECT_FALSE(server.isSuppressed());
    server.stopPrivateWirelessAdbServer();  // no server running: still asks, logs the status
    // The stop latches: nothing starts the server again, a scan session is cancelled.
    EXPECT_FALSE(server.preparePrivateWirelessAdbServer(false));
    EXPECT_FALSE(server.restartPrivateWirelessAdbServer());
    server.suppressPrivateWirelessAdbTemporarily("protocol fault");
    EXPECT_FALSE(server.isSuppressed());
    try {
        server.preferredScanAdbServerScope();
        ADD_FAILURE() << "a scan session chose a server after the stop";
    } catch (const MirrorError& error) {
        EXPECT_EQ(error.kind(), MirrorError::Kind::cancelled);
    }
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{"应用退出，已停止投屏专用 ADB Server: 127.0.0.1:16031",
                                                      "应用退出时未能正常停止投屏专用 ADB Server: error: no daemon"}));
    EXPECT_EQ(trace.timeouts(), (std::vector<double>{8.0, 2.0, 2.0}));
}

TEST_F(PrivateAdbServerTest, StopThatHangsIsCutAtItsTwoSecondsAndLogged) {
    adb.on({"**", "kill-server"}).hangs();
    server.stopPrivateWirelessAdbServer();
    EXPECT_EQ(logs.lines(), std::vector<std::string>{"应用退出时停止投屏专用 ADB Server 异常: 命令超时: " +
                                                     adb.adbPath().string() + " -P 16031 kill-server"});
    EXPECT_EQ(trace.timeouts(), std::vector<double>{2.0});
}

TEST_F(PrivateAdbServerTest, StartRestartAndStopNeverOverlap) {
    adb.on({"**", "start-server"}).reply("");
    adb.on({"**", "kill-server"}).reply("");
    std::atomic<int> running{0}, overlaps{0};
    runner.setCommandRunner([&, answer = adb.inProcess()](const ProcessSpec& spec, std::chrono::duration<double> t) {
        if (++running > 1) ++overlaps;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // widens the window a race needs
        auto run = answer(spec, t);
        --running;
        return run;
    });
    std::thread a([&] { server.preparePrivateWirelessAdbServer(true); });
    std::thread b([&] { server.restartPrivateWirelessAdbServer(); });
    a.join();
    b.join();
    std::thread c([&] { server.stopPrivateWirelessAdbServer(); });
    c.join();
    EXPECT_GE(adb.calls().size(), 3u);
    EXPECT_EQ(overlaps.load(), 0);
}

// A wake or a network change resets the breaker on the main thread: it never waits for a start
// in flight, and the start that ends afterwards leaves readiness to the next preparation.
TEST_F(PrivateAdbServerTest, ResetDuringAStartReturnsAtOnceAndLeavesReadinessUnknown) {
    adb.on({"**", "start-server"}).reply("");
    std::mutex gate;
    std::condition_variable changed;
    bool inFlight = false, released = false;
    runner.setCommandRunner([&, answer = adb.inProcess()](const ProcessSpec& spec, std::chrono::duration<double> t) {
        std::unique_lock lock(gate);
        inFlight = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(20), [&] { return released; });
        inFlight = false;
        return answer(spec, t);
    });
    std::thread start([&] { EXPECT_TRUE(server.preparePrivateWirelessAdbServer(true)); });
    {
        std::unique_lock lock(gate);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return inFlight; }));
    }
    server.resetPrivateWirelessAdbCircuitBreaker("系统睡眠唤醒");
    {
        std::lock_guard lock(gate);
        EXPECT_TRUE(inFlight) << "the reset waited for the start-server command";
        released = true;
    }
    changed.notify_all();
    start.join();
    EXPECT_FALSE(server.isReady());
    EXPECT_TRUE(server.preparePrivateWirelessAdbServer(true));
    EXPECT_EQ(trace.lines(), (std::vector<std::string>{"-P 16031 start-server", "-P 16031 start-server"}));
}

}  // namespace
}  // namespace orvan
