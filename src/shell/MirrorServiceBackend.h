#pragma once

#include "network/ComputerWifiName.h"
#include "shell/ManualPageController.h"

namespace orvan {

class MirrorService;

// The manual page's requests, answered by the service.
class MirrorServiceBackend final : public ManualPageBackend {
public:
    MirrorServiceBackend(MirrorService& service, ComputerWifiName wifi = ComputerWifiName());

    AdbDevices detectAdbDevices(bool silent) override;
    AdbDevices detectAdbDevicePresence(bool silent) override;
    std::string getWlanIp(const std::string& serial, bool silent) override;
    std::optional<std::string> getWlanSsid(const std::string& serial, bool silent) override;
    std::optional<std::string> getDeviceModel(const std::string& serial, bool silent) override;
    void connectWireless(const std::string& ip, int port, double timeout, bool silent) override;
    void startWirelessMirror(const ConnectedAdbDevice& device, bool glassShell) override;
    void stopMirror(const ConnectedAdbDevice& device) override;
    void disconnect(const std::optional<ConnectedAdbDevice>& device) override;
    bool isMirroring(const ConnectedAdbDevice& device) override;
    bool isAudioForwardingEnabled() override;
    void setAudioForwardingEnabled(bool enabled) override;
    std::string computerWifiName() override;

private:
    MirrorService& service_;
    ComputerWifiName wifi_;
};

}  // namespace orvan
