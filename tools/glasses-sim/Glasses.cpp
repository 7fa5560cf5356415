#include "glasses-sim/Glasses.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

#include "glasses-sim/HttpPost.h"
#include "glasses-sim/MediaTree.h"
#include "glasses-sim/ShellProtocol.h"

namespace orvan::sim {

Glasses::Glasses(GlassesConfig config, Log& log, Scheduler& scheduler)
    : config_(std::move(config)),
      log_(log),
      scheduler_(scheduler),
      scrcpy_(config_.model, config_.videoWidth, config_.videoHeight,
              {[this](const std::string& text) { this->log(text); },
               [this](nlohmann::json json) {
                   json["event"] = "scrcpy-session";
                   event(std::move(json));
               }}),
      auth_(config_.auth),
      acceptAfterSeconds_(config_.acceptAfterSeconds),
      ssid_(config_.ssid),
      overrides_(config_.shellOverrides) {}

Glasses::~Glasses() {
    stop();
}

void Glasses::log(const std::string& text) const {
    log_.info(config_.name, text);
}

void Glasses::event(nlohmann::json json) const {
    json["device"] = config_.name;
    log_.event(json.dump());
}

void Glasses::start() {
    if (config_.storageRoot.empty()) throw std::invalid_argument("no storage root for " + config_.name);
    prepareStorageRoot(config_.storageRoot);
    storage_ = std::make_unique<DeviceStorage>(config_.storageRoot);
    if (config_.media) createMediaTree(*storage_, config_.bulkFolder, config_.bulkCount);
    for (const auto& path : config_.trustedKeyFiles) trustKeyFile(path);

    std::lock_guard endpoints(endpointMutex_);
    if (!config_.wlanAddress.empty() && config_.wlanAddress != "none") {
        wifi_ = makeWifiEndpoint(config_.wlanAddress, config_.wirelessPort);
        {
            std::lock_guard lock(mutex_);
            wlanAddress_ = wifi_->address();
        }
        wirelessWanted_ = config_.wirelessAdb;
        if (wirelessWanted_) wifi_->setState(Endpoint::State::listening);
    }
    if (config_.usb) {
        usb_ = std::make_unique<Endpoint>("127.0.0.1", config_.usbPort, [this](UniqueFd fd, std::string peer) {
            accepted(std::move(fd), std::move(peer), Side::usb);
        });
        usbWanted_ = true;
        usb_->setState(Endpoint::State::listening);
    }
}

std::unique_ptr<Endpoint> Glasses::makeWifiEndpoint(const std::string& address, std::uint16_t port) {
    auto handler = [this](UniqueFd fd, std::string peer) { accepted(std::move(fd), std::move(peer), Side::wifi); };
    if (address != "auto") return std::make_unique<Endpoint>(address, port, handler);
    // Another simulator may take the same alias between the probe and the bind: try again.
    for (int attempt = 0;; ++attempt) {
        try {
            return std::make_unique<Endpoint>(Endpoint::pickFreeLoopbackAddress(port), port, handler);
        } catch (const std::system_error&) {
            if (attempt >= 20) throw;
        }
    }
}

void Glasses::stop() {
    {
        std::lock_guard endpoints(endpointMutex_);
        wifi_.reset();
        usb_.reset();
    }
    for (const auto& connection : connectionsOn(std::nullopt)) connection->close(false);
    // Every reader ends once its socket is shut down; none may outlive this object.
    std::unique_lock lock(mutex_);
    connectionsGone_.wait(lock, [&] { return connections_.empty(); });
}

void Glasses::accepted(UniqueFd socket, std::string peer, Side side) {
    const int id = nextConnectionId_++;
    auto connection = std::make_shared<Connection>(*this, std::move(socket), peer, side, id);
    {
        std::lock_guard lock(mutex_);
        connections_.push_back(connection);
    }
    log("conn#" + std::to_string(id) + " accepted on " + sideName(side) + " from " + peer);
    event({{"event", "connected"}, {"side", sideName(side)}, {"connection", id}});
    connection->start();
}

void Glasses::connectionEnded(const std::shared_ptr<Connection>& connection, const std::string& reason) {
    // Report first: once the connection is off the list, stop() may return and end this object.
    event({{"event", "disconnected"},
           {"side", sideName(connection->side())},
           {"connection", connection->id()},
           {"reason", reason}});
    std::lock_guard lock(mutex_);
    std::erase(connections_, connection);
    connectionsGone_.notify_all();
}

std::vector<std::shared_ptr<Connection>> Glasses::connectionsOn(std::optional<Side> side) const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Connection>> result;
    for (const auto& connection : connections_) {
        if (!side || connection->side() == *side) result.push_back(connection);
    }
    return result;
}

