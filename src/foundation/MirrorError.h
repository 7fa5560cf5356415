#pragma once

#include <stdexcept>
#include <string>

namespace orvan {

// The error of every service operation. what() is the user-facing text, shown and logged
// unchanged.
class MirrorError : public std::runtime_error {
public:
    enum class Kind { message, scrcpyClosedAfterReady };

    static MirrorError message(const std::string& text) { return MirrorError(Kind::message, text); }
    static MirrorError scrcpyClosedAfterReady() {
        return MirrorError(Kind::scrcpyClosedAfterReady, "投屏窗口已关闭，可重新扫码启动。");
    }

    Kind kind() const { return kind_; }
    // A mirror window the user closed: a normal end, not a failure.
    bool isNormalScrcpyClosure() const { return kind_ == Kind::scrcpyClosedAfterReady; }

private:
    MirrorError(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
    Kind kind_;
};

}  // namespace orvan
