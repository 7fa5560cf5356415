#pragma once

#include "StandinConfig.h"

#include <string>

namespace orvan::standin {

class StopSignals;

// What `$ADB -s <serial> get-state` said. The real client needs a transport in state "device"
// before it can push and start its server, so the stand-in asks the same adb server the app
// pointed it at (ADB and ADB_SERVER_SOCKET are simply inherited by the adb child).
struct AdbStateResult {
    enum class Outcome { finished, launchFailed, interrupted };
    Outcome outcome = Outcome::finished;
    int exitStatus = -1;      // exit code, or 128 + signal
    std::string output;       // stdout and stderr together, at most 64 KiB
    std::string launchError;  // strerror text when it could not be started

    bool isDevice() const;
    std::string state() const;  // the trimmed first line of the output
};

// `adb` is $ADB, or "adb" looked up in PATH when ADB is unset or empty. An empty serial asks
// for the only device, as scrcpy does without -s. A stop signal kills the adb child and ends
// the wait with Outcome::interrupted.
AdbStateResult queryAdbState(const Environment& environment, const std::string& serial, StopSignals& signals);

}  // namespace orvan::standin
