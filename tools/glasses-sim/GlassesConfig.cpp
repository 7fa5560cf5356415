#include "glasses-sim/GlassesConfig.h"

#include <nlohmann/json.hpp>
#include <cstdio>
#include <set>
#include <tuple>
#include <stdexcept>

namespace orvan::sim {
namespace {

// The banner is split on ':', ';' and '=' by the host, so none of them may appear in a value.
void requireBannerSafe(const std::string& key, const std::string& value) {
    if (value.find_first_of(":;=") != std::string::npos) {
        throw std::invalid_argument(key + " must not contain ':', ';' or '=': " + value);
    }
}

template <typename T>
void take(const nlohmann::json& json, const char* key, T& target) {
    if (json.contains(key) && !json.at(key).is_null()) target = json.at(key).get<T>();
}

}  // namespace

std::optional<AuthMode> parseAuthMode(const std::string& text) {
    if (text == "off") return AuthMode::off;
    if (text == "any") return AuthMode::any;
    if (text == "key") return AuthMode::key;
    if (text == "never") return AuthMode::never;
    if (text == "hold") return AuthMode::hold;
    return std::nullopt;
}

std::string authModeName(AuthMode mode) {
    switch (mode) {
        case AuthMode::off:
            return "off";
        case AuthMode::any:
            return "any";
        case AuthMode::key:
            return "key";
        case AuthMode::never:
            return "never";
        case AuthMode::hold:
            return "hold";
    }
    return "?";
}

std::pair<int, int> parseVideoSize(const std::string& text) {
    int width = 0, height = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &width, &height, &tail) != 2 || width < 16 || height < 16 ||
        width > 4096 || height > 4096 || width % 2 != 0 || height % 2 != 0) {
        throw std::invalid_argument("video size must be WxH with even sides from 16 to 4096: " + text);
    }
    return {width, height};
}

ShellOverride parseShellOverride(const nlohmann::json& json, std::string& command) {
    static const std::set<std::string> known = {"command", "stdout", "stderr", "exit", "delayMs", "hang", "times"};
    for (const auto& [key, value] : json.items()) {
        if (!known.count(key)) throw std::invalid_argument("unknown shell override key: " + key);
    }
    if (!json.contains("command") || !json.at("command").is_string()) {
        throw std::invalid_argument("a shell override needs \"command\"");
    }
    command = json.at("command").get<std::string>();
    ShellOverride entry;
    take(json, "stdout", entry.result.out);
    take(json, "stderr", entry.result.err);
    take(json, "exit", entry.result.exitCode);
    take(json, "hang", entry.result.hang);
    take(json, "times", entry.remainingUses);
    int delay = 0;
    take(json, "delayMs", delay);
    entry.result.delay = std::chrono::milliseconds(delay);
    return entry;
}

GlassesConfig parseGlassesConfig(const nlohmann::json& json) {
    if (!json.is_object()) throw std::invalid_argument("glasses configuration must be a JSON object");
    static const std::set<std::string> known = {"name",
                                                "serialNo",
                                                "bootSerialNo",
                                                "model",
                                                "product",
                                                "device",
                                                "bannerType",
                                                "features",
                                                "version",
                                                "maxPayload",
                                                "properties",
                                                "auth",
                                                "acceptAfterSeconds",
                                                "trustedKeyFiles",
                                                "wlanAddress",
                                                "ssid",
                                                "wirelessAdb",
                                                "wirelessPort",
                                                "cmdWifi",
                                                "usb",
                                                "usbPort",
                                                "usbAnnounceTo",
                                                "storageRoot",
                                                "media",
                                                "bulkFolder",
                                                "bulkCount",
                                                "rebootSeconds",
                                                "videoSize",
                                                "shell"};
    for (const auto& [key, value] : json.items()) {
        if (!known.count(key)) throw std::invalid_argument("unknown configuration key: " + key);
    }
    GlassesConfig config;
    try {
        take(json, "name", config.name);
        take(json, "serialNo", config.serialNo);
        if (json.contains("bootSerialNo") && json.at("bootSerialNo").is_string()) {
            config.bootSerialNo = json.at("bootSerialNo").get<std::string>();
        }
        take(json, "model", config.model);
        take(json, "product", config.product);
        take(json, "device", config.device);
        take(json, "bannerType", config.bannerType);
        take(json, "features", config.features);
        take(json, "version", config.version);
        take(json, "maxPayload", config.maxPayload);
        take(json, "properties", config.extraProperties);
        if (json.contains("auth")) {
            const auto mode = parseAuthMode(json.at("auth").get<std::string>());
            if (!mode) throw std::invalid_argument("unknown auth mode: " + json.at("auth").get<std::string>());
            config.auth = *mode;
        }
        take(json, "acceptAfterSeconds", config.acceptAfterSeconds);
        take(json, "trustedKeyFiles", config.trustedKeyFiles);
        take(json, "wlanAddress", config.wlanAddress);
        if (json.contains("ssid")) {
            config.ssid = json.at("ssid").is_null() ? std::nullopt
                                                    : std::optional<std::string>(json.at("ssid").get<std::string>());
        }
        take(json, "wirelessAdb", config.wirelessAdb);
        take(json, "wirelessPort", config.wirelessPort);
        if (json.contains("cmdWifi")) {
            const std::string mode = json.at("cmdWifi").get<std::string>();
            if (mode == "answers")
                config.cmdWifi = CmdWifiMode::answers;
            else if (mode == "unsupported")
                config.cmdWifi = CmdWifiMode::unsupported;
            else if (mode == "unknownSsid")
                config.cmdWifi = CmdWifiMode::unknownSsid;
            else
                throw std::invalid_argument("unknown cmdWifi mode: " + mode);
        }
        take(json, "usb", config.usb);
        take(json, "usbPort", config.usbPort);
        take(json, "usbAnnounceTo", config.usbAnnounceTo);
        take(json, "storageRoot", config.storageRoot);
        take(json, "media", config.media);
        take(json, "bulkFolder", config.bulkFolder);
        take(json, "bulkCount", config.bulkCount);
        take(json, "rebootSeconds", config.rebootSeconds);
        if (json.contains("videoSize")) {
            std::tie(config.videoWidth, config.videoHeight) = parseVideoSize(json.at("videoSize").get<std::string>());
        }
        if (json.contains("shell")) {
            for (const auto& entry : json.at("shell")) {
                std::string command;
                ShellOverride override = parseShellOverride(entry, command);
                config.shellOverrides[command] = std::move(override);
            }
        }
    } catch (const nlohmann::json::exception& error) {
        throw std::invalid_argument(std::string("bad configuration value: ") + error.what());
    }
    for (const auto& [key, value] : {std::pair<std::string, const std::string*>{"model", &config.model},
                                     {"product", &config.product},
                                     {"device", &config.device},
                                     {"bannerType", &config.bannerType}}) {
        requireBannerSafe(key, *value);
    }
    for (const auto& feature : config.features) {
        requireBannerSafe("feature", feature);
        if (feature.find(',') != std::string::npos) throw std::invalid_argument("feature must not contain ','");
    }
    if (config.maxPayload < 4096 || config.maxPayload > 1024 * 1024) {
        throw std::invalid_argument("maxPayload must be between 4096 and 1048576");
    }
    if (config.name.empty() || config.name.find_first_of(" \t\n") != std::string::npos) {
        throw std::invalid_argument("name must be one word");
    }
    return config;
}

}  // namespace orvan::sim
