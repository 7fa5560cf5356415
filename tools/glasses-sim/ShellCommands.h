#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "glasses-sim/DeviceStorage.h"

namespace orvan::sim {

struct ShellResult {
    std::string out;
    std::string err;
    int exitCode = 0;
    std::chrono::milliseconds delay{0};
    bool hang = false;  // never answers (until the host closes the stream)
};

// How `cmd wifi status` behaves: answers, is missing (older system), or reports no network
// while `dumpsys wifi` still knows it.
enum class CmdWifiMode { answers, unsupported, unknownSsid };

// What the built-in commands read about the glasses at the moment the command runs.
struct ShellEnvironment {
    std::map<std::string, std::string> properties;  // getprop
    std::optional<std::string> wlanAddress;         // none: Wi-Fi not connected
    std::string macAddress = "02:00:00:4f:52:56";
    std::optional<std::string> ssid;
    CmdWifiMode cmdWifi = CmdWifiMode::answers;
    const DeviceStorage* storage = nullptr;
};

// Runs one command line the way the glasses' shell answers it: getprop, echo, ip, cmd wifi,
// dumpsys wifi, ls, mkdir, rm, cat, true, false, exit, sleep; anything else is "not found"
// with status 127.
ShellResult runShellCommand(const std::string& commandLine, const ShellEnvironment& env);

// The toybox `ls` of the glasses (only -l, -a, -A, -1 and -d are understood).
ShellResult runLs(const std::vector<std::string>& words, const ShellEnvironment& env);

}  // namespace orvan::sim
