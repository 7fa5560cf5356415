#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "glasses-sim/H264Clip.h"
#include "glasses-sim/Stream.h"

namespace orvan::sim {

// The shell command a scrcpy client runs to start its server:
// `CLASSPATH=<jar> app_process / com.genymobile.scrcpy.Server <version> key=value ...`.
struct ScrcpyServerRequest {
    std::string classPath;  // device path of the pushed server file
    std::string clientVersion;
    std::map<std::string, std::string> options;
    std::vector<std::string> malformed;  // arguments without '=' (the real server fails on them)

    // 1.x speaks the first protocol: no scid, no audio, size in the device meta, no codec meta.
    bool legacy() const { return clientVersion.starts_with("1."); }
    std::string scid() const;
    // The abstract socket the server listens on: "scrcpy_<scid>", or "scrcpy" without a scid.
    std::string socketName() const;
    // A boolean option: "true" in any case is true, anything else false.
    bool flag(const std::string& key, bool fallback) const;
};

// Nothing when the command line does not start the scrcpy server.
std::optional<ScrcpyServerRequest> parseScrcpyServerCommand(const std::string& commandLine);

enum class ScrcpySocketRole { video, audio, control };
std::string scrcpySocketRoleName(ScrcpySocketRole role);

// What the device reports to the client.
struct ScrcpyDeviceInfo {
    std::string name;  // device meta (the client's default window title)
    int width = 720;
    int height = 720;
};

// One running scrcpy server: accepts the client's sockets in its order (video, audio, control),
// streams the clip on the video socket at 30 frames a second, keeps the audio socket as
// "disabled by the device", discards control messages. It ends when any of its streams (or the
// shell stream that started it) is closed, or by end(); then every socket is closed.
class ScrcpyServerSession : public std::enable_shared_from_this<ScrcpyServerSession> {
public:
    struct Hooks {
        std::function<void(const std::string&)> log;
        std::function<void(nlohmann::json)> event;  // "scrcpy-session" events
        std::function<void(ScrcpyServerSession&)> stopListening;
    };
    struct Claim {
        ScrcpySocketRole role;
        bool first;  // carries the dummy byte and the device meta
    };

    ScrcpyServerSession(ScrcpyServerRequest request, ScrcpyDeviceInfo device, std::shared_ptr<const H264Clip> clip,
                        Hooks hooks);

    const ScrcpyServerRequest& request() const { return request_; }
    // The role of the next socket by arrival order; nothing once all are taken or it ended.
    std::optional<Claim> claimSocket();
    bool listening() const;
    // On the shell stream's thread: lives until the session ends.
    void runServer(Stream& shell, bool shellV2);
    // On the socket stream's thread: serves it until the session ends.
    void serveSocket(const Claim& claim, const std::shared_ptr<Stream>& stream);
    void end(const std::string& reason);

private:
    void streamVideo(Stream& stream);
    // Waits until `deadline`; false when the session ended meanwhile.
    bool waitUntil(std::chrono::steady_clock::time_point deadline);
    void watch(Stream& stream, const std::string& what);

    const ScrcpyServerRequest request_;
    const ScrcpyDeviceInfo device_;
    const std::shared_ptr<const H264Clip> clip_;
    const Hooks hooks_;
    std::vector<ScrcpySocketRole> roles_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t claimed_ = 0;
    bool ended_ = false;
    std::vector<std::shared_ptr<Stream>> sockets_;
};

// Shell output as the stream's protocol carries it: v2 packets (stdout, stderr, then the exit
// status when given), or the bytes alone on a legacy shell.
std::string shellOutput(bool v2, const std::string& out, const std::string& err, std::optional<int> exitCode);

}  // namespace orvan::sim
