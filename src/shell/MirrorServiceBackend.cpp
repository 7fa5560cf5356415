#include "shell/MirrorServiceBackend.h"

#include "mirror/MirrorService.h"

namespace orvan {

MirrorServiceBackend::MirrorServiceBackend(MirrorService& service, ComputerWifiName wifi)
    : service_(service), wifi_(std::move(wifi)) {}

AdbDevices MirrorServiceBackend::detectAdbDevices(bool silent) {
    return service_.deviceDiscovery().detectAdbDevices(silent);
}

AdbDevices MirrorServiceBackend::detectAdbDevicePresence(bool silent) {
    return service_.deviceDiscovery().detectAdbDevicePresence(silent);
}

std::string MirrorServiceBackend::getWlanIp(const std::string& serial, bool silent) {
    return service_.deviceDiscovery().getWlanIp(serial, silent);
}

std::optional<std::string> MirrorServiceBackend::getWlanSsid(const std::string& serial, bool silent) {
    return service_.deviceDiscovery().getWlanSsid(serial, silent);
}

std::optional<std::string> MirrorServiceBackend::getDeviceModel(const std::string& serial, bool silent) {
    return service_.deviceDiscovery().getDeviceModel(serial, silent);
}

void MirrorServiceBackend::connectWireless(const std::string& ip, int port, double timeout, bool silent) {
    service_.wirelessAdbConnector().tryConnectWirelessAdb(
        ip, port, {.timeout = timeout, .logging = silent ? Logging::silent : Logging::logged});
}

void MirrorServiceBackend::startWirelessMirror(const ConnectedAdbDevice& device, bool glassShell) {
    std::string target = glassShell ? service_.mirrorOrchestrator().startWirelessGlassShellMirror(device)
                                    : service_.mirrorOrchestrator().startWirelessMirror(device);
    service_.superviseMirror(device, target, glassShell, ActiveMirrors::displayName(device), std::nullopt);
}

void MirrorServiceBackend::stopMirror(const ConnectedAdbDevice& device) {
    service_.mirrorOrchestrator().stopMirror(device);
}

void MirrorServiceBackend::disconnect(const std::optional<ConnectedAdbDevice>& device) {
    service_.mirrorOrchestrator().disconnect(device);
}

bool MirrorServiceBackend::isMirroring(const ConnectedAdbDevice& device) {
    // A mirror that recovers keeps its tab and button.
    return service_.isMirroring(device) || service_.mirrorSupervisor().isRecovering(device.mirrorIdentity());
}

bool MirrorServiceBackend::isAudioForwardingEnabled() {
    return service_.isAudioForwardingEnabled();
}

void MirrorServiceBackend::setAudioForwardingEnabled(bool enabled) {
    service_.setAudioForwardingEnabled(enabled);
}

std::string MirrorServiceBackend::computerWifiName() {
    return wifi_.displayName();
}

}  // namespace orvan
