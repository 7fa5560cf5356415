#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <fstream>
#include <future>
#include <thread>

#include "foundation/MirrorError.h"
#include "mirror/MirrorService.h"
#include "mirror/ScrcpyLauncher.h"
#include "support/ErrorOf.h"
#include "support/FakeScrcpy.h"
#include "support/FakeWindowSystem.h"
#include "support/Recorders.h"
#include "support/RegisteredWindows.h"

namespace orvan {
namespace {

using namespace std::chrono_literals;
using testing::FakeScrcpyFolder;
using testing::isLiveProcess;
using testing::waitUntilGone;
namespace fakescrcpy = testing::fakescrcpy;

constexpr const char* kTarget = "127.0.0.61:5555";
const std::string kFailureTail = "小助手已保留完整尾部输出，可在“查看日志”中检查。";

FiniteRun listing(const std::string& text) {
    return FiniteRun{false, 0, text};
}

class ScrcpyLauncherTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (!launcher_) return;
        launcher_->stopProcessKeys(launcher_->registeredProcessKeys());
        EXPECT_TRUE(testing::waitUntil([&] { return launcher_->registry().launchedChildrenNotEnded().empty(); }))
            << "a launched scrcpy is still running";
    }

    ScrcpyLauncher& launcher(FakeScrcpyFolder& folder, Clock* clock = &SystemClock::shared()) {
        log_.attach(*sink_);
        launcher_ = ScrcpyLauncher::create(ScrcpyLauncherSettings{
            folder.tools(), 15998, sink_, clock, windows_, [this] { return processList_(); }, main_, {}, {}});
        return *launcher_;
    }

    void start(const std::string& target, bool glassShell = false, std::optional<std::string> identity = std::nullopt,
               ScrcpyLauncher::ShouldContinue shouldContinue = nullptr,
               AdbServerScope scope = AdbServerScope::sharedDevelopment) {
        launcher_->startScrcpy(target, glassShell, identity, shouldContinue, scope);
    }

    // The error text of a start that must fail.
    std::string startError(const std::string& target, bool glassShell = false,
                           ScrcpyLauncher::ShouldContinue shouldContinue = nullptr) {
        return testing::errorOf([&] { start(target, glassShell, std::nullopt, shouldContinue); });
    }

    bool logged(const std::string& line) const { return log_.contains(line); }

    SharedLogSink sink_ = std::make_shared<LogSink>();
    testing::LogRecorder log_;
    std::shared_ptr<ManualMainQueue> main_ = std::make_shared<ManualMainQueue>();
    std::shared_ptr<FakeWindowSystem> windows_ = std::make_shared<FakeWindowSystem>();
    std::function<FiniteRun()> processList_ = [] { return listing(""); };
    std::shared_ptr<ScrcpyLauncher> launcher_;
};

// ---- launch, environment and readiness ---------------------------------------------------------

TEST_F(ScrcpyLauncherTest, ATextureLineMakesTheStartReadyAndRegistersTheWindow) {
    FakeScrcpyFolder folder(fakescrcpy::ready);
    auto& scrcpy = launcher(folder);
    start(kTarget);

    ASSERT_EQ(folder.runs().size(), 1u);
    pid_t pid = folder.runPids()[0];
    EXPECT_EQ(folder.arguments(), std::string("-s ") + kTarget);
    EXPECT_TRUE(logged(std::string("scrcpy 启动就绪: target=") + kTarget + ", signal=Texture"));

    EXPECT_EQ(testing::registeredPids(scrcpy), (std::map<MirrorKey, pid_t>{{{kTarget}, pid}}));
    EXPECT_EQ(testing::registeredIdentities(scrcpy).at({kTarget}), std::string("target:") + kTarget);
    EXPECT_TRUE(scrcpy.isMirroring(kTarget));
    EXPECT_TRUE(scrcpy.isAnyMirroring(kTarget));

    // The new window is raised a quarter of a second later, on the main queue.
    EXPECT_TRUE(windows_->raiseRequests().empty());
    main_->runUntil([&] { return !windows_->raiseRequests().empty(); }, 2s);
    EXPECT_EQ(windows_->raiseRequests(), std::vector<pid_t>{pid});
}

