#include "mirror/SharedAdbSync.h"

#include <algorithm>

#include "platform/Dispatch.h"

namespace orvan {
namespace {
constexpr auto kShared = AdbServerScope::sharedDevelopment;
}

SharedAdbSync::~SharedAdbSync() {
    waitUntilIdle();
}

void SharedAdbSync::syncWirelessTargetToSharedAdb(const std::string& ip, int port, AdbServerScope sourceScope) {
    if (sourceScope == kShared) return;  // the target already lives on the shared server
    std::string target = ip + ":" + std::to_string(port);
    {
        std::lock_guard lock(mutex_);
        if (std::find(waiting_.begin(), waiting_.end(), target) != waiting_.end()) return;
        waiting_.push_back(std::move(target));
        if (draining_) return;
        draining_ = true;
    }
    Dispatch::async([this] { drain(); }, QualityOfService::utility);
}

void SharedAdbSync::drain() {
    for (;;) {
        std::string target;
        {
            std::lock_guard lock(mutex_);
            if (waiting_.empty()) {
                draining_ = false;
                idle_.notify_all();
                return;
            }
            target = std::move(waiting_.front());
            waiting_.pop_front();
        }
        try {
            syncNow(target);
        } catch (...) {
            // A best-effort task: nothing may escape it, nor pass unseen.
            Dispatch::reportTaskFailure("共享 5037 同步");
        }
    }
}

void SharedAdbSync::syncNow(const std::string& target) const {
    const auto state = probe_.adbTargetState(target, kShared);
    if (state == AdbTransportState::device && probe_.echoesReadyMarker(target, kAnswerTimeout, kShared)) {
        log("共享 5037 已能访问眼镜，Android Studio 可继续使用: " + target);
        return;
    }
    if (state == AdbTransportState::offline) {
        try {
            runner_.runAdb({"disconnect", target}, {.timeout = Seconds(kOfflineDisconnectTimeout), .check = false});
        } catch (const std::exception&) {
            // The connect below is what counts.
        }
    }
    std::string output;
    try {
        output = runner_.runAdb({"connect", target}, {.timeout = Seconds(kConnectTimeout), .check = false}).output;
    } catch (const std::exception& error) {
        log(std::string("共享 5037 同步失败，不影响当前投屏: ") + error.what());
        return;
    }
    if (readiness_.waitForAdbTargetResponsive(target, kSettleTimeout, kShared)) {
        log("已将眼镜同步到共享 5037，Android Studio 可继续调试: " + target);
    } else {
        log("共享 5037 暂未同步眼镜，不影响当前投屏: " + target + (output.empty() ? "" : "，" + output));
    }
}

void SharedAdbSync::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !draining_; });
}

}  // namespace orvan