std::string Glasses::banner() const {
    std::string features;
    for (const auto& feature : config_.features) {
        if (!features.empty()) features += ',';
        features += feature;
    }
    return config_.bannerType + "::ro.product.name=" + config_.product + ";ro.product.model=" + config_.model +
           ";ro.product.device=" + config_.device + ";features=" + features;
}

AuthMode Glasses::authMode() const {
    std::lock_guard lock(mutex_);
    return auth_;
}

SignatureVerdict Glasses::checkSignature(const std::string& token, const std::string& signature) {
    std::lock_guard lock(mutex_);
    switch (auth_) {
        case AuthMode::off:
        case AuthMode::any:
            return SignatureVerdict::accept;
        case AuthMode::hold:
            return SignatureVerdict::ignore;
        case AuthMode::never:
            return SignatureVerdict::reject;
        case AuthMode::key:
            break;
    }
    for (const auto& key : trusted_) {
        if (key.verifyTokenSignature(token, signature)) return SignatureVerdict::accept;
    }
    return SignatureVerdict::reject;
}

void Glasses::publicKeyOffered(const std::shared_ptr<Connection>& connection, const std::string& payload) {
    std::string comment;
    std::string line;
    try {
        const AdbPublicKey key = AdbPublicKey::parse(payload);
        comment = key.comment();
        line = key.line();
    } catch (const KeyFormatError& error) {
        log("ignoring a malformed public key: " + std::string(error.what()));
        return;
    }
    int acceptAfter = -1;
    {
        std::lock_guard lock(mutex_);
        if (auth_ != AuthMode::key) {
            log("public key offered, not asking the user (auth " + authModeName(auth_) + ")");
            return;
        }
        pendingKeys_.emplace_back(connection, line);
        acceptAfter = acceptAfterSeconds_;
    }
    log("asking the user to allow " + comment);
    event({{"event", "auth-prompt"}, {"connection", connection->id()}, {"comment", comment}});
    if (acceptAfter >= 0) {
        scheduler_.after(std::chrono::seconds(acceptAfter), [this] { acceptPendingKeys(); });
    }
}

int Glasses::acceptPendingKeys() {
    std::vector<std::pair<std::weak_ptr<Connection>, std::string>> pending;
    {
        std::lock_guard lock(mutex_);
        pending.swap(pendingKeys_);
    }
    for (const auto& [weak, line] : pending) trustKey(line);
    int count = 0;
    for (const auto& [weak, line] : pending) {
        if (const auto connection = weak.lock()) {
            connection->completeAuthorization();
            ++count;
        }
    }
    if (!pending.empty()) event({{"event", "authorized"}, {"keys", pending.size()}});
    return count;
}

int Glasses::denyPendingKeys() {
    std::lock_guard lock(mutex_);
    const int count = static_cast<int>(pendingKeys_.size());
    pendingKeys_.clear();
    return count;
}

void Glasses::trustKeyFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::invalid_argument("cannot read key file " + path);
    std::string line;
    std::getline(in, line);
    trustKey(line);
}

void Glasses::trustKey(const std::string& line) {
    AdbPublicKey key = AdbPublicKey::parse(line);  // throws KeyFormatError
    std::lock_guard lock(mutex_);
    for (const auto& known : trusted_) {
        if (known.base64() == key.base64()) return;
    }
    trusted_.push_back(std::move(key));
}

void Glasses::forgetKeys() {
    std::lock_guard lock(mutex_);
    trusted_.clear();
}

void Glasses::setAuth(AuthMode mode, int acceptAfterSeconds) {
    std::lock_guard lock(mutex_);
    auth_ = mode;
    acceptAfterSeconds_ = acceptAfterSeconds;
}

bool Glasses::acceptsService(const std::string& service) const {
    if (parseShellService(service)) return true;
    return service == "sync:" || service.starts_with("tcpip:") || service == "usb:" || service.starts_with("reboot:") ||
           service == "root:" || service == "unroot:";
}

ShellResult Glasses::runShell(const std::string& command) {
    ShellEnvironment env;
    {
        std::lock_guard lock(mutex_);
        const auto it = overrides_.find(command);
        if (it != overrides_.end()) {
            ShellResult result = it->second.result;
            if (it->second.remainingUses > 0 && --it->second.remainingUses == 0) overrides_.erase(it);
            log("shell (scripted): " + command);
            return result;
        }
        env.wlanAddress = wlanAddress_;
        env.ssid = ssid_;
    }
    env.properties = {{"ro.product.model", config_.model},
                      {"ro.product.name", config_.product},
                      {"ro.product.device", config_.device},
                      {"ro.product.brand", "Tervo"},
                      {"ro.serialno", config_.serialNo},
                      {"ro.boot.serialno", config_.bootSerialNo.value_or(config_.serialNo)},
                      {"ro.build.version.release", "12"},
                      {"ro.build.version.sdk", "32"},
                      {"ro.adb.secure", config_.auth == AuthMode::off ? "0" : "1"}};
    for (const auto& [key, value] : config_.extraProperties) env.properties[key] = value;
    env.cmdWifi = config_.cmdWifi;
    env.storage = storage_.get();
    ShellResult result = runShellCommand(command, env);
    log("shell: " + command + " -> " + std::to_string(result.exitCode));
    return result;
}