TEST_F(ScrcpyLauncherTest, PrivateScopeAudioOffAndGlassShellShapeTheLaunch) {
    FakeScrcpyFolder folder(fakescrcpy::ready);
    auto& scrcpy = launcher(folder);
    scrcpy.setAudioForwardingEnabled(false);
    std::shared_ptr<ScrcpyChild> shellChild;
    scrcpy.setOnGlassShellStarted([&](const std::shared_ptr<ScrcpyChild>& child) { shellChild = child; });

    start(kTarget, true, "device:abc", nullptr, AdbServerScope::privateMirroring);

    pid_t pid = folder.runPids().at(0);
    EXPECT_TRUE(
        folder.arguments().ends_with(" --no-audio --window-title Orvan Glass Shell --window-width=720"
                                     " --window-height=720 --window-borderless --always-on-top"));
    EXPECT_EQ(folder.environment(pid)["ADB_SERVER_SOCKET"], "tcp:127.0.0.1:15998");
    ASSERT_TRUE(shellChild);
    EXPECT_EQ(shellChild->pid(), pid);
    EXPECT_EQ(testing::registeredIdentities(scrcpy),
              (std::map<MirrorKey, std::string>{{{kTarget, MirrorWindowKind::glassShell}, "device:abc"}}));
    EXPECT_FALSE(scrcpy.isMirroring(kTarget));  // only the glasses-shell key runs
    EXPECT_TRUE(scrcpy.isAnyMirroring(kTarget));
}

TEST_F(ScrcpyLauncherTest, AWindowOfTheChildMakesItReadyAlsoAfterItClosedItsOutput) {
    FakeScrcpyFolder folder("exec >&- 2>&-; touch \"$here/closed\"; exec sleep 60");
    auto& scrcpy = launcher(folder);
    auto started = std::async(std::launch::async, [&] { start(kTarget); });
    ASSERT_TRUE(testing::waitUntil([&] { return std::filesystem::exists(folder.path() / "closed"); }));
    // Which windows count is ScrcpyWindow's rule, tested on its own.
    windows_->addWindow(WindowInfo{4, folder.runPids().at(0), 10, 10, 81, 81, 0});
    ASSERT_EQ(started.wait_for(20s), std::future_status::ready);
    started.get();
    EXPECT_TRUE(logged(std::string("scrcpy 启动就绪: target=") + kTarget + ", signal=Window"));
    EXPECT_TRUE(scrcpy.isMirroring(kTarget));

    // The glasses-shell window is kept on top at our request: the window system reports it a
    // layer up, and it counts.
    started = std::async(std::launch::async, [&] { start("127.0.0.66:5555", true); });
    ASSERT_TRUE(folder.waitForRun(2));
    windows_->addWindow(WindowInfo{5, folder.runPids().at(1), 10, 10, 720, 720, 1});
    ASSERT_EQ(started.wait_for(20s), std::future_status::ready);
    started.get();
    EXPECT_TRUE(logged("scrcpy 启动就绪: target=127.0.0.66:5555, signal=Window"));
}

// ---- failures ---------------------------------------------------------------------------------

TEST_F(ScrcpyLauncherTest, NoReadinessWithinEightSecondsEndsAndReapsTheChildWithTheSummary) {
    FakeScrcpyFolder folder(fakescrcpy::hang);
    FakeClock clock;
    auto& scrcpy = launcher(folder, &clock);
    auto outputRead = [&] {
        auto handle = scrcpy.runningScrcpyHandle({kTarget});
        return handle && handle->process &&
               handle->process->output().text().find("waiting for video") != std::string::npos;
    };
    // At 7.9 s the start still waits: cancelling every start, not the time-out, ends it.
    std::string error;
    auto started = std::async(std::launch::async, [&] { error = startError(kTarget); });
    ASSERT_TRUE(testing::waitUntil(outputRead));
    clock.advance(7.9s);
    scrcpy.cancelStartsInProgress();
    started.get();
    EXPECT_EQ(error, "扫码会话已被新二维码替换，已取消旧投屏任务。");
    EXPECT_FALSE(isLiveProcess(folder.runPids().at(0)));
    EXPECT_TRUE(scrcpy.registry().entries().empty());

    started = std::async(std::launch::async, [&] { error = startError(kTarget); });
    ASSERT_TRUE(testing::waitUntil(outputRead));
    pid_t pid = folder.runPids().at(1);
    clock.advance(8.1s);
    started.get();
    EXPECT_EQ(error, "scrcpy 启动超时，未确认视频通道就绪。 waiting for video");
    EXPECT_TRUE(testing::waitUntil([&] { return !std::filesystem::exists("/proc/" + std::to_string(pid)); }))
        << "the timed-out child was not reaped";
    EXPECT_TRUE(scrcpy.registry().entries().empty());
}

