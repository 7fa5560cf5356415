#pragma once

#include <functional>
#include <memory>

#include "foundation/LogSink.h"
#include "platform/LocationProvider.h"

namespace orvan {

// The local-network permission as far as Linux has one: it has none, so the registration is a
// no-op that reports ready at once and confirms the permission flag (so no wireless connect pays
// the reachability pre-probe for a permission that does not exist), and the settings button can
// only tell the user where to look by hand. Main thread only.
class LocalNetworkPermission : public std::enable_shared_from_this<LocalNetworkPermission> {
public:
    struct Hooks {
        std::function<void(bool)> setConfirmed;  // MirrorService's local-network permission flag
        LogFunction log;
    };
    static constexpr const char* kWaitingForLocationLine = "等待位置权限处理完成后再请求本地网络权限。";
    static constexpr const char* kRequestingLine = "正在请求本地网络权限。";
    static constexpr const char* kReadyLine = "Linux 无需本地网络权限，登记探测已就绪。";
    static constexpr const char* kManualPathLine =
        "无法自动打开本地网络设置：Linux 没有本地网络权限设置，请手动检查防火墙是否允许局域网连接（TCP "
        "5555、18080-18089）。";

    LocalNetworkPermission(LocationProvider& location, Hooks hooks);

    // The launch-time request, once per run, after the location answer.
    void requestInitialAfterLocation();
    void requestRegistration();
    // The scan page's button: register now, then the settings (1.0 s later, on the main queue).
    void openPrivacySettings();
    void navigateToPrivacySettings();

private:
    LocationProvider& location_;
    Hooks hooks_;
    bool hasRequestedInitial_ = false;
};

}  // namespace orvan
