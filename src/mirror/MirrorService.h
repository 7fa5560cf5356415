#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adb/AdbRunner.h"
#include "adb/DeviceDiscovery.h"
#include "foundation/LogSink.h"
#include "foundation/ToolLocation.h"
#include "adb/AdbTargetProbe.h"
#include "adb/PrivateAdbServer.h"
#include "mirror/ConnectedTarget.h"
#include "mirror/LocalNetworkProbe.h"
#include "mirror/TargetReadiness.h"
#include "mirror/WirelessAdbConnector.h"
#include "platform/Clock.h"

namespace orvan {

struct MirrorServiceOptions {
    ToolLocation tools = ToolLocation::standard();
    int privatePort = kPrivateMirroringPort;  // tests use a free port of their own
    Clock* clock = &SystemClock::shared();
};

// Owns all process and server state of the app: the tool locations, the adb runner and the
// components built on it. A small facade: each operation lives on the component that owns it.
class MirrorService {
public:
    explicit MirrorService(MirrorServiceOptions options = {});
    MirrorService(const MirrorService&) = delete;
    MirrorService& operator=(const MirrorService&) = delete;
    ~MirrorService();

    const ToolLocation& tools() const { return tools_; }
    const std::filesystem::path& adb() const { return tools_.adb; }
    const std::filesystem::path& scrcpy() const { return tools_.scrcpy; }
    int privatePort() const { return runner_.privatePort(); }
    Clock& clock() const { return *clock_; }

    // The first step of every operation that runs a tool.
    void checkTools() const { tools_.checkTools(); }

    // The service's `onLog`; components share this sink.
    void setOnLog(LogFunction function) { log_->set(std::move(function)); }
    const SharedLogSink& log() const { return log_; }

    const AdbRunner& adbRunner() const { return runner_; }
    AdbRunner& adbRunner() { return runner_; }
    CommandResult runAdb(const std::vector<std::string>& arguments, double timeout, bool check,
                         const std::optional<std::string>& serial, bool logCommand, AdbServerScope scope) const {
        return runner_.runAdb(arguments, timeout, check, serial, logCommand, scope);
    }

    // Device discovery and device details (always on the shared server).
    const DeviceDiscovery& deviceDiscovery() const { return discovery_; }

    // The connection engine: the private mirroring server and its breaker, the state and echo
    // probe, readiness and authorization waits, the local-network probe and permission flag, the
    // wireless connect, and the target it last connected.
    PrivateAdbServer& privateAdbServer() { return privateServer_; }
    const AdbTargetProbe& targetProbe() const { return targetProbe_; }
    const TargetReadiness& targetReadiness() const { return readiness_; }
    LocalNetworkProbe& localNetworkProbe() { return localNetwork_; }
    const WirelessAdbConnector& wirelessAdbConnector() const { return connector_; }
    ConnectedTarget& connectedTarget() { return connectedTarget_; }

private:
    ToolLocation tools_;
    Clock* clock_;
    SharedLogSink log_ = std::make_shared<LogSink>();
    AdbRunner runner_;
    DeviceDiscovery discovery_{runner_, tools_};
    AdbTargetProbe targetProbe_{runner_};
    PrivateAdbServer privateServer_{runner_, tools_, *clock_};
    LocalNetworkProbe localNetwork_;
    ConnectedTarget connectedTarget_;
    TargetReadiness readiness_{runner_, targetProbe_, *clock_};
    WirelessAdbConnector connector_{runner_, tools_, *clock_, targetProbe_, readiness_, localNetwork_, privateServer_, connectedTarget_};
};

}  // namespace orvan
