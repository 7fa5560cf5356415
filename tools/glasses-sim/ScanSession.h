#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace orvan::sim {

class Glasses;
class Log;

// What an enable or disable QR code carries: {"T", "SID", "U", "PORT"} and, for enable,
// "WIFI": {"S", "P", "T", ...} and "PERSIST".
struct ScanPayload {
    std::string type;
    std::string sessionId;
    std::string callbackUrl;
    int port = 5555;
    std::optional<std::string> wifiSsid;
    nlohmann::json raw;
};

// Throws std::invalid_argument naming the missing or mistyped member.
ScanPayload parseScanPayload(const std::string& text);

// Decodes a QR code image with zbarimg; throws std::runtime_error when it finds none.
std::string decodeQrImage(const std::string& pngPath);

struct ScanOptions {
    std::string callbackAddress = "127.0.0.1";  // where the callback host is rewritten to
    std::chrono::milliseconds pollInterval{300};
    int maxPolls = 200;
    std::optional<std::string> failCode;  // report this failure instead of opening ADB
    std::optional<std::string> failMessage;
    bool adbEnabled = true;
    std::optional<bool> tcpPortOpen;               // default: whether wireless ADB really listens
    const std::atomic<bool>* cancelled = nullptr;  // set when the simulator shuts down
};

// The glasses' side of the scan protocol for one scanned code, run on its own thread: act
// on the code (join the network, open or close wireless ADB), post the status report, then
// poll with acknowledgement queries until the computer reports the mirror running or failed.
// Every exchange is reported as an event line; the last one is "scan-done".
class ScanSession {
public:
    ScanSession(Glasses& glasses, Log& log, int id, ScanPayload payload, ScanOptions options);
    void run();

    static nlohmann::json statusReport(const ScanPayload& payload, const std::string& action, const std::string& status,
                                       const nlohmann::json& device);
    static nlohmann::json ackQuery(const ScanPayload& payload, const nlohmann::json& device);

private:
    nlohmann::json deviceInfo(bool tcpPortOpen) const;
    std::optional<nlohmann::json> post(const std::string& step, const nlohmann::json& body);
    void done(const std::string& outcome);

    Glasses& glasses_;
    Log& log_;
    const int id_;
    ScanPayload payload_;
    ScanOptions options_;
};

}  // namespace orvan::sim
