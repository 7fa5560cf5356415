#include <gtest/gtest.h>

#include <atomic>

#include "pairing/RecordingQrPage.h"
#include "pairing/ScanSessionCoordinator.h"

namespace orvan {
namespace {

constexpr const char* kSession = "5A1C0E3E-0000-4000-8000-00000000000A";
constexpr const char* kOtherSession = "5A1C0E3E-0000-4000-8000-00000000000B";

WirelessAdbCallback ready(const std::string& ip = "127.0.0.2", int64_t port = 5555) {
    return {.type = "ORVAN_WIRELESS_ADB_STATUS",
            .version = 1,
            .action = "ENABLE",
            .sessionId = kSession,
            .status = "READY",
            .device = WirelessAdbCallbackDevice{.ip = ip, .adbPort = port, .adbEnabled = true, .tcpPortOpen = true}};
}

WirelessAdbCallback ackQuery() {
    auto query = ready();
    query.type = "ORVAN_WIRELESS_ADB_ACK";
    query.action = "QUERY";
    query.status = "WAITING";
    return query;
}

struct Rig {
    ManualMainQueue main;
    std::vector<std::string> lines;
    std::vector<ScanMirrorRequest> starts;
    std::atomic<bool> mirroring = false;
    std::function<void()> duringIsMirroring;
    RecordingScanStatus status;
    ScanSessionCoordinator coordinator{main, status, hooks()};
    ScanSessionHooks hooks() {
        ScanSessionHooks h;
        h.onLog = [this](const std::string& line) { lines.push_back(line); };
        h.isMirroring = [this](const ConnectedAdbDevice&) {
            if (auto hook = std::exchange(duringIsMirroring, nullptr)) hook();
            return mirroring.load();
        };
        h.adbPublicKey = [] { return std::optional<std::string>("QAAAAPUBKEY user@host"); };
        h.startWirelessMirrorFromCallback = [this](const ScanMirrorRequest& r) { starts.push_back(r); };
        return h;
    }
    Rig() { coordinator.sessionChanged("", kSession); }
    bool logged(const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
    WirelessAdbCallbackResponse handle(const WirelessAdbCallback& callback) {
        auto response = coordinator.handleWirelessAdbCallback(callback);
        main.runPending();
        return response;
    }
    std::string key(const std::string& target = "127.0.0.2:5555") { return std::string(kSession) + "|" + target; }
};

struct BadInput {
    const char* name;
    std::function<void(WirelessAdbCallback&)> spoil;
    std::string logLine;  // logged on the main thread
};

class BadCallback : public ::testing::TestWithParam<BadInput> {};

// Whatever the glasses send, the reply is the plain one, nothing starts, no key is held: the
// same glasses' proper READY afterwards still starts one task.
TEST_P(BadCallback, GetsPlainReplyAndLogLineAndHoldsNoKey) {
    Rig rig;
    auto callback = ready();
    GetParam().spoil(callback);
    const auto response = rig.handle(callback);
    EXPECT_EQ(response.mirrorStatus, "STARTING");
    EXPECT_FALSE(response.adbPublicKey);
    EXPECT_FALSE(response.alreadyMirroring);
    EXPECT_TRUE(rig.starts.empty());
    EXPECT_TRUE(rig.logged(GetParam().logLine)) << GetParam().logLine;
    for (const auto& line : rig.lines) EXPECT_EQ(line.find_first_of("\r\n\t"), std::string::npos) << line;

    EXPECT_TRUE(rig.handle(ready()).adbPublicKey);
    EXPECT_EQ(rig.starts.size(), 1u);
}

const std::string kNoDevice = "扫码投屏回调缺少有效设备信息。";
const std::string kMismatch = "扫码投屏回调会话不匹配，已忽略。";
const std::string kNasty = "line1\r\nforged [00:00:00] line\t" + std::string(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, BadCallback,
    ::testing::Values(BadInput{"noDevice", [](auto& c) { c.device.reset(); }, kNoDevice},
                      BadInput{"portClosed", [](auto& c) { c.device->tcpPortOpen = false; }, kNoDevice},
                      BadInput{"blankIp", [](auto& c) { c.device->ip = " \n "; }, kNoDevice},
                      BadInput{"ipWithLineBreak", [](auto& c) { c.device->ip = "127.0.0.2\nforged"; }, kNoDevice},
                      BadInput{"portAbsurd", [](auto& c) { c.device->adbPort = 9223372036854775807; }, kNoDevice},

                      BadInput{"unknownSession", [](auto& c) { c.sessionId = kOtherSession; },
                               "已忽略非当前会话的无线 ADB 回调: action=ENABLE, status=READY, sessionId=" +
                                   std::string(kOtherSession)},
                      BadInput{"failureWithNastyMessage",
                               [](auto& c) {
                                   c.status = "FAILED";
                                   c.errorCode = "WIFI_CONNECT_FAILED";
                                   c.message = kNasty;
                               },
                               "扫码投屏失败: status=FAILED, errorCode=WIFI_CONNECT_FAILED, message=" +
                                   ("line1  forged [00:00:00] line " + std::string(300, 'x')).substr(0, 300) +
                                   ", sessionId=" + kSession}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// What acknowledgement queries report through a task's life, and whether a later READY of the
// same glasses starts again: a stale or failed placeholder is retried, a live one is not.
TEST(ScanSessionCoordinator, AckQueriesAndRepeatedReadyFollowTheTask) {
    Rig rig;
    auto ack = [&] {
        auto r = rig.handle(ackQuery());
        return std::pair(r.adbConnected, r.mirrorStatus);
    };
    ASSERT_TRUE(rig.handle(ready()).adbPublicKey);
    EXPECT_EQ(ack(), std::pair(false, std::string("STARTING")));
    rig.coordinator.book().markConnected(rig.key());
    EXPECT_EQ(ack(), std::pair(true, std::string("STARTING")));
    EXPECT_FALSE(rig.handle(ready()).adbPublicKey);  // still pending

    rig.coordinator.updateWirelessMirrorAckStatus(rig.key(), "RUNNING", "scrcpy 已通过可靠启动判定");
    rig.coordinator.book().markRunning(rig.key());
    EXPECT_EQ(ack(), std::pair(true, std::string("RUNNING")));
    rig.mirroring = true;
    EXPECT_TRUE(rig.handle(ready()).alreadyMirroring);
    EXPECT_EQ(rig.starts.size(), 1u);

    rig.mirroring = false;  // the window ended some other way: the placeholder is stale
    EXPECT_TRUE(rig.handle(ready()).adbPublicKey);
    rig.coordinator.updateWirelessMirrorAckStatus(rig.key(), "FAILED", "x");
    EXPECT_TRUE(rig.coordinator.book().releaseAfterFailure(rig.key(), false));
    EXPECT_EQ(ack(), std::pair(false, std::string("FAILED")));
    EXPECT_TRUE(rig.handle(ready()).adbPublicKey);  // a rescan after a failure tries again
    EXPECT_EQ(rig.starts.size(), 3u);
}

// A worker of the old session that decides after the session changed must leave the new
// session's bookkeeping alone and start nothing.
TEST(ScanSessionCoordinator, LateWorkerOfReplacedSessionChangesNothing) {
    Rig rig;
    auto newReady = ready();
    newReady.sessionId = kOtherSession;
    rig.duringIsMirroring = [&] {
        rig.coordinator.sessionChanged(kSession, kOtherSession);
        ASSERT_TRUE(rig.coordinator.handleWirelessAdbCallback(newReady).adbPublicKey);
    };
    EXPECT_FALSE(rig.handle(ready()).adbPublicKey);
    EXPECT_FALSE(rig.handle(newReady).adbPublicKey);  // the new session's key survived
    EXPECT_EQ(rig.starts.size(), 1u);
    EXPECT_TRUE(rig.logged(kMismatch));
}

// Any peer on the LAN can post callbacks of made-up sessions: answered at once, never queued,
// twenty lines a minute at most; the disable code on show is no foreign session.
TEST(ScanSessionCoordinator, ForeignSessionsAreNeitherQueuedNorLoggedWithoutBound) {
    Rig rig;
    rig.coordinator.disableSessionChanged("D-1");
    auto foreign = ready();
    foreign.sessionId = kNasty;
    for (const char* action : {"ENABLE", "DISABLE"}) {
        foreign.action = action;
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(rig.coordinator.handleWirelessAdbCallback(foreign).mirrorStatus, "STARTING");
    }
    EXPECT_EQ(rig.main.runPending(), 0u);
    ASSERT_EQ(rig.lines.size(), 21u);  // with the session change
    EXPECT_LE(rig.lines.back().size(), 450u);
    foreign.sessionId = "D-1";
    rig.handle(foreign);
    EXPECT_TRUE(rig.lines.back().starts_with("收到无线 ADB 回调: action=DISABLE"));  // to the disable processing
}

}  // namespace
}  // namespace orvan
