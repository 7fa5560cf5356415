#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orvan::testing {

// How to start one pair of simulated glasses (tools/glasses-sim/GlassesConfig.h has every key
// the simulator knows; control() reaches the rest at run time).
struct GlassesOptions {
    std::string name{};  // default: "glasses1", "glasses2", ...
    std::string model = "Tervo3";
    std::string serialNo{};     // default: derived from the name
    std::string auth = "off";   // off | any | key | never | hold
    bool trustWorldKey = true;  // with auth "key": the world's adb key is already allowed
    bool usb = false;           // give the pair a USB side (see AdbWorld::registerUsb)
    bool wirelessAdb = true;    // Wi-Fi side listening from the start
    bool media = true;          // fill the storage with the standard media tree
    int bulkCount = 2000;       // photos in bulkFolder
    std::string bulkFolder = "/sdcard/DCIM/Bulk";
    std::string videoSize = "720x720";  // what the scrcpy server the pair plays streams
};

// A running glasses-sim process playing one pair, and the control channel to script it.
// Methods throw std::runtime_error when the simulator rejects a command or does not answer.
class SimulatedGlasses {
public:
    SimulatedGlasses(const std::filesystem::path& simulatorPath, const nlohmann::json& config,
                     const std::filesystem::path& stateDir, const std::filesystem::path& logFile);
    // Asks the simulator to quit, then terminates it if needed, and reaps it.
    ~SimulatedGlasses();
    SimulatedGlasses(const SimulatedGlasses&) = delete;
    SimulatedGlasses& operator=(const SimulatedGlasses&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& name() const { return name_; }
    const std::string& serialNo() const { return serialNo_; }
    // The Wi-Fi side: its loopback alias (what `ip addr show wlan0` reports) and port.
    std::string wlanAddress() const;
    std::uint16_t wirelessPort() const;
    // "address:port", the serial adb gives the wireless transport.
    std::string wifiSerial() const { return wlanAddress() + ":" + std::to_string(wirelessPort()); }
    // The USB side's port on 127.0.0.1 and the serial adb shows once registered ("emulator-N").
    std::optional<std::uint16_t> usbPort() const;
    std::string usbSerial() const;
    std::uint16_t usbConsolePort() const;
    // The host folder standing for the glasses' "/" and the host path of a device path.
    const std::filesystem::path& storageRoot() const { return storageRoot_; }
    std::filesystem::path hostPath(const std::string& devicePath) const;

    // One control command ("help" lists them); returns the JSON after "ok".
    nlohmann::json control(const std::string& line);
    nlohmann::json status() { return control("status " + name_); }

    // Faults and scripted behaviour.
    void vanish() { control("vanish " + name_); }  // no answers, no close, no accept
    void delayReplies(std::chrono::milliseconds delay);
    int acceptAuthorization();  // the user taps "Allow"
    void removeFile(const std::string& devicePath);
    void moveFile(const std::string& from, const std::string& to);
    std::filesystem::path makeFile(const std::string& devicePath, std::uint64_t bytes);

    // The scrcpy server the pair plays (tools/glasses-sim/README.md): the size the next session
    // streams, a next start that fails as a server of another version would, and its events
    // ("started", "streaming", "ended", "failed").
    void setScrcpyVideoSize(int width, int height);
    void failNextScrcpyStart(const std::string& serverVersion);
    std::optional<nlohmann::json> waitForScrcpySession(const std::string& state, std::chrono::milliseconds timeout) const;

    // Waits for an event the simulator reported ("connected", "disconnected", "auth-prompt", ...).
    std::optional<nlohmann::json> waitForEvent(const std::function<bool(const nlohmann::json&)>& match,
                                               std::chrono::milliseconds timeout) const;

private:
    void readOutput();
    std::string readyLine(std::chrono::milliseconds timeout);

    std::string name_;
    std::string serialNo_;
    std::filesystem::path storageRoot_;
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    std::thread reader_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::optional<std::string> ready_;
    std::deque<std::string> replies_;
    std::vector<nlohmann::json> events_;
    bool ended_ = false;
    nlohmann::json description_;
    std::mutex commandMutex_;
};

}  // namespace orvan::testing
