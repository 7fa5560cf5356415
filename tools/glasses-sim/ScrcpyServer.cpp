#include "glasses-sim/ScrcpyServer.h"

#include <sys/stat.h>

#include <vector>

namespace orvan::sim {
namespace {

std::string stackLines(const std::string& method) {
    return "\tat com.genymobile.scrcpy." + method + "(Unknown Source:0)\n"
           "\tat com.genymobile.scrcpy.Server.main(Unknown Source:0)\n"
           "\tat com.android.internal.os.RuntimeInit.nativeFinishInit(Native Method)\n"
           "\tat com.android.internal.os.RuntimeInit.main(RuntimeInit.java:355)\n";
}

// What a server of `server` version prints to a client of another version, per protocol
// generation: stdout and stderr.
std::pair<std::string, std::string> mismatchOutput(const ScrcpyServerRequest& request, const std::string& server) {
    const std::string text =
        "The server version (" + server + ") does not match the client (" + request.clientVersion + ")";
    const std::string exception = "java.lang.IllegalArgumentException: " + text + "\n";
    if (request.legacy()) {
        return {"[server] ERROR: Exception on thread Thread[main,5,main]\n",
                exception + stackLines("Server.createOptions")};
    }
    return {"", "[server] ERROR: " + text + "\n" + exception + stackLines("Options.parse")};
}

}  // namespace

ScrcpyServer::ScrcpyServer(std::string deviceName, int width, int height, Hooks hooks)
    : deviceName_(std::move(deviceName)), hooks_(std::move(hooks)), width_(width), height_(height) {}

void ScrcpyServer::setVideoSize(int width, int height) {
    std::lock_guard lock(mutex_);
    width_ = width;
    height_ = height;
}

void ScrcpyServer::setMismatch(std::optional<std::string> serverVersion) {
    std::lock_guard lock(mutex_);
    mismatch_ = std::move(serverVersion);
}

std::optional<std::pair<std::string, std::string>> ScrcpyServer::startFailure(const ScrcpyServerRequest& request,
                                                                              const DeviceStorage& storage) {
    FileInfo info;
    if (storage.stat(request.classPath, true, info) != 0 || !S_ISREG(info.mode)) {
        // app_process finds no class on an empty class path.
        return std::pair{std::string(),
                         "Exception in thread \"main\" java.lang.ClassNotFoundException: Didn't find class "
                         "\"com.genymobile.scrcpy.Server\" on path: DexPathList[[],nativeLibraryDirectories=["
                         "/system/lib64, /system_ext/lib64]]\n"};
    }
    {
        std::lock_guard lock(mutex_);
        if (mismatch_) return mismatchOutput(request, *std::exchange(mismatch_, std::nullopt));
    }
    if (!request.malformed.empty()) {
        return std::pair{std::string(), "java.lang.IllegalArgumentException: Invalid key=value pair: \"" +
                                            request.malformed.front() + "\"\n" + stackLines("Options.parse")};
    }
    if (!request.flag("tunnel_forward", false)) {
        return std::pair{std::string(), "[server] ERROR: this device only serves tunnel_forward=true\n"};
    }
    return std::nullopt;
}

void ScrcpyServer::run(const ScrcpyServerRequest& request, Stream& shell, bool shellV2, const DeviceStorage& storage) {
    const std::string name = request.socketName();
    hooks_.log("scrcpy server " + request.clientVersion + " asked for on " + name);
    if (const auto failure = startFailure(request, storage)) {
        hooks_.log("scrcpy server did not start: " + failure->second.substr(0, failure->second.find('\n')));
        hooks_.event({{"state", "failed"}, {"version", request.clientVersion}, {"socket", name}});
        shell.write(shellOutput(shellV2, failure->first, failure->second, 1));
        return;
    }
    // The real server deletes its file once it runs, unless told to keep it.
    if (request.flag("cleanup", true)) storage.remove(request.classPath);
    ScrcpyDeviceInfo device{deviceName_, 0, 0};
    {
        std::lock_guard lock(mutex_);
        device.width = width_;
        device.height = height_;
    }
    std::shared_ptr<const H264Clip> clip;
    try {
        clip = testPatternClip(device.width, device.height);
    } catch (const std::exception& error) {
        shell.write(shellOutput(shellV2, "", std::string("[server] ERROR: ") + error.what() + "\n", 1));
        return;
    }
    ScrcpyServerSession::Hooks hooks{hooks_.log, hooks_.event, [this](ScrcpyServerSession& session) {
                                         std::lock_guard lock(mutex_);
                                         const auto it = listening_.find(session.request().socketName());
                                         if (it != listening_.end() && it->second.get() == &session)
                                             listening_.erase(it);
                                     }};
    auto session = std::make_shared<ScrcpyServerSession>(request, device, clip, std::move(hooks));
    {
        std::lock_guard lock(mutex_);
        if (listening_.count(name)) {
            shell.write(shellOutput(shellV2, "",
                                    "[server] ERROR: Exception on thread Thread[main,5,main]\njava.io.IOException: "
                                    "Address already in use\n",
                                    1));
            return;
        }
        listening_[name] = session;
        running_[session.get()] = session;
    }
    session->runServer(shell, shellV2);
    std::lock_guard lock(mutex_);
    running_.erase(session.get());
}

std::optional<ScrcpyServer::Socket> ScrcpyServer::connect(const std::string& name) {
    std::lock_guard lock(mutex_);
    const auto it = listening_.find(name);
    if (it == listening_.end()) return std::nullopt;
    const auto session = it->second;
    const auto claim = session->claimSocket();
    // Once every socket is connected the server stops listening.
    if (!session->listening()) listening_.erase(it);
    if (!claim) return std::nullopt;
    return Socket{session, *claim};
}

void ScrcpyServer::endAll(const std::string& reason) {
    std::vector<std::shared_ptr<ScrcpyServerSession>> sessions;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, weak] : running_) {
            if (auto session = weak.lock()) sessions.push_back(std::move(session));
        }
    }
    for (const auto& session : sessions) session->end(reason);
}

nlohmann::json ScrcpyServer::describe() const {
    std::lock_guard lock(mutex_);
    return {{"videoSize", std::to_string(width_) + "x" + std::to_string(height_)},
            {"mismatch", mismatch_ ? nlohmann::json(*mismatch_) : nlohmann::json(nullptr)},
            {"sessions", running_.size()}};
}

}  // namespace orvan::sim