// Every way a start can end before readiness leaves nothing registered.
TEST_F(ScrcpyLauncherTest, AFailedChildGivesTheComposedFailureWithItsSummary) {
    FakeScrcpyFolder folder(
        "echo 'INFO: scrcpy 2.x'; echo 'ERROR: Server connection failed' >&2; echo 'ERROR: Could not open'; exit 1");
    auto& scrcpy = launcher(folder);
    EXPECT_EQ(startError(kTarget),
              "scrcpy 启动失败，退出码 1。 ERROR: Server connection failed | ERROR: Could not open" + kFailureTail);
    EXPECT_TRUE(scrcpy.registry().entries().empty());
    EXPECT_FALSE(scrcpy.isMirroring(kTarget));

    folder.setBehaviour("exit 7");
    EXPECT_EQ(startError(kTarget), "scrcpy 启动失败，退出码 7。" + kFailureTail);
    // Death by a signal is a failure too, named by the signal's number.
    folder.setBehaviour("echo 'about to crash'; kill -SEGV $$");
    EXPECT_EQ(startError(kTarget), "scrcpy 启动失败，退出码 11。 about to crash" + kFailureTail);
    // A normal exit during the wait is a closed window.
    folder.setBehaviour("echo 'some output'; exit 0");
    try {
        start(kTarget);
        ADD_FAILURE() << "expected scrcpyClosedAfterReady";
    } catch (const MirrorError& error) {
        EXPECT_TRUE(error.isNormalScrcpyClosure());
    }
    EXPECT_TRUE(logged(std::string("scrcpy 已正常关闭: target=") + kTarget + ", signal=ExitCode0"));
    std::filesystem::remove(folder.path() / "scrcpy");
    EXPECT_THROW(start(kTarget), LaunchError);
    EXPECT_TRUE(scrcpy.registry().entries().empty());
}

// What the real clients print for the failures the user can act on; the kind decides the retry.
// The cause comes from the whole output, whatever order stdout and stderr arrived in.
TEST_F(ScrcpyLauncherTest, TheClientsOwnWordsGiveTheFailureItsKindAndMessage) {
    using Kind = MirrorError::Kind;
    const std::string banner =
        "echo 'scrcpy 3.3.4 <https://github.com/Genymobile/scrcpy>'; echo 'INFO: ADB device found:'; ";
    struct Row {
        std::string script;
        Kind kind;
        std::string message;
    };
    const std::vector<Row> rows{
        {banner + "printf '%s\n' '[server] ERROR: The server version (1.25) does not match the client (3.3.4)' "
                  "'java.lang.IllegalArgumentException: The server version (1.25) does not match the client (3.3.4)' "
                  "'\tat com.genymobile.scrcpy.Options.parse(Options.java:1)' '\tat x' '\tat y' "
                  "'ERROR: Server connection failed' >&2; exit 1",
         Kind::scrcpyVersionMismatch, "（scrcpy-server 1.25，scrcpy 3.3.4）"},
        {banner + "printf '%s\n' 'ERROR: Device is unauthorized:' 'ERROR: Server connection failed' >&2; exit 1",
         Kind::deviceUnauthorized, "尚未允许这台电脑"},
        {banner + "printf '%s\n' 'ERROR: Device could not be connected (state=offline)' 'ERROR: Server connection "
                  "failed' >&2; exit 1",
         Kind::deviceOffline, "offline 状态（127.0.0.61:5555）"},
        {"echo 'INFO: Renderer: opengl' ; echo 'WARN: Device disconnected' >&2; exit 2", Kind::scrcpyTransportLost,
         "scrcpy 启动失败，退出码 2。 WARN: Device disconnected"},
        // "Server connection failed" alone names no cause: no retry would help.
        {banner + "echo 'ERROR: Server connection failed' >&2; exit 1", Kind::message,
         "scrcpy 启动失败，退出码 1。 ERROR: Server connection failed小助手"},
    };
    FakeScrcpyFolder folder("exit 1");
    launcher(folder);
    for (const auto& row : rows) {
        folder.setBehaviour(row.script);
        EXPECT_EQ(testing::errorKindOf<MirrorError>([&] { start(kTarget); }), row.kind) << row.script;
        EXPECT_NE(startError(kTarget).find(row.message), std::string::npos) << startError(kTarget);
    }
    // The mismatch and its exception lead the summary in the log; neither the stack nor the
    // banner crowds them out.
    EXPECT_TRUE(
        logged("scrcpy 启动失败详情: [server] ERROR: The server version (1.25) does not match the client "
               "(3.3.4) | java.lang.IllegalArgumentException: The server version (1.25) does not match the "
               "client (3.3.4) | ERROR: Server connection failed"));
}

