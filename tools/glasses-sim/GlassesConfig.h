#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "glasses-sim/ShellCommands.h"

namespace orvan::sim {

// How the glasses treat a computer's key:
//   off    - no authorization at all (ro.adb.secure=0);
//   any    - asks for a signature and accepts whatever key signed it;
//   key    - accepts trusted keys; an unknown key raises the "Allow USB debugging?" prompt,
//            answered by the control channel or automatically after acceptAfterSeconds;
//   never  - rejects every signature and ignores offered keys (stays "unauthorized");
//   hold   - never answers a signature (the host shows "authorizing").
enum class AuthMode { off, any, key, never, hold };
std::optional<AuthMode> parseAuthMode(const std::string& text);
std::string authModeName(AuthMode mode);

struct ShellOverride {
    ShellResult result;
    int remainingUses = -1;  // -1: until cleared
};

struct GlassesConfig {
    std::string name = "glasses";
    // Identity: what the banner, getprop and the scan callbacks report.
    std::string serialNo = "TV3SIM0001";
    std::optional<std::string> bootSerialNo;  // defaults to serialNo
    std::string model = "Tervo3";
    std::string product = "tervo3";
    std::string device = "tervo3";
    std::string bannerType = "device";
    std::vector<std::string> features = {
        "shell_v2", "cmd", "stat_v2", "ls_v2", "fixed_push_mkdir", "fixed_push_symlink_timestamp"};
    std::uint32_t version = 0x01000001;
    std::size_t maxPayload = 1024 * 1024;
    std::map<std::string, std::string> extraProperties;

    AuthMode auth = AuthMode::off;
    int acceptAfterSeconds = -1;               // with AuthMode::key: answer the prompt by itself
    std::vector<std::string> trustedKeyFiles;  // adbkey.pub files

    // Wi-Fi side. "auto" picks a free loopback alias; empty means not on Wi-Fi.
    std::string wlanAddress = "auto";
    std::optional<std::string> ssid = "OrvanOffice";
    bool wirelessAdb = true;  // listening on wlanAddress:wirelessPort from the start
    std::uint16_t wirelessPort = 5555;
    CmdWifiMode cmdWifi = CmdWifiMode::answers;

    // "USB" side: a port on 127.0.0.1 that the adb server is told about with
    // `adb connect emu:<console>,<port>`; 0 picks a free one. Off unless `usb` is set.
    bool usb = false;
    std::uint16_t usbPort = 0;
    // adb server ports on 127.0.0.1 that notice the cable: when the pair is plugged in again
    // (or its adbd restarts), it registers itself there with "host:emulator:<usbPort>", as a
    // server notices a USB device (servers started with ADB_EMU=0 do not poll on their own).
    std::vector<int> usbAnnounceTo;

    // Storage: the host folder standing for "/" (created when missing) and whether to fill it
    // with the standard media tree.
    std::string storageRoot;
    bool media = true;
    std::string bulkFolder = "/sdcard/DCIM/Bulk";
    int bulkCount = 2000;

    int rebootSeconds = 2;
    // The display the scrcpy server streams (key "videoSize", "WxH", even numbers).
    int videoWidth = 720;
    int videoHeight = 720;
    std::map<std::string, ShellOverride> shellOverrides;
};

// Reads a configuration object; unknown keys are an error so that typos in tests show up.
// Throws std::invalid_argument with the reason.
GlassesConfig parseGlassesConfig(const nlohmann::json& json);
// "WxH" with even sides from 16 to 4096 (what the encoder and the clients take).
std::pair<int, int> parseVideoSize(const std::string& text);
ShellOverride parseShellOverride(const nlohmann::json& json, std::string& command);

}  // namespace orvan::sim
