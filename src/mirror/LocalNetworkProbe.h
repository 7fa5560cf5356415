#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>

#include "platform/Dispatch.h"

namespace orvan {

// Result of a TCP probe of the glasses' ADB port.
struct LocalNetworkProbeOutcome {
    enum class Kind { unavailable, reachable, denied };
    Kind kind = Kind::unavailable;
    std::string reason;  // unavailable only: why

    static LocalNetworkProbeOutcome reachable() { return {Kind::reachable, {}}; }
    static LocalNetworkProbeOutcome denied() { return {Kind::denied, {}}; }
    static LocalNetworkProbeOutcome unavailable(std::string reason) { return {Kind::unavailable, std::move(reason)}; }
    bool operator==(const LocalNetworkProbeOutcome&) const = default;
};

// One probe's meeting point between the waiting caller and the connection's events. The first
// decided outcome wins; the semaphore is signalled at most once.
struct LocalNetworkProbeState {
    std::counting_semaphore<> semaphore{0};
    std::mutex lock;
    std::optional<LocalNetworkProbeOutcome> outcome;
    bool sawLocalNetworkDenial = false;
    std::string lastError;

    void finish(LocalNetworkProbeOutcome decided);
};

// Tells whether the glasses' ADB port answers before the slow `adb connect` is tried, and holds
// the app's knowledge of whether the system granted local-network access.
//
// On Linux no privacy layer stands between the app and the LAN: the probe is a plain
// non-blocking TCP connect run on a background thread of its own, giving `reachable` or
// `unavailable` with the system's error text; `denied` never occurs here (the outcome exists
// for the callers' logic, and tests inject it). Probes from several threads run side by side;
// each keeps its own deadline, whatever the others wait for.
class LocalNetworkProbe {
public:
    LocalNetworkProbe();
    virtual ~LocalNetworkProbe();
    LocalNetworkProbe(const LocalNetworkProbe&) = delete;
    LocalNetworkProbe& operator=(const LocalNetworkProbe&) = delete;

    // Blocks for at most `timeout` seconds (real time) plus the cancellation. A port outside
    // 0..65535 gives unavailable "无效端口: <port>" without any connection; an IP text that is not
    // a numeric address gives unavailable with the resolver's text.
    virtual LocalNetworkProbeOutcome probeLocalNetworkAccess(const std::string& ip, long long port, double timeout);

    void setLocalNetworkPermissionConfirmed(bool confirmed);
    bool isLocalNetworkPermissionConfirmed() const;

private:
    mutable std::mutex localNetworkPermissionStateLock_;
    bool localNetworkPermissionConfirmed_ = false;
};

}  // namespace orvan
