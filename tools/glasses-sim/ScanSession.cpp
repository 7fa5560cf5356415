#include "glasses-sim/ScanSession.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "glasses-sim/Glasses.h"
#include "glasses-sim/HttpPost.h"
#include "glasses-sim/Log.h"

extern char** environ;

namespace orvan::sim {

ScanPayload parseScanPayload(const std::string& text) {
    ScanPayload payload;
    try {
        payload.raw = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& error) {
        throw std::invalid_argument(std::string("payload is not JSON: ") + error.what());
    }
    const auto& json = payload.raw;
    if (!json.is_object()) throw std::invalid_argument("payload is not a JSON object");
    for (const char* key : {"T", "SID", "U"}) {
        if (!json.contains(key) || !json.at(key).is_string()) {
            throw std::invalid_argument(std::string("payload lacks the string member ") + key);
        }
    }
    if (!json.contains("PORT") || !json.at("PORT").is_number_integer()) {
        throw std::invalid_argument("payload lacks the integer member PORT");
    }
    payload.type = json.at("T").get<std::string>();
    payload.sessionId = json.at("SID").get<std::string>();
    payload.callbackUrl = json.at("U").get<std::string>();
    payload.port = json.at("PORT").get<int>();
    if (payload.type != "ENABLE_WIRELESS_ADB" && payload.type != "DISABLE_WIRELESS_ADB") {
        throw std::invalid_argument("unknown payload type " + payload.type);
    }
    if (json.contains("WIFI")) {
        const auto& wifi = json.at("WIFI");
        if (!wifi.is_object() || !wifi.contains("S") || !wifi.at("S").is_string()) {
            throw std::invalid_argument("WIFI lacks the string member S");
        }
        payload.wifiSsid = wifi.at("S").get<std::string>();
    } else if (payload.type == "ENABLE_WIRELESS_ADB") {
        throw std::invalid_argument("enable payload lacks WIFI");
    }
    parseHttpUrl(payload.callbackUrl);  // throws for a URL the glasses could not use
    return payload;
}

std::string decodeQrImage(const std::string& pngPath) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"zbarimg", "--raw", "-q", "-Sdisable", "-Sqrcode.enable", pngPath.c_str(), nullptr};
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, "zbarimg", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (error != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot run zbarimg");
    }
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty()) {
        throw std::runtime_error("no QR code found in " + pngPath);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

ScanSession::ScanSession(Glasses& glasses, Log& log, int id, ScanPayload payload, ScanOptions options)
    : glasses_(glasses), log_(log), id_(id), payload_(std::move(payload)), options_(std::move(options)) {}

nlohmann::json ScanSession::statusReport(const ScanPayload& payload, const std::string& action,
                                         const std::string& status, const nlohmann::json& device) {
    nlohmann::json body = {{"type", "ORVAN_WIRELESS_ADB_STATUS"},
                           {"version", 1},
                           {"action", action},
                           {"sessionId", payload.sessionId},
                           {"status", status}};
    if (!device.is_null()) body["device"] = device;
    return body;
}

nlohmann::json ScanSession::ackQuery(const ScanPayload& payload, const nlohmann::json& device) {
    return {{"type", "ORVAN_WIRELESS_ADB_ACK"}, {"version", 1},        {"action", "QUERY"},
            {"sessionId", payload.sessionId},   {"status", "WAITING"}, {"device", device}};
}

nlohmann::json ScanSession::deviceInfo(bool tcpPortOpen) const {
    const auto address = glasses_.wlanAddress();
    return {{"serial", glasses_.config().serialNo},
            {"ip", address.value_or("")},
            {"adbPort", payload_.port},
            {"adbEnabled", options_.adbEnabled},
            {"tcpPortOpen", options_.tcpPortOpen.value_or(tcpPortOpen)}};
}

std::optional<nlohmann::json> ScanSession::post(const std::string& step, const nlohmann::json& body) {
    nlohmann::json event = {
        {"event", "scan"}, {"device", glasses_.name()}, {"scan", id_}, {"step", step}, {"request", body}};
    std::optional<nlohmann::json> answer;
    try {
        const HttpUrl url = parseHttpUrl(payload_.callbackUrl);
        // The code names the computer's LAN address; the simulated glasses reach it on loopback.
        const HttpResponse response =
            httpPost(options_.callbackAddress, url.port, url.path, url.host + ":" + std::to_string(url.port),
                     body.dump(), std::chrono::seconds(10));
        event["httpStatus"] = response.status;
        try {
            answer = nlohmann::json::parse(response.body);
            event["response"] = *answer;
        } catch (const nlohmann::json::exception&) {
            event["responseText"] = response.body;
        }
        if (response.status != 200) answer.reset();
    } catch (const std::exception& error) {
        event["error"] = error.what();
    }
    log_.event(event.dump());
    return answer;
}

void ScanSession::done(const std::string& outcome) {
    glasses_.log("scan " + std::to_string(id_) + " done: " + outcome);
    log_.event(
        nlohmann::json({{"event", "scan-done"}, {"device", glasses_.name()}, {"scan", id_}, {"outcome", outcome}})
            .dump());
}

void ScanSession::run() {
    if (payload_.type == "DISABLE_WIRELESS_ADB") {
        glasses_.setWireless(false, std::nullopt);
        const auto answer = post("status", statusReport(payload_, "DISABLE", "DISABLED", deviceInfo(false)));
        done(answer ? "DISABLED" : "error");
        return;
    }
    if (payload_.wifiSsid) glasses_.setSsid(*payload_.wifiSsid);
    if (!glasses_.wlanAddress()) glasses_.setWlanAddress("auto");
    if (options_.failCode) {
        nlohmann::json report = statusReport(payload_, "ENABLE", "FAILED", deviceInfo(false));
        report["errorCode"] = *options_.failCode;
        if (options_.failMessage) report["message"] = *options_.failMessage;
        post("status", report);
        done("reported " + *options_.failCode);
        return;
    }
    glasses_.setWireless(true, static_cast<std::uint16_t>(payload_.port));
    const nlohmann::json device = deviceInfo(glasses_.wirelessListening());
    const auto answer = post("status", statusReport(payload_, "ENABLE", "READY", device));
    if (!answer) {
        done("error");
        return;
    }
    // The computer offers its key so that the glasses can allow it without a prompt.
    if (answer->contains("adbPublicKey") && answer->at("adbPublicKey").is_string()) {
        try {
            glasses_.trustKey(answer->at("adbPublicKey").get<std::string>());
            glasses_.log("scan " + std::to_string(id_) + ": trusting the offered key");
        } catch (const std::exception& error) {
            glasses_.log("scan " + std::to_string(id_) + ": offered key unusable: " + error.what());
        }
    }
    if (answer->value("alreadyMirroring", false)) {
        done("RUNNING");
        return;
    }
    for (int poll = 0; poll < options_.maxPolls; ++poll) {
        std::this_thread::sleep_for(options_.pollInterval);
        if (options_.cancelled && *options_.cancelled) {
            done("cancelled");
            return;
        }
        const auto ack = post("ack", ackQuery(payload_, deviceInfo(glasses_.wirelessListening())));
        if (!ack) continue;
        const std::string status = ack->value("mirrorStatus", std::string());
        if (status == "RUNNING" || status == "FAILED") {
            done(status);
            return;
        }
    }
    done("timeout");
}

}  // namespace orvan::sim