// Only the options a client knows; a client too old or silent never starts and says why.
TEST_F(ScrcpyLauncherTest, TheClientsVersionDecidesItsOptionsAndWhetherItStarts) {
    FakeScrcpyFolder folder(fakescrcpy::ready);
    auto& scrcpy = launcher(folder);
    scrcpy.setAudioForwardingEnabled(false);
    folder.setVersion("1.25");
    start(kTarget);
    EXPECT_EQ(folder.arguments(0), std::string("-s ") + kTarget);  // 1.x forwards no sound at all
    scrcpy.stopProcessKeys({{kTarget}});

    // The version is read once per binary: a new binary is read anew.
    for (const auto& [version, text] : std::vector<std::pair<std::string, std::string>>{
             {"1.24", "scrcpy 版本过低（当前 1.24），无法投屏，需要 1.25 或更高版本。"},
             {"", "无法读取 scrcpy 的版本（"}}) {
        folder.setVersion(version);
        folder.setBehaviour(fakescrcpy::ready + " ");
        EXPECT_EQ(testing::errorKindOf<MirrorError>([&] { start("127.0.0.65:5555"); }), MirrorError::Kind::toolTooOld);
        EXPECT_NE(startError("127.0.0.65:5555").find(text), std::string::npos) << startError("127.0.0.65:5555");
    }
    EXPECT_EQ(folder.runs().size(), 1u);
}

// ---- cancellation -----------------------------------------------------------------------------

TEST_F(ScrcpyLauncherTest, AReplacedSessionCancelsBeforeAndDuringTheStart) {
    FakeScrcpyFolder folder(fakescrcpy::hang);
    auto& scrcpy = launcher(folder);
    EXPECT_EQ(startError(kTarget, false, [] { return false; }), "扫码会话已被新二维码替换，已取消旧投屏任务。");
    EXPECT_TRUE(folder.runs().empty());

    std::atomic<bool> current{true};
    std::string error;
    auto started =
        std::async(std::launch::async, [&] { error = startError(kTarget, false, [&] { return current.load(); }); });
    auto pid = folder.waitForRun();
    ASSERT_TRUE(pid);
    current = false;
    ASSERT_EQ(started.wait_for(3s), std::future_status::ready);
    started.get();
    EXPECT_EQ(error, "扫码会话已被新二维码替换，已取消旧投屏任务。");
    EXPECT_FALSE(isLiveProcess(*pid));
    EXPECT_TRUE(scrcpy.registry().entries().empty());
}

// ---- reuse ------------------------------------------------------------------------------------

TEST_F(ScrcpyLauncherTest, ASecondStartForTheSameGlassesReusesTheWindow) {
    FakeScrcpyFolder folder(fakescrcpy::ready);
    auto& scrcpy = launcher(folder);
    start(kTarget, false, "device:pair-1");
    start(kTarget);                                 // same target
    start(kTarget, true);                           // the other window kind
    start("SERIAL-USB-1", false, "device:pair-1");  // same glasses over another route
    EXPECT_EQ(folder.runs().size(), 1u);
    EXPECT_EQ(testing::registeredPids(scrcpy).size(), 1u);
    EXPECT_TRUE(scrcpy.isMirroringDevice("device:pair-1", "SERIAL-USB-1", std::nullopt));
    EXPECT_TRUE(scrcpy.isMirroringDevice("device:other", "SERIAL-USB-2", std::string(kTarget)));
    EXPECT_FALSE(scrcpy.isMirroringDevice("device:other", "SERIAL-USB-2", std::string("10.9.9.9:5555")));

    // A glasses-shell window is reused by a plain start too.
    start("127.0.0.62:5555", true);
    start("127.0.0.62:5555", false);
    EXPECT_EQ(folder.runs().size(), 2u);
}