void Glasses::restartInTcpMode(std::uint16_t port, Side from) {
    log("restarting adbd in TCP mode on port " + std::to_string(port));
    // adbd answers, exits and comes back listening on the port; the connection that asked
    // drops with it, and a cable-attached pair shows up on the computer again.
    scheduler_.after(std::chrono::milliseconds(200), [this, port] { setWireless(true, port); });
    scheduler_.after(std::chrono::milliseconds(500), [this, from] { drop(from, false); });
    if (from == Side::usb) scheduler_.after(std::chrono::milliseconds(800), [this] { announceUsb(); });
}

void Glasses::announceUsb() {
    std::uint16_t port = 0;
    {
        std::lock_guard endpoints(endpointMutex_);
        if (!usb_ || usb_->state() != Endpoint::State::listening) return;
        port = usb_->port();
    }
    for (const int serverPort : config_.usbAnnounceTo) {
        const std::string request = "host:emulator:" + std::to_string(port);
        char prefix[5];
        std::snprintf(prefix, sizeof prefix, "%04x", static_cast<unsigned>(request.size()));
        if (sendToLoopback(serverPort, prefix + request)) {
            log("announced the USB side to the adb server on port " + std::to_string(serverPort));
        }
    }
}

void Glasses::restartInUsbMode() {
    log("restarting adbd in USB mode");
    scheduler_.after(std::chrono::milliseconds(500), [this] { setWireless(false, std::nullopt); });
}

void Glasses::reboot() {
    log("rebooting for " + std::to_string(config_.rebootSeconds) + " s");
    scheduler_.after(std::chrono::milliseconds(100), [this] {
        {
            std::lock_guard endpoints(endpointMutex_);
            if (wifi_) wifi_->setState(Endpoint::State::reserved);
            if (usb_) usb_->setState(Endpoint::State::reserved);
        }
        drop(std::nullopt, false);
        scheduler_.after(std::chrono::seconds(config_.rebootSeconds), [this] {
            std::lock_guard endpoints(endpointMutex_);
            if (wifi_ && wirelessWanted_) wifi_->setState(Endpoint::State::listening);
            if (usb_ && usbWanted_) usb_->setState(Endpoint::State::listening);
            log("back from reboot");
            scheduler_.after(std::chrono::milliseconds(0), [this] { announceUsb(); });
        });
    });
}

void Glasses::goOffline() {
    silent_ = true;
    drop(std::nullopt, false);
}

void Glasses::setSilent(bool silent) {
    silent_ = silent;
    if (!silent) {
        for (const auto& connection : connectionsOn(std::nullopt)) connection->resume();
    }
}

void Glasses::goOnline() {
    if (vanished_.exchange(false)) {
        // Connections that lived through the absence are dead on the device side: reset them.
        for (const auto& connection : connectionsOn(std::nullopt)) {
            if (connection->frozen()) connection->close(true);
        }
        std::lock_guard endpoints(endpointMutex_);
        if (wifi_ && wifi_->state() == Endpoint::State::paused) wifi_->setState(Endpoint::State::listening);
        if (usb_ && usb_->state() == Endpoint::State::paused) usb_->setState(Endpoint::State::listening);
    }
    setSilent(false);
}

void Glasses::vanish() {
    vanished_ = true;
    {
        std::lock_guard endpoints(endpointMutex_);
        if (wifi_ && wifi_->state() == Endpoint::State::listening) wifi_->setState(Endpoint::State::paused);
        if (usb_ && usb_->state() == Endpoint::State::listening) usb_->setState(Endpoint::State::paused);
    }
    for (const auto& connection : connectionsOn(std::nullopt)) connection->freeze();
}

void Glasses::drop(std::optional<Side> side, bool abrupt) {
    for (const auto& connection : connectionsOn(side)) connection->close(abrupt);
}

void Glasses::setRefusing(std::optional<Side> side, bool refusing) {
    std::lock_guard endpoints(endpointMutex_);
    if ((!side || *side == Side::wifi) && wifi_) {
        wifi_->setState(refusing || !wirelessWanted_ ? Endpoint::State::reserved : Endpoint::State::listening);
    }
    if ((!side || *side == Side::usb) && usb_) {
        usb_->setState(refusing || !usbWanted_ ? Endpoint::State::reserved : Endpoint::State::listening);
    }
}

