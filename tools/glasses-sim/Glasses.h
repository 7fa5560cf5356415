#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "glasses-sim/AdbPublicKey.h"
#include "glasses-sim/Connection.h"
#include "glasses-sim/DeviceStorage.h"
#include "glasses-sim/Endpoint.h"
#include "glasses-sim/GlassesConfig.h"
#include "glasses-sim/Log.h"
#include "glasses-sim/Scheduler.h"
#include "glasses-sim/ScrcpyServer.h"
#include "glasses-sim/ShellCommands.h"

namespace orvan::sim {

enum class SignatureVerdict { accept, reject, ignore };

// One simulated pair of glasses: its identity, its two ways in (Wi-Fi side on a loopback
// alias, "USB" side on a 127.0.0.1 port), its connections, its storage and the faults a test
// has switched on. Connections call in from their threads; the control channel from its own.
class Glasses {
public:
    Glasses(GlassesConfig config, Log& log, Scheduler& scheduler);
    ~Glasses();
    Glasses(const Glasses&) = delete;
    Glasses& operator=(const Glasses&) = delete;

    // Opens the endpoints the configuration asks for.
    void start();
    // Closes every connection and endpoint; waits for the connections to end.
    void stop();

    const GlassesConfig& config() const { return config_; }
    const std::string& name() const { return config_.name; }
    const DeviceStorage& storage() const { return *storage_; }
    ScrcpyServer& scrcpy() { return scrcpy_; }
    nlohmann::json describe() const;

    // --- used by connections ---
    void log(const std::string& text) const;
    std::string banner() const;
    bool silent() const { return silent_; }
    bool stalled() const { return stalled_; }
    std::chrono::milliseconds replyDelay() const { return std::chrono::milliseconds(replyDelayMs_.load()); }
    AuthMode authMode() const;
    SignatureVerdict checkSignature(const std::string& token, const std::string& signature);
    void publicKeyOffered(const std::shared_ptr<Connection>& connection, const std::string& payload);
    bool acceptsService(const std::string& service) const;
    ShellResult runShell(const std::string& command);
    void restartInTcpMode(std::uint16_t port, Side from);
    void restartInUsbMode();
    void reboot();
    void connectionEnded(const std::shared_ptr<Connection>& connection, const std::string& reason);

    // --- faults and scripted behaviour (control channel) ---
    void goOffline();  // silent + drop: the host shows "offline"
    void goOnline();   // answers again; a vanished pair comes back
    void setSilent(bool silent);
    void vanish();  // freeze connections, stop accepting, close nothing
    void drop(std::optional<Side> side, bool abrupt);
    void setRefusing(std::optional<Side> side, bool refusing);
    void setReplyDelay(int milliseconds) { replyDelayMs_ = milliseconds; }
    void setStalled(bool stalled) { stalled_ = stalled; }
    void setWlanAddress(const std::string& address);  // "auto", an address, or "none"
    void setSsid(std::optional<std::string> ssid);
    void setAuth(AuthMode mode, int acceptAfterSeconds);
    void trustKeyFile(const std::string& path);
    void trustKey(const std::string& line);
    void forgetKeys();
    int acceptPendingKeys();
    int denyPendingKeys();
    void setWireless(bool on, std::optional<std::uint16_t> port);
    void setUsbPlugged(bool plugged);
    void setShellOverride(const std::string& command, ShellOverride override);
    void clearShellOverrides(const std::optional<std::string>& command);

    std::optional<std::string> wlanAddress() const;
    std::uint16_t wirelessPort() const;
    bool wirelessListening() const;
    std::optional<std::string> ssid() const;

private:
    void accepted(UniqueFd socket, std::string peer, Side side);
    std::vector<std::shared_ptr<Connection>> connectionsOn(std::optional<Side> side) const;
    std::unique_ptr<Endpoint> makeWifiEndpoint(const std::string& address, std::uint16_t port);
    void event(nlohmann::json json) const;
    void announceUsb();

    GlassesConfig config_;
    Log& log_;
    Scheduler& scheduler_;
    std::unique_ptr<DeviceStorage> storage_;
    ScrcpyServer scrcpy_;

    std::atomic<bool> silent_{false};
    std::atomic<bool> stalled_{false};
    std::atomic<bool> vanished_{false};
    std::atomic<int> replyDelayMs_{0};
    std::atomic<int> nextConnectionId_{1};

    mutable std::mutex mutex_;  // state below; never held while calling into a connection
    std::vector<std::shared_ptr<Connection>> connections_;
    std::condition_variable connectionsGone_;
    AuthMode auth_;
    int acceptAfterSeconds_;
    std::vector<AdbPublicKey> trusted_;
    std::vector<std::pair<std::weak_ptr<Connection>, std::string>> pendingKeys_;
    std::optional<std::string> wlanAddress_;
    std::optional<std::string> ssid_;
    std::map<std::string, ShellOverride> overrides_;

    // Endpoint changes are serialised here, apart from `mutex_`, because stopping an accept
    // loop waits for a handler that may need `mutex_`.
    mutable std::mutex endpointMutex_;
    std::unique_ptr<Endpoint> wifi_;
    std::unique_ptr<Endpoint> usb_;
    bool wirelessWanted_ = false;  // what "online" / end of reboot restores
    bool usbWanted_ = false;
};

}  // namespace orvan::sim
