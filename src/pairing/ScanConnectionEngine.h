#pragma once

#include <functional>
#include <optional>
#include <string>

#include "adb/AdbDevices.h"
#include "adb/AdbServerScope.h"
#include "adb/CoalescedDeviceListing.h"
#include "adb/ConnectedAdbDevice.h"
#include "mirror/WirelessAdbConnector.h"

namespace orvan {

class MirrorService;

// The connection operations the scan flow drives, by their service names. MirrorServiceScanEngine
// forwards them to the service; tests give scripted answers. Every call may block; call them on
// a background thread.
class ScanConnectionEngine {
public:

    virtual ~ScanConnectionEngine() = default;
    virtual AdbServerScope preferredScanAdbServerScope() = 0;
    virtual void suppressPrivateWirelessAdbTemporarily(const std::string& reason) = 0;
    virtual bool isAdbTargetResponsive(const std::string& target, double timeout, AdbServerScope scope) = 0;
    virtual std::optional<AdbTargetState> adbTargetState(const std::string& target, AdbServerScope scope) = 0;
    virtual bool refreshWirelessAdbTargetOnce(const std::string& ip, int port, AdbServerScope scope) = 0;
    virtual bool tryConnectWirelessAdb(const std::string& ip, int port, const WirelessConnectCall& call) = 0;
    // Throws MirrorError.
    virtual void startVerifiedWirelessMirror(const ConnectedAdbDevice& device, const std::function<void()>& onRetry,
                                             const std::function<bool()>& shouldContinue, AdbServerScope scope) = 0;
    virtual void syncWirelessTargetToSharedAdb(const std::string& ip, int port, AdbServerScope sourceScope) = 0;
    virtual AdbDevices detectAdbDevices(bool silent) = 0;
    // Throws MirrorError.
    virtual void stopMirror(const ConnectedAdbDevice& device) = 0;
    // The glasses asked for their wireless ADB to end: a mirror of theirs that is coming back by
    // itself stops coming back, for that reason.
    virtual void endRecovery(const ConnectedAdbDevice& /*device*/, const std::string& /*reason*/) {}
    virtual void disconnectWirelessAdb(const std::string& ip, int port) = 0;
    // One TCP connect to a numeric address (never a name lookup) within `timeout` seconds.
    virtual bool wirelessPortAnswers(const std::string& ip, int port, double timeout) = 0;
};

// The engine of the running app.
class MirrorServiceScanEngine final : public ScanConnectionEngine {
public:
    explicit MirrorServiceScanEngine(MirrorService& service);
    AdbServerScope preferredScanAdbServerScope() override;
    void suppressPrivateWirelessAdbTemporarily(const std::string& reason) override;
    bool isAdbTargetResponsive(const std::string& target, double timeout, AdbServerScope scope) override;
    std::optional<AdbTargetState> adbTargetState(const std::string& target, AdbServerScope scope) override;
    bool refreshWirelessAdbTargetOnce(const std::string& ip, int port, AdbServerScope scope) override;
    bool tryConnectWirelessAdb(const std::string& ip, int port, const WirelessConnectCall& call) override;
    void startVerifiedWirelessMirror(const ConnectedAdbDevice& device, const std::function<void()>& onRetry,
                                     const std::function<bool()>& shouldContinue, AdbServerScope scope) override;
    void syncWirelessTargetToSharedAdb(const std::string& ip, int port, AdbServerScope sourceScope) override;
    AdbDevices detectAdbDevices(bool silent) override;
    void stopMirror(const ConnectedAdbDevice& device) override;
    void endRecovery(const ConnectedAdbDevice& device, const std::string& reason) override;
    void disconnectWirelessAdb(const std::string& ip, int port) override;
    bool wirelessPortAnswers(const std::string& ip, int port, double timeout) override;

private:
    MirrorService& service_;
    CoalescedDeviceListing listings_;
};

}  // namespace orvan
