#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>

#include "foundation/MirrorError.h"
#include "mirror/MirrorSupervisor.h"
#include "support/Recorders.h"

namespace orvan {
namespace {

using testing::LogRecorder;

const ProcessExit kLost{ProcessExit::Reason::exited, 2};
constexpr const char* kDisconnected = "WARN: Device disconnected\n";

// A supervisor on a fake clock whose recovery runs on the test thread, inside mirrorEnded.
struct Rig {
    FakeClock clock;
    SharedLogSink log = std::make_shared<LogSink>();
    LogRecorder lines;
    std::vector<bool> answers;  // one per probe; silent once used up
    std::vector<double> windows;  // how long each probe was asked to watch the port
    int restarts = 0;
    std::vector<std::exception_ptr> restartFailures;  // one per restart; success once used up
    std::vector<std::string> events;
    std::vector<MirrorKey> closed;              // windows closed after a stop won the race
    std::function<void()> duringRestart;        // runs inside each restart
    std::string address = "192.168.50.7:5555";  // where the supervisor should look for the pair
    std::shared_ptr<MirrorSupervisor> supervisor;

    explicit Rig(std::function<void(std::function<void()>)> runner = [](std::function<void()> task) { task(); }) {
        lines.attach(*log);
        supervisor = MirrorSupervisor::create({
            .clock = &clock,
            .log = log,
            .answers = [this](const std::string& ip, int port, double window, const std::function<bool()>&) {
                EXPECT_EQ(ip + ":" + std::to_string(port), address);
                windows.push_back(window);
                const bool up = windows.size() <= answers.size() && answers[windows.size() - 1];
                if (!up) clock.sleepFor(Seconds(window));  // a silent port is watched for the whole window
                return up;
            },
            .onEvent = [this](const std::string& identity, const MirrorKey& key, MirrorRecoveryEvent event,
                              const std::string&) {
                EXPECT_EQ(key, MirrorKey{address});
                static const char* names[] = {"recovering", "recovered", "stopped", "cancelled"};
                events.push_back(identity + " " + names[static_cast<int>(event)]);
            },
            .closeWindow = [this](const MirrorKey& key) { closed.push_back(key); },
            .runInBackground = std::move(runner),
        });
    }
    SupervisedMirror mirror(const std::string& ip) {
        return {.identity = "G1", .name = "课堂眼镜", .processKey = {ip + ":5555"}, .ip = ip, .port = 5555,
                .restart = [this](const std::function<bool()>& shouldContinue) {
                    EXPECT_TRUE(shouldContinue());
                    if (duringRestart) duringRestart();
                    int index = restarts++;
                    if (index < static_cast<int>(restartFailures.size()) && restartFailures[index])
                        std::rethrow_exception(restartFailures[index]);
                },
                .onUsb = nullptr,
                .switchOverUsb = nullptr};
    }
    void watch() { supervisor->watch(mirror("192.168.50.7")); }
    long count(const std::string& line) const {
        auto all = lines.lines();
        return std::count(all.begin(), all.end(), line);
    }
};

TEST(MirrorSupervisorTest, OnlyATransportEndAfterReadinessRecovers) {
    struct Case {
        ProcessExit end;
        std::string output;
        bool recovers;
    } cases[] = {
        {kLost, kDisconnected, true},
        {{ProcessExit::Reason::exited, 1}, "ERROR: Stream disabled due to connection error", true},
        {{ProcessExit::Reason::exited, 0}, kDisconnected, false},  // the user closed the window
        {{ProcessExit::Reason::exited, 1}, "The server version (2.4) does not match the client (3.3.4)", false},
        {{ProcessExit::Reason::exited, 1}, "ERROR: Device is unauthorized", false},
        {{ProcessExit::Reason::signaled, 9}, kDisconnected, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        EXPECT_EQ(MirrorSupervisor::endedForTransport(c.end, c.output), c.recovers);
        Rig rig([](std::function<void()>) {});  // the loop itself is not run here
        rig.watch();
        EXPECT_FALSE(rig.supervisor->mirrorEnded({"other:5555"}, c.end, c.output));
        EXPECT_EQ(rig.supervisor->mirrorEnded({"192.168.50.7:5555"}, c.end, c.output), c.recovers);
        EXPECT_EQ(rig.supervisor->isRecovering("G1"), c.recovers);
        EXPECT_EQ(rig.supervisor->isWatched("G1"), c.recovers);  // a plain end is not supervised any more
        EXPECT_EQ(rig.count("正在恢复投屏（课堂眼镜）…"), c.recovers ? 1 : 0);
    }
}

TEST(MirrorSupervisorTest, ProbesWithBackoffAndRestartsWhenThePairAnswers) {
    struct Case {
        std::vector<bool> answers;
        std::vector<double> waits;
    } cases[] = {
        {{true}, {1}},
        {{false, false, false, true}, {1, 2, 4, 8}},
        {{false, false, false, false, false, false, true}, {1, 2, 4, 8, 10, 10, 10}},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.answers = c.answers;
        rig.watch();
        ASSERT_TRUE(rig.supervisor->mirrorEnded({"192.168.50.7:5555"}, kLost, kDisconnected));
        EXPECT_EQ(rig.windows, c.waits);
        EXPECT_EQ(rig.restarts, 1);
        EXPECT_FALSE(rig.supervisor->isRecovering("G1"));
        EXPECT_TRUE(rig.supervisor->isWatched("G1"));  // supervised again, for the next drop
        EXPECT_EQ(rig.events, (std::vector<std::string>{"G1 recovering", "G1 recovered"}));
        EXPECT_EQ(rig.count("正在恢复投屏（课堂眼镜）…"), 1);
        EXPECT_EQ(rig.count("投屏已恢复（课堂眼镜）"), 1);
    }
}

TEST(MirrorSupervisorTest, GivesUpAfterFiveMinutesWithoutAnAnswer) {
    Rig rig;
    rig.watch();
    ASSERT_TRUE(rig.supervisor->mirrorEnded({"192.168.50.7:5555"}, kLost, kDisconnected));
    std::vector<double> expected{1, 2, 4, 8};
    expected.insert(expected.end(), 28, 10.0);
    expected.push_back(5);  // the last probe ends at the five minutes
    EXPECT_EQ(rig.windows, expected);
    EXPECT_EQ(rig.restarts, 0);
    EXPECT_EQ(rig.count("投屏恢复已停止：5 分钟内眼镜没有应答"), 1);
    EXPECT_EQ(rig.events, (std::vector<std::string>{"G1 recovering", "G1 stopped"}));
    EXPECT_FALSE(rig.supervisor->isWatched("G1"));
}

TEST(MirrorSupervisorTest, RetriesTransportFailuresOnlyAndStopsOnTheOthers) {
    struct Case {
        std::exception_ptr failure;
        int restarts;
        std::string stopLine;  // empty: recovered on the second restart
    } cases[] = {
        {std::make_exception_ptr(MirrorError::of(MirrorError::Kind::scrcpyTransportLost, "lost")), 2, ""},
        {std::make_exception_ptr(MirrorError::message("connect failed")), 2, ""},
        {std::make_exception_ptr(MirrorError::of(MirrorError::Kind::deviceUnauthorized, "未授权")), 1,
         "投屏恢复已停止：未授权"},
        {std::make_exception_ptr(MirrorError::of(MirrorError::Kind::scrcpyVersionMismatch, "版本不符")), 1,
         "投屏恢复已停止：版本不符"},
        {std::make_exception_ptr(MirrorError::of(MirrorError::Kind::toolMissing, "缺少 scrcpy")), 1,
         "投屏恢复已停止：缺少 scrcpy"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.answers = {true, true};
        rig.restartFailures = {c.failure};
        rig.watch();
        ASSERT_TRUE(rig.supervisor->mirrorEnded({"192.168.50.7:5555"}, kLost, kDisconnected));
        EXPECT_EQ(rig.restarts, c.restarts);
        EXPECT_EQ(rig.supervisor->isWatched("G1"), c.stopLine.empty());
        if (!c.stopLine.empty()) {
            EXPECT_EQ(rig.count(c.stopLine), 1);
        }
        // A failed start waits its step of the ladder before the next probe, which would
        // otherwise answer at once.
        EXPECT_EQ(rig.windows, c.stopLine.empty() ? std::vector<double>({1, 2}) : std::vector<double>{1});
        EXPECT_EQ(rig.clock.sleeps(), c.stopLine.empty() ? std::vector<double>{1} : std::vector<double>{});
    }
}

// Silent at its address but attached by USB (from the third probe on): the switch over the cable
// runs once, and the mirror is supervised at the address it moved to.
TEST(MirrorSupervisorTest, APairSilentAtItsAddressButOnUsbIsSwitchedOverTheCable) {
    Rig rig;
    SupervisedMirror mirror = rig.mirror("192.168.50.7");
    int usbChecks = 0, switches = 0;
    mirror.onUsb = [&] { return ++usbChecks >= 3; };
    mirror.switchOverUsb = [&](const std::function<bool()>& shouldContinue) {
        EXPECT_TRUE(shouldContinue());
        ++switches;
        return rig.mirror("192.168.50.9");
    };
    rig.supervisor->watch(mirror);
    ASSERT_TRUE(rig.supervisor->mirrorEnded({"192.168.50.7:5555"}, kLost, kDisconnected));
    EXPECT_EQ(rig.windows, (std::vector<double>{1, 2, 4}));
    EXPECT_EQ(switches, 1);
    EXPECT_EQ(rig.restarts, 0);
    EXPECT_EQ(rig.count("投屏已恢复（课堂眼镜）"), 1);
    EXPECT_FALSE(rig.supervisor->mirrorEnded({"192.168.50.7:5555"}, kLost, kDisconnected));
    rig.address = "192.168.50.9:5555";
    rig.answers = {false, false, false, true};
    EXPECT_TRUE(rig.supervisor->mirrorEnded({"192.168.50.9:5555"}, kLost, kDisconnected));
    EXPECT_EQ(rig.restarts, 1);  // the mirror at its new address, started the plain way
}

// Real time: the loop waits on its own thread, and the stop must end it within the wait.
// The user's stop came while a restart was past its last check: the window it opened closes; a
// new start of the same glasses taking over meanwhile keeps it (it reuses that window).
TEST(MirrorSupervisorTest, AStopDuringARestartClosesTheWindowItOpened) {
    for (bool takeOver : {false, true}) {
        Rig rig;
        rig.answers = {true};
        rig.watch();
        rig.duringRestart = [&] {
            if (takeOver)
                rig.watch();
            else
                rig.supervisor->stop("G1", "用户已停止投屏");
        };
        rig.supervisor->mirrorEnded({"192.168.50.7:5555"}, kLost, kDisconnected);
        EXPECT_EQ(rig.restarts, 1);
        EXPECT_EQ(rig.closed, takeOver ? std::vector<MirrorKey>{} : std::vector<MirrorKey>{{"192.168.50.7:5555"}});
        EXPECT_EQ(rig.count("投屏已恢复（课堂眼镜）"), takeOver ? 1 : 0);  // once, by the start that took over
        // The user's stop is theirs to show: the pages are told it was cancelled, not that it ended.
        EXPECT_EQ(rig.events, (std::vector<std::string>{"G1 recovering", takeOver ? "G1 recovered" : "G1 cancelled"}));
        EXPECT_EQ(rig.count("投屏恢复已停止：用户已停止投屏"), takeOver ? 0 : 1);
    }
}

TEST(MirrorSupervisorTest, StopAndTakeOverEndARecoveryAtOnceAndNoStartFollows) {
    for (bool takeOver : {false, true}) {
        SCOPED_TRACE(takeOver ? "take-over" : "stop");
        std::promise<void> loopEnded;
        std::thread loop;
        {
            auto log = std::make_shared<LogSink>();
            LogRecorder lines;
            lines.attach(*log);
            std::atomic<int> probes{0}, restarts{0};
            std::vector<std::string> events;
            auto supervisor = MirrorSupervisor::create({
                .log = log,
                // The probe watches until the stop; the pair answers just then.
                .answers =
                    [&](const std::string&, int, double, const std::function<bool()>& go) {
                        ++probes;
                        while (go()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        return true;
                    },
                .onEvent = [&](const std::string&, const MirrorKey& key, MirrorRecoveryEvent event,
                               const std::string&) { events.push_back(key.target + " " + std::to_string(int(event))); },
                .closeWindow = nullptr,
                .runInBackground =
                    [&](std::function<void()> task) {
                        loop = std::thread([task, &loopEnded] {
                            task();
                            loopEnded.set_value();
                        });
                    },
            });
            SupervisedMirror mirror{.identity = "G1", .name = "课堂眼镜", .processKey = {"10.0.0.9:5555"},
                                    .ip = "10.0.0.9", .restart = [&](const auto&) { ++restarts; }, .onUsb = nullptr,
                                    .switchOverUsb = nullptr};
            supervisor->watch(mirror);
            ASSERT_TRUE(supervisor->mirrorEnded({"10.0.0.9:5555"}, kLost, kDisconnected));
            SupervisedMirror moved = mirror;
            moved.processKey = {"10.0.0.23:5555"};
            moved.ip = "10.0.0.23";
            if (takeOver)
                supervisor->watch(moved);  // a new scan of the same glasses, on a new lease, started it
            else
                supervisor->stop("G1", "用户已停止投屏");
            EXPECT_FALSE(supervisor->isRecovering("G1"));
            // The loop was in its first probe: it ends with it, and no start follows.
            ASSERT_EQ(loopEnded.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
            loop.join();
            EXPECT_EQ(restarts.load(), 0);
            EXPECT_LE(probes.load(), 1);
            EXPECT_EQ(supervisor->isWatched("G1"), takeOver);
            auto all = lines.lines();
            EXPECT_EQ(std::count(all.begin(), all.end(), "投屏恢复已停止：用户已停止投屏"), takeOver ? 0 : 1);
            EXPECT_EQ(std::count(all.begin(), all.end(), "投屏已恢复（课堂眼镜）"), takeOver ? 1 : 0);
            // Either way the old window's place is let go (the event of a stop by the user).
            EXPECT_EQ(events, (std::vector<std::string>{"10.0.0.9:5555 0", "10.0.0.9:5555 3"}));
        }
    }
}

}  // namespace
}  // namespace orvan
