#include "glasses-sim/Simulator.h"

#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "glasses-sim/ScanSession.h"
#include "glasses-sim/ShellProtocol.h"

namespace orvan::sim {
namespace {

std::optional<Side> parseSide(const std::string& text) {
    if (text == "wifi") return Side::wifi;
    if (text == "usb") return Side::usb;
    if (text == "all") return std::nullopt;
    throw std::invalid_argument("side must be wifi, usb or all: " + text);
}

bool parseOnOff(const std::string& text) {
    if (text == "on") return true;
    if (text == "off") return false;
    throw std::invalid_argument("expected on or off: " + text);
}

int parseInt(const std::string& text) {
    std::size_t used = 0;
    const int value = std::stoi(text, &used);
    if (used != text.size()) throw std::invalid_argument("not a number: " + text);
    return value;
}

const std::string& arg(const std::vector<std::string>& words, std::size_t index, const char* what) {
    if (index >= words.size()) throw std::invalid_argument(std::string("missing ") + what);
    return words[index];
}

// The raw text after the first `count` blank-separated words (JSON arguments keep their spaces).
std::string restAfterWords(const std::string& line, int count) {
    std::size_t at = 0;
    for (int i = 0; i < count; ++i) {
        at = line.find_first_not_of(" \t", at);
        at = line.find_first_of(" \t", at == std::string::npos ? line.size() : at);
        if (at == std::string::npos) return {};
    }
    const std::size_t start = line.find_first_not_of(" \t", at);
    return start == std::string::npos ? std::string() : line.substr(start);
}

constexpr const char* kHelp =
    "commands: add <json> | list | status <dev> | offline <dev> | online <dev> | silent <dev> on|off | "
    "vanish <dev> | drop <dev> [wifi|usb|all] [clean|abrupt] | refuse <dev> [wifi|usb|all] on|off | "
    "wlan <dev> <address|auto|none> | ssid <dev> <name|none> | delay <dev> <ms> | stall <dev> on|off | "
    "auth <dev> off|any|key|never|hold [acceptAfterSeconds] | auth-accept <dev> | auth-deny <dev> | "
    "trust <dev> <adbkey.pub> | untrust <dev> | wireless <dev> on|off [port] | usb <dev> plug|unplug | "
    "rm <dev> <path> | mv <dev> <from> <to> | mkfile <dev> <path> <bytes> | shell-set <dev> <json> | "
    "shell-clear <dev> [command] | scan <dev> [key=value...] -- <payload> | "
    "scan-png <dev> [key=value...] <png> | scrcpy-size <dev> <WxH> | scrcpy-mismatch <dev> <version>|off | "
    "quit";

}  // namespace

Simulator::Simulator(Log& log, std::string stateDir) : log_(log), stateDir_(std::move(stateDir)) {}

Simulator::~Simulator() {
    shutdown();
}

nlohmann::json Simulator::add(const nlohmann::json& json) {
    GlassesConfig config = parseGlassesConfig(json);
    if (config.storageRoot.empty()) config.storageRoot = stateDir_ + "/" + config.name;
    {
        std::lock_guard lock(mutex_);
        if (glasses_.count(config.name)) throw std::invalid_argument("a pair named " + config.name + " exists");
    }
    auto glasses = std::make_unique<Glasses>(std::move(config), log_, scheduler_);
    glasses->start();
    nlohmann::json description = glasses->describe();
    std::lock_guard lock(mutex_);
    glasses_[glasses->name()] = std::move(glasses);
    return description;
}

nlohmann::json Simulator::describeAll() const {
    std::lock_guard lock(mutex_);
    nlohmann::json all = nlohmann::json::array();
    for (const auto& [name, glasses] : glasses_) all.push_back(glasses->describe());
    return all;
}

Glasses& Simulator::find(const std::string& name) {
    std::lock_guard lock(mutex_);
    const auto it = glasses_.find(name);
    if (it == glasses_.end()) throw std::invalid_argument("no glasses named " + name);
    return *it->second;
}

void Simulator::shutdown() {
    cancelled_ = true;
    scheduler_.stop();
    std::vector<std::thread> scans;
    {
        std::lock_guard lock(mutex_);
        scans.swap(scans_);
    }
    for (auto& scan : scans) scan.join();
    std::map<std::string, std::unique_ptr<Glasses>> glasses;
    {
        std::lock_guard lock(mutex_);
        glasses.swap(glasses_);
    }
    for (auto& [name, pair] : glasses) pair->stop();
}

std::string Simulator::startScan(Glasses& glasses, const std::vector<std::string>& options,
                                 const std::string& payloadText) {
    ScanOptions scanOptions;
    scanOptions.cancelled = &cancelled_;
    for (const auto& option : options) {
        const std::size_t eq = option.find('=');
        if (eq == std::string::npos) throw std::invalid_argument("scan option must be key=value: " + option);
        const std::string key = option.substr(0, eq), value = option.substr(eq + 1);
        if (key == "callback")
            scanOptions.callbackAddress = value;
        else if (key == "pollMs")
            scanOptions.pollInterval = std::chrono::milliseconds(parseInt(value));
        else if (key == "polls")
            scanOptions.maxPolls = parseInt(value);
        else if (key == "fail")
            scanOptions.failCode = value;
        else if (key == "message")
            scanOptions.failMessage = value;
        else if (key == "adbEnabled")
            scanOptions.adbEnabled = parseOnOff(value);
        else if (key == "tcpPortOpen")
            scanOptions.tcpPortOpen = parseOnOff(value);
        else
            throw std::invalid_argument("unknown scan option " + key);
    }
    ScanPayload payload = parseScanPayload(payloadText);
    const int id = nextScanId_++;
    std::lock_guard lock(mutex_);
    scans_.emplace_back([this, &glasses, id, payload = std::move(payload), scanOptions]() mutable {
        ScanSession(glasses, log_, id, std::move(payload), scanOptions).run();
    });
    return nlohmann::json({{"scan", id}}).dump();
}

std::string Simulator::execute(const std::string& line) {
    try {
        // The scan payload is taken verbatim after " -- ", since it is JSON with its own quoting.
        std::string head = line, payload;
        if (const std::size_t marker = line.find(" -- "); marker != std::string::npos) {
            head = line.substr(0, marker);
            payload = line.substr(marker + 4);
        }
        const auto parsed = splitShellWords(head);
        if (!parsed) throw std::invalid_argument("unbalanced quotes");
        const std::vector<std::string>& w = *parsed;
        if (w.empty()) return "error empty command";
        const std::string& command = w[0];
        if (command == "help") return std::string("ok ") + nlohmann::json(kHelp).dump();
        if (command == "quit") {
            quit_ = true;
            return "ok {}";
        }
        if (command == "list") return "ok " + describeAll().dump();
        if (command == "add") {
            return "ok " + add(nlohmann::json::parse(restAfterWords(line, 1))).dump();
        }
        Glasses& g = find(arg(w, 1, "device name"));
        auto okStatus = [&] { return "ok " + g.describe().dump(); };
        if (command == "status") return okStatus();
        if (command == "offline") {
            g.goOffline();
            return okStatus();
        }
        if (command == "online") {
            g.goOnline();
            return okStatus();
        }
        if (command == "silent") {
            g.setSilent(parseOnOff(arg(w, 2, "on|off")));
            return okStatus();
        }
        if (command == "vanish") {
            g.vanish();
            return okStatus();
        }
        if (command == "drop") {
            g.drop(parseSide(w.size() > 2 ? w[2] : "all"), w.size() > 3 && w[3] == "abrupt");
            return okStatus();
        }
        if (command == "refuse") {
            const bool twoArgs = w.size() > 3;
            g.setRefusing(parseSide(twoArgs ? w[2] : "all"), parseOnOff(arg(w, twoArgs ? 3 : 2, "on|off")));
            return okStatus();
        }
        if (command == "wlan") {
            g.setWlanAddress(arg(w, 2, "address"));
            return okStatus();
        }
        if (command == "ssid") {
            const std::string& ssid = arg(w, 2, "ssid");
            g.setSsid(ssid == "none" ? std::nullopt : std::optional<std::string>(ssid));
            return okStatus();
        }
        if (command == "delay") {
            g.setReplyDelay(parseInt(arg(w, 2, "milliseconds")));
            return okStatus();
        }
        if (command == "stall") {
            g.setStalled(parseOnOff(arg(w, 2, "on|off")));
            return okStatus();
        }
        if (command == "auth") {
            const auto mode = parseAuthMode(arg(w, 2, "mode"));
            if (!mode) throw std::invalid_argument("unknown auth mode " + w[2]);
            g.setAuth(*mode, w.size() > 3 ? parseInt(w[3]) : -1);
            return okStatus();
        }
        if (command == "auth-accept") return "ok " + nlohmann::json({{"accepted", g.acceptPendingKeys()}}).dump();
        if (command == "auth-deny") return "ok " + nlohmann::json({{"denied", g.denyPendingKeys()}}).dump();
        if (command == "trust") {
            g.trustKeyFile(arg(w, 2, "key file"));
            return okStatus();
        }
        if (command == "untrust") {
            g.forgetKeys();
            return okStatus();
        }
        if (command == "wireless") {
            const bool on = parseOnOff(arg(w, 2, "on|off"));
            std::optional<std::uint16_t> port;
            if (w.size() > 3) port = static_cast<std::uint16_t>(parseInt(w[3]));
            g.setWireless(on, port);
            return okStatus();
        }
        if (command == "usb") {
            const std::string& what = arg(w, 2, "plug|unplug");
            if (what != "plug" && what != "unplug") throw std::invalid_argument("usb takes plug or unplug");
            g.setUsbPlugged(what == "plug");
            return okStatus();
        }
        if (command == "rm") {
            const int error = g.storage().remove(arg(w, 2, "path"));
            if (error != 0) return "error rm " + w[2] + ": " + std::strerror(error);
            return "ok {}";
        }
        if (command == "mv") {
            const int error = g.storage().rename(arg(w, 2, "source"), arg(w, 3, "target"));
            if (error != 0) return "error mv " + w[2] + ": " + std::strerror(error);
            return "ok {}";
        }
        if (command == "mkfile") {
            const long long size = std::stoll(arg(w, 3, "size"));
            std::string bytes(static_cast<std::size_t>(size), '\0');
            std::uint32_t state = 2463534242u;  // xorshift: incompressible, reproducible content
            for (auto& byte : bytes) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                byte = static_cast<char>(state);
            }
            const int error = g.storage().writeWholeFile(w[2], bytes, 0);
            if (error != 0) return "error mkfile " + w[2] + ": " + std::strerror(error);
            return "ok " + nlohmann::json({{"hostPath", g.storage().hostPath(w[2])}}).dump();
        }
        if (command == "shell-set") {
            std::string shellCommand;
            ShellOverride override = parseShellOverride(nlohmann::json::parse(restAfterWords(line, 2)), shellCommand);
            g.setShellOverride(shellCommand, std::move(override));
            return "ok {}";
        }
        if (command == "shell-clear") {
            const std::string rest = restAfterWords(line, 2);
            g.clearShellOverrides(rest.empty() ? std::nullopt : std::optional<std::string>(rest));
            return "ok {}";
        }
        if (command == "scrcpy-size") {
            const auto [width, height] = parseVideoSize(arg(w, 2, "WxH"));
            g.scrcpy().setVideoSize(width, height);
            return okStatus();
        }
        if (command == "scrcpy-mismatch") {
            const std::string& version = arg(w, 2, "server version or off");
            g.scrcpy().setMismatch(version == "off" ? std::nullopt : std::optional<std::string>(version));
            return okStatus();
        }
        if (command == "scan") {
            if (payload.empty()) throw std::invalid_argument("scan needs ' -- <payload>'");
            return "ok " + startScan(g, std::vector<std::string>(w.begin() + 2, w.end()), payload);
        }
        if (command == "scan-png") {
            if (w.size() < 3) throw std::invalid_argument("scan-png needs a PNG path");
            const std::string text = decodeQrImage(w.back());
            return "ok " + startScan(g, std::vector<std::string>(w.begin() + 2, w.end() - 1), text);
        }
        return "error unknown command " + command + "; " + kHelp;
    } catch (const std::exception& error) {
        return std::string("error ") + error.what();
    }
}

}  // namespace orvan::sim
