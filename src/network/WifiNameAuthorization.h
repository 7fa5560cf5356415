#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/LogSink.h"
#include "platform/LocationProvider.h"

namespace orvan {

// The permission flows around reading the Wi-Fi name. Linux's provider is always authorised, so
// in the app only the authorised branches run (refresh the name, regenerate the code); the other
// branches serve providers that gate the name, and tests drive them with the fake provider.
// Main thread only; create with std::make_shared.
class WifiNameAuthorization : public std::enable_shared_from_this<WifiNameAuthorization> {
public:
    struct Hooks {
        std::function<void()> refreshWifiName;                    // updateCurrentWifiNameAfterAuthorization
        std::function<void()> regenerateEnableQr;                 // when the scan page runs and shows the enable code
        std::function<void(const std::string&)> showScanFailure;  // the Wi-Fi-authorization failure
        std::function<void(const std::string&)> showScanStatus;
        std::function<void()> openWifiSetupWindow;   // fresh fields, brought to the front
        std::function<bool()> openLocationSettings;  // false when there is no page to open
        std::function<void()> continueLocalNetworkRequest;
        LogFunction log;
    };
    static constexpr const char* kDeniedFailure =
        "系统定位权限未开启，无法读取当前 Wi-Fi。请在系统设置中允许后重试，或手动配置。";
    static constexpr const char* kNoPromptFailure = "系统未自动弹出授权确认。请在定位服务中开启 OrvanMirror 后返回。";

    WifiNameAuthorization(LocationProvider& location, Hooks hooks);

    // At launch: follows the provider's changes and acts on the current state.
    void start();
    void authorizationChanged(LocationAuthorization state);
    // The scan page's authorization button.
    void requestFromFailure();
    // The scan page's wifiAuthorizationRequired.
    bool wifiAuthorizationRequired() const { return !isAuthorized(location_.authorization()); }
    bool isWaitingForAuthorization() const { return waiting_; }
    // The user came back: stop waiting and drop the pending fallback.
    void stopWaiting() {
        waiting_ = false;
        ++fallbackGeneration_;
    }

private:
    void openLocationPrivacySettings();
    void refreshAndRegenerate();

    LocationProvider& location_;
    Hooks hooks_;
    bool waiting_ = false;
    uint64_t fallbackGeneration_ = 0;  // a new timer or a cancel makes older timers harmless
};

}  // namespace orvan
