#pragma once

#include <stdexcept>
#include <string>

namespace orvan {

// The error of every service operation. what() is the user-facing text, shown and logged
// unchanged.
class MirrorError : public std::runtime_error {
public:
    // One kind for each decision the code makes on an error; `message` is every other failure.
    enum class Kind {
        message,
        scrcpyClosedAfterReady,
        scanSessionReplaced,
        // The app is quitting: the start gave up (or never began) and launched nothing that stays.
        // Never shown as a failure.
        cancelled,
        scrcpyStartTimeout,
        // A command overran its time-out and was ended.
        commandTimedOut,
        // The client lost the glasses (disconnected, connection lost, gone from adb's list).
        scrcpyTransportLost,
        // The client and its device-side server are of different versions.
        scrcpyVersionMismatch,
        // The glasses have not allowed this computer, or adb lists them offline.
        deviceUnauthorized,
        deviceOffline,
        // A tool is missing, or the scrcpy found is too old or does not say its version.
        toolMissing,
        toolTooOld,
    };

    static MirrorError message(const std::string& text) { return MirrorError(Kind::message, text); }
    static MirrorError of(Kind kind, const std::string& text) { return MirrorError(kind, text); }
    static MirrorError scrcpyClosedAfterReady() {
        return MirrorError(Kind::scrcpyClosedAfterReady, "投屏窗口已关闭，可重新扫码启动。");
    }
    // A newer scan (or the app's quit) took over: the start gave up and closed what it opened.
    static MirrorError scanSessionReplaced() {
        return MirrorError(Kind::scanSessionReplaced, "扫码会话已被新二维码替换，已取消旧投屏任务。");
    }
    // The app's quit stopped the work; the text is the one a replaced session gives.
    static MirrorError cancelled() {
        return MirrorError(Kind::cancelled, "扫码会话已被新二维码替换，已取消旧投屏任务。");
    }
    // No readiness signal in time; `summary` is the tail of scrcpy's output (may be empty).
    static MirrorError scrcpyStartTimeout(const std::string& summary) {
        return MirrorError(Kind::scrcpyStartTimeout,
                           "scrcpy 启动超时，未确认视频通道就绪。" + (summary.empty() ? "" : " " + summary));
    }

    Kind kind() const { return kind_; }
    // A mirror window the user closed: a normal end, not a failure.
    bool isNormalScrcpyClosure() const { return kind_ == Kind::scrcpyClosedAfterReady; }
    // Work given up because the app quits or a newer scan took over: not a failure to show.
    bool isCancellation() const { return kind_ == Kind::cancelled || kind_ == Kind::scanSessionReplaced; }

private:
    MirrorError(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
    Kind kind_;
};

}  // namespace orvan
