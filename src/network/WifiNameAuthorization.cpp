#include "network/WifiNameAuthorization.h"

#include "platform/Dispatch.h"

namespace orvan {
namespace {

constexpr Seconds kPromptFallback{3.0};

bool isRefused(LocationAuthorization state) {
    return state == LocationAuthorization::restricted || state == LocationAuthorization::denied;
}

}  // namespace

WifiNameAuthorization::WifiNameAuthorization(LocationProvider& location, Hooks hooks)
    : location_(location), hooks_(std::move(hooks)) {}

void WifiNameAuthorization::start() {
    std::weak_ptr<WifiNameAuthorization> weak = weak_from_this();
    location_.setOnAuthorizationChange([weak](LocationAuthorization state) {
        Dispatch::main().post([weak, state] {
            if (auto self = weak.lock()) self->authorizationChanged(state);
        });
    });
    auto state = location_.authorization();
    if (isRefused(state)) {
        hooks_.log("无法自动读取当前 Wi-Fi 名称：位置权限未开启，可在系统设置中授权或手动输入 Wi-Fi。");
    } else if (isAuthorized(state)) {
        refreshAndRegenerate();
    } else {
        location_.requestWhenInUseAuthorization();
    }
}

void WifiNameAuthorization::refreshAndRegenerate() {
    hooks_.refreshWifiName();
    hooks_.regenerateEnableQr();
}

void WifiNameAuthorization::authorizationChanged(LocationAuthorization state) {
    if (isRefused(state)) {
        ++fallbackGeneration_;
        hooks_.showScanFailure(kDeniedFailure);
        hooks_.log("自动读取当前 Wi-Fi 名称的权限被拒绝，可在系统设置中授权或手动输入 Wi-Fi。");
        hooks_.continueLocalNetworkRequest();
    } else if (isAuthorized(state)) {
        ++fallbackGeneration_;
        bool userWasWaiting = waiting_;
        waiting_ = false;
        refreshAndRegenerate();
        if (userWasWaiting) hooks_.openWifiSetupWindow();
        hooks_.continueLocalNetworkRequest();
    }
}

void WifiNameAuthorization::requestFromFailure() {
    hooks_.showScanStatus("正在请求 Wi-Fi 读取授权...");
    auto state = location_.authorization();
    if (isRefused(state)) {
        waiting_ = true;
        openLocationPrivacySettings();
        hooks_.log("已打开系统定位服务设置，请允许 OrvanMirror 读取当前 Wi-Fi 名称。");
    } else if (isAuthorized(state)) {
        waiting_ = false;
        refreshAndRegenerate();
        hooks_.openWifiSetupWindow();
    } else {
        waiting_ = true;
        location_.requestWhenInUseAuthorization();
        // The system may never show its prompt: after a while, send the user to the settings.
        uint64_t generation = ++fallbackGeneration_;
        std::weak_ptr<WifiNameAuthorization> weak = weak_from_this();
        Dispatch::main().postAfter(kPromptFallback, [weak, generation] {
            auto self = weak.lock();
            if (!self || generation != self->fallbackGeneration_ || !self->waiting_) return;
            if (isAuthorized(self->location_.authorization())) return;
            self->hooks_.showScanFailure(kNoPromptFailure);
            self->openLocationPrivacySettings();
            self->hooks_.log("系统未自动展示定位授权弹窗，已打开定位服务设置。");
        });
    }
}

void WifiNameAuthorization::openLocationPrivacySettings() {
    // A page that cannot be opened is ignored; the log line tells the user where to go.
    if (hooks_.openLocationSettings) hooks_.openLocationSettings();
}

}  // namespace orvan
