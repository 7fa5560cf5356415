#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/AdbTrace.h"
#include "support/CommandRun.h"
#include "support/ScopedEnvironment.h"
#include "support/SimulatedGlasses.h"
#include "support/TempDir.h"

namespace orvan::testing {

// An isolated world for one test: a temporary HOME with XDG folders, its own adb server port
// (never 5037) and private-server port (never 15037), a quiet adb environment (ADB_EMU=0,
// ADB_USB=0, ADB_MDNS=0, no ANDROID_SERIAL), a tool folder whose `adb` records every call,
// an adb key made up front (so glasses can be told to trust this computer before any adb server
// exists), and simulated glasses on fresh loopback addresses. The environment is set in this process
// (children such as the app's adb runs inherit it) for the world's lifetime and restored after.
//
// The destructor cleans up whatever happened: both adb servers are killed with
// `adb -P <port> kill-server`, every simulator is ended and reaped, the folder is removed.
// One world at a time per process.
class AdbWorld {
public:
    AdbWorld();
    ~AdbWorld();
    AdbWorld(const AdbWorld&) = delete;
    AdbWorld& operator=(const AdbWorld&) = delete;

    // Whether the real adb and the simulator are there (tests skip otherwise).
    static bool available();
    static std::filesystem::path realAdb();
    static std::filesystem::path simulatorPath();
    static std::optional<std::filesystem::path> scrcpyStandinPath();

    const std::filesystem::path& root() const { return dir_.path(); }
    std::filesystem::path home() const { return root() / "home"; }
    // Holds `adb` (the tracing wrapper), `scrcpy` (the stand-in, when built) and an empty
    // `scrcpy-server`: hand it to the app as its tool folder.
    std::filesystem::path toolFolder() const { return root() / "tools"; }
    std::filesystem::path adbKeyPath() const { return home() / ".android" / "adbkey"; }
    std::filesystem::path adbPublicKeyPath() const { return home() / ".android" / "adbkey.pub"; }
    int adbServerPort() const { return serverPort_; }
    int privateServerPort() const { return privatePort_; }

    // Every call of toolFolder()/adb so far, in order.
    std::vector<AdbInvocation> adbTrace() const;
    void clearAdbTrace();
    std::filesystem::path adbTracePath() const { return root() / "adb-trace.jsonl"; }

    // Runs the real adb (not traced) against this world's server, or another port with -P.
    CommandResult adb(const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    CommandResult adbOnPort(int port, const std::vector<std::string>& args,
                            std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

    // Starts one pair on a fresh loopback alias; the world owns it until it ends.
    SimulatedGlasses& startGlasses(GlassesOptions options = {});

    // `adb connect` to the pair's Wi-Fi side; returns adb's output line.
    std::string connectWifi(SimulatedGlasses& glasses);
    // Ends the glasses process at once, as if it lost power.
    void stopGlasses(SimulatedGlasses& glasses);
    // startGlasses + connectWifi, then waits until the transport is "device"; throws otherwise.
    SimulatedGlasses& startConnectedGlasses(GlassesOptions options = {});
    // Registers the pair's USB side with the server (`adb connect emu:<N>,<port>`) and waits
    // until its "emulator-N" serial is listed as `expectedState`.
    void registerUsb(SimulatedGlasses& glasses, const std::string& expectedState = "device");
    // The state `adb devices` lists for a serial, or nothing when it is not listed.
    std::optional<std::string> deviceState(const std::string& serial) const;
    // Polls `adb devices` until the serial shows `state` ("" = until it is gone).
    bool waitForState(const std::string& serial, const std::string& state, std::chrono::milliseconds timeout) const;

private:
    void createToolFolder();

    TempDir dir_;
    ScopedEnvironment env_;
    int serverPort_ = 0;
    int privatePort_ = 0;
    std::vector<std::unique_ptr<SimulatedGlasses>> glasses_;
    int nextGlasses_ = 1;
};

// A free TCP port on this machine outside the kernel's ephemeral range (so outgoing
// connections never take it meanwhile) and never adb's 5037 or the app's 15037.
int pickFreePort();

}  // namespace orvan::testing
