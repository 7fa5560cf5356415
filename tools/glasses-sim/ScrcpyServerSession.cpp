#include "glasses-sim/ScrcpyServerSession.h"

#include <algorithm>
#include <cctype>

#include "glasses-sim/ShellProtocol.h"

namespace orvan::sim {
namespace {

constexpr std::chrono::microseconds kFrameInterval(33333);  // about 30 frames a second
constexpr std::uint64_t kConfigFlag = 1ull << 63;
constexpr std::uint64_t kKeyFrameFlag = 1ull << 62;

void appendBigEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::string packet(std::uint64_t ptsAndFlags, const std::string& payload, bool withHeader) {
    if (!withHeader) return payload;
    std::string out;
    out.reserve(12 + payload.size());
    appendBigEndian(out, ptsAndFlags, 8);
    appendBigEndian(out, payload.size(), 4);
    return out + payload;
}

}  // namespace

std::string ScrcpyServerRequest::scid() const {
    const auto it = options.find("scid");
    return it == options.end() ? std::string() : it->second;
}

std::string ScrcpyServerRequest::socketName() const {
    const std::string id = scid();
    return id.empty() ? "scrcpy" : "scrcpy_" + id;
}

bool ScrcpyServerRequest::flag(const std::string& key, bool fallback) const {
    const auto it = options.find(key);
    if (it == options.end()) return fallback;
    std::string value = it->second;
    std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return std::tolower(c); });
    return value == "true";
}

std::optional<ScrcpyServerRequest> parseScrcpyServerCommand(const std::string& commandLine) {
    const auto words = splitShellWords(commandLine);
    if (!words || words->size() < 5 || !(*words)[0].starts_with("CLASSPATH=") || (*words)[1] != "app_process" ||
        (*words)[3] != "com.genymobile.scrcpy.Server") {
        return std::nullopt;
    }
    ScrcpyServerRequest request;
    request.classPath = (*words)[0].substr(10);
    request.clientVersion = (*words)[4];
    for (std::size_t i = 5; i < words->size(); ++i) {
        const std::string& word = (*words)[i];
        const std::size_t eq = word.find('=');
        if (eq == std::string::npos)
            request.malformed.push_back(word);
        else
            request.options[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return request;
}

std::string scrcpySocketRoleName(ScrcpySocketRole role) {
    switch (role) {
        case ScrcpySocketRole::video:
            return "video";
        case ScrcpySocketRole::audio:
            return "audio";
        case ScrcpySocketRole::control:
            return "control";
    }
    return "?";
}

std::string shellOutput(bool v2, const std::string& out, const std::string& err, std::optional<int> exitCode) {
    if (!v2) return out + err;
    std::string packets;
    if (!out.empty()) packets += encodeShellPacket(ShellPacketId::stdoutData, out);
    if (!err.empty()) packets += encodeShellPacket(ShellPacketId::stderrData, err);
    if (exitCode) packets += encodeShellExit(*exitCode);
    return packets;
}

ScrcpyServerSession::ScrcpyServerSession(ScrcpyServerRequest request, ScrcpyDeviceInfo device,
                                         std::shared_ptr<const H264Clip> clip, Hooks hooks)
    : request_(std::move(request)), device_(std::move(device)), clip_(std::move(clip)), hooks_(std::move(hooks)) {
    const bool legacy = request_.legacy();
    if (legacy || request_.flag("video", true)) roles_.push_back(ScrcpySocketRole::video);
    if (!legacy && request_.flag("audio", true)) roles_.push_back(ScrcpySocketRole::audio);
    if (request_.flag("control", true)) roles_.push_back(ScrcpySocketRole::control);
}

std::optional<ScrcpyServerSession::Claim> ScrcpyServerSession::claimSocket() {
    std::lock_guard lock(mutex_);
    if (ended_ || claimed_ >= roles_.size()) return std::nullopt;
    const Claim claim{roles_[claimed_], claimed_ == 0};
    ++claimed_;
    return claim;
}

bool ScrcpyServerSession::listening() const {
    std::lock_guard lock(mutex_);
    return !ended_ && claimed_ < roles_.size();
}

void ScrcpyServerSession::watch(Stream& stream, const std::string& what) {
    std::weak_ptr<ScrcpyServerSession> weak = weak_from_this();
    stream.setHostCloseListener([weak, what](bool connectionLost) {
        if (const auto self = weak.lock())
            self->end(connectionLost ? "the connection to the computer ended" : "the client closed the " + what);
    });
}

void ScrcpyServerSession::runServer(Stream& shell, bool shellV2) {
    watch(shell, "shell stream");
    hooks_.event({{"state", "started"},
                  {"version", request_.clientVersion},
                  {"scid", request_.scid()},
                  {"socket", request_.socketName()}});
    const std::string level = request_.options.count("log_level") ? request_.options.at("log_level") : "debug";
    if (level == "verbose" || level == "debug" || level == "info") {
        const std::string device = request_.legacy() ? "Tervo " + device_.name : "[Tervo] Tervo " + device_.name;
        shell.write(shellOutput(shellV2, "[server] INFO: Device: " + device + " (Android 12)\n", "", std::nullopt));
    }
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ended_; });
    }
    // The process exits with status 0 once its sockets broke.
    shell.write(shellOutput(shellV2, "", "", 0));
}