void Glasses::setWlanAddress(const std::string& address) {
    {
        std::lock_guard endpoints(endpointMutex_);
        const std::uint16_t port = wifi_ ? wifi_->port() : config_.wirelessPort;
        wifi_.reset();
        if (address != "none" && !address.empty()) {
            wifi_ = makeWifiEndpoint(address, port);
            if (wirelessWanted_) wifi_->setState(Endpoint::State::listening);
        }
        std::lock_guard lock(mutex_);
        wlanAddress_ = wifi_ ? std::optional<std::string>(wifi_->address()) : std::nullopt;
    }
    // The old address is gone from the network: its connections die without a goodbye.
    drop(Side::wifi, true);
    log("wlan0 is now " + wlanAddress().value_or("down"));
}

void Glasses::setSsid(std::optional<std::string> ssid) {
    std::lock_guard lock(mutex_);
    ssid_ = std::move(ssid);
}

void Glasses::setWireless(bool on, std::optional<std::uint16_t> port) {
    {
        std::lock_guard endpoints(endpointMutex_);
        wirelessWanted_ = on;
        if (!wifi_) {
            log("wireless ADB " + std::string(on ? "on" : "off") + " requested, but wlan0 has no address");
            return;
        }
        if (port && *port != wifi_->port()) {
            const std::string address = wifi_->address();
            wifi_.reset();
            wifi_ = makeWifiEndpoint(address, *port);
        }
        wifi_->setState(on ? Endpoint::State::listening : Endpoint::State::reserved);
    }
    if (!on) drop(Side::wifi, false);
    log(std::string("wireless ADB ") +
        (on ? "listening on " + wlanAddress().value_or("?") + ":" + std::to_string(wirelessPort()) : "closed"));
}

void Glasses::setUsbPlugged(bool plugged) {
    {
        std::lock_guard endpoints(endpointMutex_);
        if (!usb_) {
            log("no USB side configured");
            return;
        }
        usbWanted_ = plugged;
        usb_->setState(plugged ? Endpoint::State::listening : Endpoint::State::reserved);
    }
    if (!plugged)
        drop(Side::usb, false);
    else
        announceUsb();
}

void Glasses::setShellOverride(const std::string& command, ShellOverride override) {
    std::lock_guard lock(mutex_);
    overrides_[command] = std::move(override);
}

void Glasses::clearShellOverrides(const std::optional<std::string>& command) {
    std::lock_guard lock(mutex_);
    if (command)
        overrides_.erase(*command);
    else
        overrides_.clear();
}

std::optional<std::string> Glasses::wlanAddress() const {
    std::lock_guard lock(mutex_);
    return wlanAddress_;
}

std::uint16_t Glasses::wirelessPort() const {
    std::lock_guard endpoints(endpointMutex_);
    return wifi_ ? wifi_->port() : config_.wirelessPort;
}

bool Glasses::wirelessListening() const {
    std::lock_guard endpoints(endpointMutex_);
    return wifi_ && wifi_->state() == Endpoint::State::listening;
}

std::optional<std::string> Glasses::ssid() const {
    std::lock_guard lock(mutex_);
    return ssid_;
}

nlohmann::json Glasses::describe() const {
    nlohmann::json json;
    json["name"] = config_.name;
    json["serialNo"] = config_.serialNo;
    json["model"] = config_.model;
    json["storageRoot"] = config_.storageRoot;
    {
        std::lock_guard endpoints(endpointMutex_);
        json["wlanAddress"] = wifi_ ? nlohmann::json(wifi_->address()) : nlohmann::json(nullptr);
        json["wirelessPort"] = wifi_ ? wifi_->port() : config_.wirelessPort;
        json["wireless"] = wifi_ ? stateName(wifi_->state()) : "down";
        json["usbPort"] = usb_ ? nlohmann::json(usb_->port()) : nlohmann::json(nullptr);
        json["usb"] = usb_ ? stateName(usb_->state()) : "none";
    }
    nlohmann::json connections = nlohmann::json::array();
    for (const auto& connection : connectionsOn(std::nullopt)) {
        connections.push_back({{"id", connection->id()},
                               {"side", sideName(connection->side())},
                               {"peer", connection->peer()},
                               {"state", connection->stateName()}});
    }
    json["connections"] = connections;
    std::lock_guard lock(mutex_);
    json["auth"] = authModeName(auth_);
    json["pendingKeys"] = pendingKeys_.size();
    json["trustedKeys"] = trusted_.size();
    json["ssid"] = ssid_ ? nlohmann::json(*ssid_) : nlohmann::json(nullptr);
    json["silent"] = silent_.load();
    json["stalled"] = stalled_.load();
    json["vanished"] = vanished_.load();
    json["replyDelayMs"] = replyDelayMs_.load();
    json["scrcpy"] = scrcpy_.describe();
    return json;
}

}  // namespace orvan::sim