TEST_F(ScrcpyLauncherTest, ADeadWindowIsForgottenAndANewOneStarted) {
    FakeScrcpyFolder folder(fakescrcpy::ready);
    auto& scrcpy = launcher(folder);
    start(kTarget);
    pid_t first = folder.runPids().at(0);
    ::kill(first, SIGKILL);
    ASSERT_TRUE(waitUntilGone(first));

    start(kTarget);  // the look-up finds it dead, drops it and starts anew
    ASSERT_EQ(folder.runs().size(), 2u);
    pid_t second = folder.runPids().at(1);
    EXPECT_EQ(testing::registeredPids(scrcpy).at({kTarget}), second);

    // The first child's end was reported to the main queue; the key now belongs to a newer
    // child, so that report changes nothing. The second's end, reported later, shows it came.
    std::vector<MirrorKey> ended;
    scrcpy.setOnScrcpyTerminated(
        [&](const MirrorKey& key, const std::shared_ptr<ScrcpyChild>&) { ended.push_back(key); });
    ::kill(second, SIGKILL);
    ASSERT_TRUE(main_->runUntil([&] { return !ended.empty(); }, 20s));
    main_->runPending();
    EXPECT_EQ(ended, std::vector<MirrorKey>{{kTarget}});
    EXPECT_TRUE(scrcpy.registry().entries().empty());
}

// ---- termination of a ready window ------------------------------------------------------------

TEST_F(ScrcpyLauncherTest, StartsForDifferentGlassesRunSideBySideAndOneGlassesGetsOneWindow) {
    // Each window gets ready only once the other glasses' window has started too: starts that
    // waited for each other would time out instead.
    FakeScrcpyFolder folder(
        "case \"$2\" in slow*) exec sleep 60;; esac\n"
        "while [ $(wc -l < \"$here/runs\") -lt 2 ]; do sleep 0.02; done\n"
        "echo 'INFO: Texture: 1x1'; exec sleep 60");
    auto& scrcpy = launcher(folder);
    std::vector<std::future<void>> starts;
    for (const char* target : {"127.0.0.63:5555", "127.0.0.64:5555"})
        starts.push_back(std::async(std::launch::async, [this, target] { start(target, false, "device:x"); }));
    starts.push_back(std::async(std::launch::async, [this] { start("127.0.0.63:5555", true); }));
    starts.push_back(std::async(std::launch::async, [this] { start("127.0.0.64:5555", false, "device:y"); }));
    for (auto& started : starts) started.get();
    // Same identity or same target: the later start waited for the reservation and reused.
    EXPECT_EQ(folder.runs().size(), 2u);
    EXPECT_EQ(testing::registeredPids(scrcpy).size(), 2u);

    // An end report while a start holds its reservation is handled at once on the main queue.
    std::atomic<int> reports{0};
    scrcpy.setOnScrcpyTerminated([&](const MirrorKey&, const std::shared_ptr<ScrcpyChild>&) { ++reports; });
    std::atomic<bool> current{true};
    auto slow = std::async(std::launch::async, [&] { startError("slow:5555", false, [&] { return current.load(); }); });
    ASSERT_TRUE(folder.waitForRun(3));
    ::kill(folder.runPids().at(0), SIGTERM);
    EXPECT_TRUE(main_->runUntil([&] { return reports > 0; }, 10s));
    current = false;
    slow.get();
}