void ScrcpyServerSession::serveSocket(const Claim& claim, const std::shared_ptr<Stream>& stream) {
    {
        std::lock_guard lock(mutex_);
        if (ended_) return;
        sockets_.push_back(stream);
    }
    watch(*stream, scrcpySocketRoleName(claim.role) + " socket");
    if (claim.first) {
        std::string meta;
        if (request_.flag("send_dummy_byte", true)) meta.push_back('\0');
        if (request_.flag("send_device_meta", true)) {
            std::string name = device_.name.substr(0, 63);
            name.resize(64, '\0');
            meta += name;
            if (request_.legacy()) {
                appendBigEndian(meta, static_cast<std::uint64_t>(device_.width), 2);
                appendBigEndian(meta, static_cast<std::uint64_t>(device_.height), 2);
            }
        }
        if (!stream->write(meta)) return;
    }
    switch (claim.role) {
        case ScrcpySocketRole::video:
            streamVideo(*stream);
            return;
        case ScrcpySocketRole::audio:
            // Codec id 0: "disabled by the device"; the client mirrors on without sound.
            if (stream->write(std::string(4, '\0'))) stream->waitForHostClose();
            return;
        case ScrcpySocketRole::control: {
            std::string discarded;
            while (stream->read(discarded)) discarded.clear();
            return;
        }
    }
}

void ScrcpyServerSession::streamVideo(Stream& stream) {
    const bool frameMeta = request_.flag("send_frame_meta", true);
    std::string start;
    if (!request_.legacy() && request_.flag("send_codec_meta", true)) {
        start = "h264";
        appendBigEndian(start, static_cast<std::uint64_t>(clip_->width), 4);
        appendBigEndian(start, static_cast<std::uint64_t>(clip_->height), 4);
    }
    start += packet(kConfigFlag, clip_->config, frameMeta);
    if (!stream.write(start)) return;
    const auto begin = std::chrono::steady_clock::now();
    for (std::uint64_t n = 0;; ++n) {
        if (!waitUntil(begin + n * kFrameInterval)) return;
        // Loop the clip from its key frame; the timestamps keep increasing.
        const H264Clip::Frame& frame = clip_->frames[n % clip_->frames.size()];
        const std::uint64_t pts = n * static_cast<std::uint64_t>(kFrameInterval.count());
        if (!stream.write(packet(pts | (frame.key ? kKeyFrameFlag : 0), frame.bytes, frameMeta))) return;
        if (n == 0) {
            hooks_.log("scrcpy server " + request_.socketName() + " sent its first frame");
            hooks_.event({{"state", "streaming"}, {"scid", request_.scid()}, {"socket", request_.socketName()}});
        }
    }
}

bool ScrcpyServerSession::waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_until(lock, deadline, [&] { return ended_; });
}

void ScrcpyServerSession::end(const std::string& reason) {
    std::vector<std::shared_ptr<Stream>> sockets;
    {
        std::lock_guard lock(mutex_);
        if (ended_) return;
        ended_ = true;
        sockets.swap(sockets_);
        changed_.notify_all();
    }
    for (const auto& socket : sockets) socket->cancel();
    hooks_.stopListening(*this);
    hooks_.log("scrcpy server " + request_.socketName() + " ended: " + reason);
    hooks_.event({{"state", "ended"}, {"scid", request_.scid()}, {"socket", request_.socketName()}, {"reason", reason}});
}

}  // namespace orvan::sim
