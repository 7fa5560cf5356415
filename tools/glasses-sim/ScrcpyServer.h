#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "glasses-sim/DeviceStorage.h"
#include "glasses-sim/ScrcpyServerSession.h"
#include "glasses-sim/Stream.h"

namespace orvan::sim {

// The scrcpy server side of one pair of glasses: starts a session for each server command the
// shell runs, hands the client's `localabstract:` connections to the session listening on that
// name, and holds what the control channel scripts (video size, a version mismatch).
class ScrcpyServer {
public:
    struct Hooks {
        std::function<void(const std::string&)> log;
        std::function<void(nlohmann::json)> event;
    };
    ScrcpyServer(std::string deviceName, int width, int height, Hooks hooks);

    // Runs one server command on its shell stream until the session ends, as app_process would:
    // failures (missing server file, mismatch, bad arguments) are written on the stream with
    // the exit status; a session's output, then status 0 when it ends.
    void run(const ScrcpyServerRequest& request, Stream& shell, bool shellV2, const DeviceStorage& storage);

    struct Socket {
        std::shared_ptr<ScrcpyServerSession> session;
        ScrcpyServerSession::Claim claim;
    };
    // The session listening on `name` takes the connection; nothing refuses it.
    std::optional<Socket> connect(const std::string& name);

    void setVideoSize(int width, int height);
    // The next session answers as a server of this version would to any other client.
    void setMismatch(std::optional<std::string> serverVersion);
    // Ends every session (the glasses are going away).
    void endAll(const std::string& reason);
    nlohmann::json describe() const;

private:
    // The failure text of a server that cannot start, or nothing.
    std::optional<std::pair<std::string, std::string>> startFailure(const ScrcpyServerRequest& request,
                                                                    const DeviceStorage& storage);

    const std::string deviceName_;
    const Hooks hooks_;
    mutable std::mutex mutex_;
    int width_;
    int height_;
    std::optional<std::string> mismatch_;
    std::map<std::string, std::shared_ptr<ScrcpyServerSession>> listening_;
    std::map<ScrcpyServerSession*, std::weak_ptr<ScrcpyServerSession>> running_;
};

}  // namespace orvan::sim
