#include "mirror/MirrorService.h"
#include "pairing/ScanConnectionEngine.h"

namespace orvan {

AdbServerScope MirrorServiceScanEngine::preferredScanAdbServerScope() {
    return service_.privateAdbServer().preferredScanAdbServerScope();
}

void MirrorServiceScanEngine::suppressPrivateWirelessAdbTemporarily(const std::string& reason) {
    service_.privateAdbServer().suppressPrivateWirelessAdbTemporarily(reason);
}

MirrorServiceScanEngine::MirrorServiceScanEngine(MirrorService& service)
    : service_(service), listings_(service.adbRunner()) {}

bool MirrorServiceScanEngine::isAdbTargetResponsive(const std::string& target, double timeout, AdbServerScope scope) {
    // The scans of a classroom look at once: they share each server's listing rather than run
    // a get-state each. Without a listing the usual probe decides.
    const auto listing = listings_.fresh(scope);
    if (!listing) return service_.targetProbe().isAdbTargetResponsive(target, timeout, scope);
    const auto state = AdbTargetProbe::stateInListing(*listing, target);
    if (!state || parseAdbTransportState(*state) != AdbTransportState::device) return false;
    return service_.targetProbe().echoesReadyMarker(target, timeout, scope);
}

std::optional<AdbTargetState> MirrorServiceScanEngine::adbTargetState(const std::string& target, AdbServerScope scope) {
    return service_.targetProbe().adbTargetState(target, scope);
}

bool MirrorServiceScanEngine::refreshWirelessAdbTargetOnce(const std::string& ip, int port, AdbServerScope scope) {
    return service_.targetReadiness().refreshWirelessAdbTargetOnce(ip, port, scope);
}

bool MirrorServiceScanEngine::tryConnectWirelessAdb(const std::string& ip, int port, const WirelessConnectCall& call) {
    return service_.wirelessAdbConnector().tryConnectWirelessAdb(ip, port, call);
}

void MirrorServiceScanEngine::startVerifiedWirelessMirror(const ConnectedAdbDevice& device,
                                                          const std::function<void()>& onRetry,
                                                          const std::function<bool()>& shouldContinue,
                                                          AdbServerScope scope) {
    service_.mirrorOrchestrator().startVerifiedWirelessMirror(device, onRetry, shouldContinue, scope);
}

void MirrorServiceScanEngine::syncWirelessTargetToSharedAdb(const std::string& ip, int port,
                                                            AdbServerScope sourceScope) {
    service_.sharedAdbSync().syncWirelessTargetToSharedAdb(ip, port, sourceScope);
}

AdbDevices MirrorServiceScanEngine::detectAdbDevices(bool silent) {
    return service_.deviceDiscovery().detectAdbDevices(silent);
}

void MirrorServiceScanEngine::endRecovery(const ConnectedAdbDevice& device, const std::string& reason) {
    service_.mirrorSupervisor().stop(device.mirrorIdentity(), reason);
}

void MirrorServiceScanEngine::stopMirror(const ConnectedAdbDevice& device) {
    service_.mirrorOrchestrator().stopMirror(device);
}

void MirrorServiceScanEngine::disconnectWirelessAdb(const std::string& ip, int port) {
    service_.mirrorOrchestrator().disconnectWirelessAdb(ip, port);
}

bool MirrorServiceScanEngine::wirelessPortAnswers(const std::string& ip, int port, double timeout) {
    return service_.localNetworkProbe().probeLocalNetworkAccess(ip, port, timeout).kind ==
           LocalNetworkProbeOutcome::Kind::reachable;
}

}  // namespace orvan