// A window we stopped is not reported; one that ends by itself is, on the main queue. The second
// report is the signal that the first would have come already.
TEST_F(ScrcpyLauncherTest, AStoppedWindowIsNotReportedOneThatEndsIs) {
    FakeScrcpyFolder folder(
        "case \"$2\" in closes*) echo 'INFO: Texture: 1x1'; while [ ! -e \"$here/close\" ]; do sleep 0.02; done;"
        " exit 3;; esac\n" +
        fakescrcpy::ready);
    auto& scrcpy = launcher(folder);
    std::vector<std::pair<MirrorKey, pid_t>> reports;
    scrcpy.setOnScrcpyTerminated([&](const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& child) {
        reports.emplace_back(key, child->pid());
    });
    start(kTarget);
    pid_t stopped = folder.runPids().at(0);
    scrcpy.stopProcessKeys({{kTarget}});
    EXPECT_TRUE(waitUntilGone(stopped));
    start("closes:5555", true);
    std::ofstream(folder.path() / "close") << "";  // the window ends
    ASSERT_TRUE(main_->runUntil([&] { return !reports.empty(); }, 10s));
    main_->runPending();
    EXPECT_EQ(reports,
              (std::vector<std::pair<MirrorKey, pid_t>>{
                  {{"closes:5555", MirrorWindowKind::glassShell}, folder.runPids().at(1)}}));
    EXPECT_TRUE(scrcpy.registry().entries().empty());
}

// ---- leftovers from an earlier run ------------------------------------------------------------

class Leftover {
public:
    // One process whose command line reads like a scrcpy window of `target` (and that a
    // SIGTERM ends, like scrcpy).
    explicit Leftover(const std::string& target, const std::string& perlScript = "sleep 60",
                      std::map<std::string, std::optional<std::string>> environment = {})
        : child_(ChildProcess::launch(
              ProcessSpec{"/usr/bin/perl", {"-e", perlScript, "scrcpy", "-s", target}, std::move(environment), {}})) {}
    ~Leftover() { end(); }
    // Ends and reaps it (a leftover of an earlier run has a parent that reaps it).
    void end() {
        child_->sendSignal(SIGKILL);
        child_->waitForExit();
    }
    pid_t pid() const { return child_->pid(); }
    bool ended() { return !child_->isRunning(); }

private:
    std::unique_ptr<ChildProcess> child_;
};

// A pid written to `file` by a process that is starting.
pid_t pidWrittenTo(const std::filesystem::path& file) {
    pid_t pid = 0;
    if (!testing::waitUntil([&] { return std::ifstream(file) >> pid && pid > 0; }))
        throw std::runtime_error("no pid in " + file.string());
    return pid;
}

// scrcpy forks to run adb, and the fork shows scrcpy's command line until it runs adb: one
// leftover window and its fork are one window, adopted, and nothing is killed.
TEST_F(ScrcpyLauncherTest, ASingleLeftoverIsAdoptedNotKilledAndItsForkIsNoWindow) {
    FakeScrcpyFolder folder(fakescrcpy::ready);
    const auto forkFile = folder.path() / "leftover-fork";
    Leftover leftover(kTarget,
                      "if (my $p = fork) { open(my $f, '>', $ENV{FORK_FILE}); print $f $p; close $f } sleep 60",
                      {{"FORK_FILE", forkFile.string()}});
    const pid_t leftoverFork = pidWrittenTo(forkFile);
    processList_ = [&] {
        return listing("  1 /sbin/init\n " + std::to_string(leftover.pid()) + " /opt/scrcpy -s " + kTarget +
                       " --no-audio\n" + std::to_string(leftoverFork) + " /opt/scrcpy -s " + kTarget + "\n");
    };
    auto& scrcpy = launcher(folder);
    start(kTarget, false, "device:left");

    EXPECT_TRUE(folder.runs().empty());
    EXPECT_EQ(testing::registeredPids(scrcpy, true), (std::map<MirrorKey, pid_t>{{{kTarget}, leftover.pid()}}));
    EXPECT_TRUE(isLiveProcess(leftoverFork));
    EXPECT_EQ(testing::registeredIdentities(scrcpy).at({kTarget}), "device:left");
    EXPECT_TRUE(testing::registeredPids(scrcpy).empty());
    main_->runPending();  // an adopted window is raised at once
    EXPECT_EQ(windows_->raiseRequests(), std::vector<pid_t>{leftover.pid()});

    EXPECT_TRUE(scrcpy.isMirroring(kTarget));
    leftover.end();
    EXPECT_FALSE(scrcpy.isMirroring(kTarget));  // found dead, dropped
    EXPECT_TRUE(scrcpy.registry().entries().empty());
    ::kill(leftoverFork, SIGKILL);
}

