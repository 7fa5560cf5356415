#pragma once

// The connection engine wired to the scripted fake adb answered in-process (FakeAdb::inProcess),
// a virtual clock and a scripted port probe: exact branch tests of the readiness waits and the
// wireless connect ladder, with no child processes and no real waiting.

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "adb/AdbTargetProbe.h"
#include "adb/PrivateAdbServer.h"
#include "mirror/ConnectedTarget.h"
#include "mirror/LocalNetworkProbe.h"
#include "mirror/TargetReadiness.h"
#include "mirror/WirelessAdbConnector.h"
#include "support/FakeAdb.h"
#include "support/Recorders.h"

namespace orvan::testing {

// Answers probes from a script (the last outcome repeats; reachable when empty) and records them.
class ScriptedLocalNetworkProbe final : public LocalNetworkProbe {
public:
    struct Call {
        std::string ip;
        long long port = 0;
        double timeout = 0;
    };
    void script(std::vector<LocalNetworkProbeOutcome> outcomes) {
        std::lock_guard guard(mutex_);
        outcomes_.assign(outcomes.begin(), outcomes.end());
    }
    LocalNetworkProbeOutcome probeLocalNetworkAccess(const std::string& ip, long long port, double timeout) override {
        std::lock_guard guard(mutex_);
        calls_.push_back({ip, port, timeout});
        if (outcomes_.empty()) return LocalNetworkProbeOutcome::reachable();
        auto outcome = outcomes_.front();
        if (outcomes_.size() > 1) outcomes_.pop_front();
        return outcome;
    }
    std::vector<Call> calls() const {
        std::lock_guard guard(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<LocalNetworkProbeOutcome> outcomes_;
    std::vector<Call> calls_;
};

inline constexpr const char* kTarget = "127.0.0.2:5555";
inline constexpr const char* kTargetIp = "127.0.0.2";
inline constexpr int kTargetPort = 5555;

struct ConnectionRig {
    explicit ConnectionRig(int privatePort) : runner(adb.adbPath(), privatePort, log) {
        logs.attach(*log);
        trace.attach(runner);
        runner.setCommandRunner(adb.inProcess());
    }

    // Scripts the glasses' transport as the server sees it, driven by two scenario variables:
    // "state" ("", "device", "offline", "unauthorized") and "answers" ("yes": the echo comes
    // back; otherwise the transport is dead underneath). Add test-specific rules first: the
    // first applicable rule wins.
    void scriptTransport() {
        const std::string t = kTarget;
        adb.on({"**", "-s", t, "get-state"}).when("state", "device").reply("device");
        adb.on({"**", "-s", t, "get-state"}).when("state", "offline").reply("error: device offline", 1);
        adb.on({"**", "-s", t, "get-state"})
            .when("state", "unauthorized")
            .reply("error: device unauthorized.\nThis adb server's $ADB_VENDOR_KEYS is not set", 1);
        adb.on({"**", "-s", t, "get-state"}).reply("error: device '" + t + "' not found", 1);
        for (const char* state : {"device", "offline", "unauthorized"})
            adb.on({"**", "devices"})
                .when("state", state)
                .reply("List of devices attached\n" + t + "\t" + state + "\n");
        adb.on({"**", "devices"}).reply("List of devices attached\n\n");
        // adb leaves a transport it has alone and says so.
        for (const char* state : {"device", "offline", "unauthorized"})
            adb.on({"**", "connect", t}).when("state", state).reply("already connected to " + t);
        // As the real adb: a shell only on a transport that is "device".
        adb.on({"**", "-s", t, "shell", "echo", kAdbReadyMarker})
            .when("answers", "yes")
            .when("state", "device")
            .reply(kAdbReadyMarker);
        adb.on({"**", "-s", t, "shell", "echo", kAdbReadyMarker}).reply("error: closed", 1);
    }
    // The glasses answer through a live transport.
    void glassesOnline() {
        adb.setVariable("state", "device");
        adb.setVariable("answers", "yes");
    }

    // Commands that are not state queries or echoes: the ones a ladder is about.
    std::vector<std::string> actions() const {
        std::vector<std::string> result;
        for (const auto& line : trace.lines())
            if (!line.ends_with(" get-state") && !line.ends_with("devices") &&
                line.find(" shell echo ") == std::string::npos)
                result.push_back(line);
        return result;
    }
    // The runs of exactly this argument line.
    std::vector<RecordedInvocation> runsOf(const std::string& arguments) const {
        std::vector<RecordedInvocation> result;
        for (const auto& invocation : trace.invocations())
            if (invocation.arguments == arguments) result.push_back(invocation);
        return result;
    }
    std::vector<double> timeoutsOf(const std::string& arguments) const {
        std::vector<double> result;
        for (const auto& invocation : runsOf(arguments)) result.push_back(invocation.timeout);
        return result;
    }

    FakeAdb adb;
    FakeClock clock;
    SharedLogSink log = std::make_shared<LogSink>();
    LogRecorder logs;
    AdbRunner runner;
    InvocationRecorder trace;
    ToolLocation tools = adb.tools();
    AdbTargetProbe probe{runner};
    TargetReadiness readiness{runner, probe, clock};
    ScriptedLocalNetworkProbe network;
    PrivateAdbServer privateServer{runner, tools, clock};
    ConnectedTarget connectedTarget;
    WirelessAdbConnector connector{runner, tools, clock, probe, readiness, network, privateServer, connectedTarget};
};

}  // namespace orvan::testing
