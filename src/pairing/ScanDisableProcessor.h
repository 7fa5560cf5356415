#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "adb/AdbDevices.h"
#include "foundation/LogSink.h"
#include "pairing/ScanConnectionEngine.h"
#include "pairing/WirelessAdbCallback.h"
#include "pairing/ScanDisableCode.h"
#include "platform/Dispatch.h"

namespace orvan {

// The application's side of a disable report; all called on the main thread.
struct ScanDisableHooks {
    LogFunction onLog{};
    std::function<void(const std::string&)> setMainStatus{};
    // The running mirrors by their key, and the removal of one.
    std::function<std::map<std::string, ConnectedAdbDevice>()> activeMirrorDevices{};
    std::function<void(const std::string&)> removeActiveMirrorDevice{};
    std::function<void(const AdbDevices&)> refreshDeviceTabs{};
    std::function<void()> refreshRunningMirrors{};
};

// Glasses that scanned the disable code report DISABLED: their mirror stops, wireless ADB is
// disconnected from both servers and the page returns to the enable code. Afterwards the port
// is tried once, because glasses that report success but keep it open would otherwise go
// unnoticed. Create with std::make_shared: the background step holds it.
class ScanDisableProcessor : public std::enable_shared_from_this<ScanDisableProcessor> {
public:
    static constexpr double kPortCheckTimeout = 1.0;

    ScanDisableProcessor(ScanConnectionEngine& engine, std::weak_ptr<ScanDisableCode> controller,
                         MainQueue& mainQueue, ScanDisableHooks hooks);

    // Main thread.
    void processDisableWirelessAdbCallback(const WirelessAdbCallback& callback);

private:
    struct Outcome {
        std::optional<std::string> error;  // the first failure of stop and disconnect
        AdbDevices devices;
        bool portStillAnswers = false;
    };
    Outcome stopAndDisconnect(const ConnectedAdbDevice& device, const std::string& ip, int port);
    void finish(const std::string& ip, int port, const ConnectedAdbDevice& device, const Outcome& outcome);
    void fail(const std::string& reason);
    void log(const std::string& line) const;

    ScanConnectionEngine& engine_;
    std::weak_ptr<ScanDisableCode> controller_;
    MainQueue& main_;
    ScanDisableHooks hooks_;
};

}  // namespace orvan