TEST_F(ScrcpyLauncherTest, TwoOrMoreLeftoversAreEndedAndANewWindowStarts) {
    FakeScrcpyFolder folder(fakescrcpy::ready);
    Leftover first(kTarget), second(kTarget);
    processList_ = [&] {
        return listing(std::to_string(first.pid()) + " /opt/scrcpy -s " + kTarget + "\n" +
                       std::to_string(second.pid()) + " /opt/scrcpy -s " + kTarget + " --always-on-top\n");
    };
    auto& scrcpy = launcher(folder);
    start(kTarget);

    EXPECT_TRUE(first.ended());
    EXPECT_TRUE(second.ended());
    EXPECT_EQ(folder.runs().size(), 1u);
    EXPECT_EQ(testing::registeredPids(scrcpy).size(), 1u);
}

TEST_F(ScrcpyLauncherTest, TheForkOfOurOwnWindowIsNoLeftover) {
    FakeScrcpyFolder folder("echo 'INFO: Texture: 1280x720'; sleep 60 & echo $! > \"$here/fork\"; wait");
    auto& scrcpy = launcher(folder);
    start("127.0.0.63:5555");
    const pid_t ourFork = pidWrittenTo(folder.path() / "fork");
    processList_ = [&] { return listing(std::to_string(ourFork) + " /x/scrcpy -s 127.0.0.64:5555\n"); };
    start("127.0.0.64:5555");
    EXPECT_EQ(folder.runs().size(), 2u) << "the fork of our own window is not adopted as a leftover";
    EXPECT_EQ(testing::registeredPids(scrcpy, true).count({"127.0.0.64:5555"}), 0u);
    EXPECT_TRUE(isLiveProcess(ourFork));
    ::kill(ourFork, SIGKILL);
}

TEST_F(ScrcpyLauncherTest, AProcessListThatFailsCountsAsNoLeftover) {
    FakeScrcpyFolder folder(fakescrcpy::ready);
    Leftover leftover(kTarget);
    std::string line = std::to_string(leftover.pid()) + " /x/scrcpy -s " + kTarget + "\n";
    auto& scrcpy = launcher(folder);
    processList_ = []() -> FiniteRun { throw LaunchError(LaunchError::Reason::notFound, ENOENT, "/bin/ps"); };
    start(kTarget);
    for (const FiniteRun& failed :
         {FiniteRun{false, 1, line}, FiniteRun{false, 0, line + "\xff\xfe"}, FiniteRun{true, 0, ""}}) {
        scrcpy.stopProcessKeys(scrcpy.registeredProcessKeys());
        processList_ = [failed] { return failed; };
        start(kTarget);
    }
    EXPECT_EQ(folder.runs().size(), 4u);
    EXPECT_FALSE(leftover.ended());
}

}  // namespace
}  // namespace orvan

namespace orvan {
namespace {

// The quit ends a window that ignores the request through its own handle (reaped, so no
// recycled pid is ever signalled), and latches: a start afterwards launches nothing.
TEST(MirrorServiceTerminationTest, AStubbornWindowIsReapedAndLaterStartsAreCancelled) {
    testing::FakeScrcpyFolder folder("trap '' TERM; " + testing::fakescrcpy::ready);
    MirrorService service({.tools = folder.tools(),
                           .privatePort = 16079,
                           .windows = std::make_shared<FakeWindowSystem>(),
                           // No leftover windows: the real process list would show the other
                           // tests' windows of the same target, to adopt and end.
                           .processList = [] { return FiniteRun{}; },
                           .mainQueue = std::make_shared<ManualMainQueue>()});
    service.startMirror(kTarget);
    service.beginTermination();
    service.finishTermination(std::chrono::milliseconds(200));
    EXPECT_TRUE(service.scrcpyLauncher().registry().launchedChildrenNotEnded().empty()) << "ended but not reaped";
    EXPECT_EQ(testing::errorKindOf<MirrorError>([&] { service.startMirror(kTarget); }), MirrorError::Kind::cancelled);
    EXPECT_EQ(folder.runPids().size(), 1u);
}

}  // namespace
}  // namespace orvan
