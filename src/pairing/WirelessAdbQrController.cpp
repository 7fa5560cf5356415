#include "pairing/WirelessAdbQrController.h"

#include <algorithm>
#include <utility>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "pairing/SessionId.h"
#include "pairing/WirelessAdbPayload.h"

namespace orvan {

WirelessAdbQrController::WirelessAdbQrController(MainQueue& mainQueue, WirelessAdbQrPage& page,
                                                 WirelessAdbQrHooks hooks, int preferredPort,
                                                 CallbackServerLimits limits)
    : main_(mainQueue),
      page_(page),
      hooks_(std::move(hooks)),
      preferredPort_(preferredPort),
      limits_(std::move(limits)),
      refreshToken_(makeSessionId()),
      sessionId_(makeSessionId()),
      disableSessionId_(makeSessionId()) {}

WirelessAdbQrController::~WirelessAdbQrController() {
    stop();
}

void WirelessAdbQrController::log(const std::string& line) const {
    if (hooks_.onLog) hooks_.onLog(line);
}

std::optional<std::string> WirelessAdbQrController::configuredWifiName() const {
    if (!activeWifiProfile_) return std::nullopt;
    return activeWifiProfile_->ssid;
}

void WirelessAdbQrController::refreshEnableQr() {
    stop();
    isShowingDisableQr_ = false;
    std::string old = std::exchange(sessionId_, makeSessionId());
    if (hooks_.onSessionChanged) hooks_.onSessionChanged(old, sessionId_);
    disableSessionId_ = makeSessionId();
    enableQrImage_.reset();
    activeWifiProfile_.reset();
    page_.showQrImage(std::nullopt);
    page_.configureEnableQrMode();

    auto address = hooks_.lanAddress ? hooks_.lanAddress() : std::nullopt;
    if (!address) {
        page_.showStatusState("未获取到局域网 IP", "", true);
        log("无线 ADB 二维码生成失败：无可用局域网 IP。");
        return;
    }
    page_.showStatusState("正在读取当前 Wi-Fi...", "将生成一次扫码联网并投屏的二维码。", false);
    refreshToken_ = makeSessionId();
    // The providers may read the keyring or run nmcli: never on the main thread.
    Dispatch::async(
        [weak = weak_from_this(), token = refreshToken_, address = *address, &main = main_,
         profileProvider = hooks_.wifiProfileProvider, nameProvider = hooks_.wifiNameProvider] {
            auto profile = profileProvider ? profileProvider() : std::nullopt;
            std::string name = text::trimmed(nameProvider ? nameProvider().value_or("") : "");
            main.post([weak, token, address, profile, name] {
                if (auto self = weak.lock()) self->finishRefresh(token, address, profile, name);
            });
        },
        QualityOfService::userInitiated);
}

void WirelessAdbQrController::finishRefresh(const std::string& token, const LanInterfaceAddress& address,
                                            const std::optional<WirelessAdbWifiProfile>& profile,
                                            const std::string& wifiName) {
    if (token != refreshToken_ || isShowingDisableQr_) return;  // a newer refresh or the disable code took over
    if (!profile) return askForMissingProfile(wifiName);
    try {
        auto server = std::make_unique<WirelessAdbCallbackServer>(
            kCallbackPath, hooks_.onLog,
            [weak = weak_from_this(), callback = hooks_.onCallback](const WirelessAdbCallback& message) {
                // The callback runs on a server worker: it reads only the closure it was given.
                if (weak.expired() || !callback) return WirelessAdbCallbackResponse{};
                return callback(message);
            },
            limits_);
        int port = server->start(preferredPort_);
        callbackServer_ = std::move(server);
        activeCallbackUrl_ = "http://" + address.address + ":" + std::to_string(port) + kCallbackPath;
        activeWifiProfile_ = profile;
        regenerateEnableQrImage(*activeCallbackUrl_, *profile);
    } catch (const MirrorError& error) {
        page_.showFailureState("回调监听失败，请重新生成二维码。", FailureAuthorizationAction::none, false);
        log(std::string("无线 ADB 二维码生成失败：") + error.what());
        return;
    }
    page_.configureEnableQrMode();
    page_.showWaitingState();
    // The SSID, never the password.
    log("无线 ADB 一次扫码二维码已生成: " + *activeCallbackUrl_ + "，Wi-Fi=" + profile->ssid +
        "，网卡=" + address.interfaceName);
}

void WirelessAdbQrController::askForMissingProfile(const std::string& wifiName) {
    if (wifiName.empty()) {
        if (hooks_.wifiAuthorizationRequired && hooks_.wifiAuthorizationRequired()) {
            page_.showFailureState("尚未授权读取当前 Wi-Fi。授权后将自动重新生成二维码。",
                                   FailureAuthorizationAction::wifiName, false);
        } else {
            page_.showFailureState("未读取到电脑当前 Wi-Fi 名称，请检查网络或手动配置。",
                                   FailureAuthorizationAction::none, false);
        }
    } else {
        std::string security = hooks_.wifiSecurityTypeProvider ? hooks_.wifiSecurityTypeProvider().value_or("") : "";
        std::transform(security.begin(), security.end(), security.begin(),
                       [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
        if (security == "EAP") {
            page_.showFailureState("当前 WiFi " + wifiName + " 是企业认证网络，请在“手动配置”中填写企业账号和密码。",
                                   FailureAuthorizationAction::none, false);
        } else {
            page_.showWifiPasswordState(wifiName);
        }
    }
    log("无线 ADB 二维码生成失败：未取得当前 Wi-Fi 配置，未输出任何密码信息。");
}

void WirelessAdbQrController::regenerateEnableQrImage(const std::string& callbackUrl,
                                                      const WirelessAdbWifiProfile& wifiProfile) {
    auto payload =
        makeWirelessAdbPayload(kEnableWirelessAdbPayload, sessionId_, callbackUrl, kWirelessAdbPort, wifiProfile);
    auto image = qrImage(payload, kQrScale);
    if (!image) throw MirrorError::message("二维码生成失败。");
    enableQrImage_ = std::move(image);
    page_.showQrImage(enableQrImage_);
}

QrModuleBitmap WirelessAdbQrController::makeDisableQrImage() {
    if (!activeCallbackUrl_) throw MirrorError::message("无线 ADB 回调服务未就绪，请先重新生成二维码。");
    disableSessionId_ = makeSessionId();
    auto payload = makeWirelessAdbPayload(kDisableWirelessAdbPayload, disableSessionId_, *activeCallbackUrl_,
                                          kWirelessAdbPort, std::nullopt);
    auto image = qrImage(payload, kQrScale);
    if (!image) throw MirrorError::message("关闭无线 ADB 二维码生成失败。");
    log("关闭无线 ADB 二维码已生成: " + *activeCallbackUrl_);
    return *image;
}

void WirelessAdbQrController::toggleDisableQrMode() {
    if (!isShowingDisableQr_) return showDisableQrMode();
    disableSessionId_ = makeSessionId();
    isShowingDisableQr_ = false;
    page_.configureEnableQrMode();
    page_.showQrImage(enableQrImage_);
    page_.showWaitingState();
}

void WirelessAdbQrController::showDisableQrMode() {
    std::optional<QrModuleBitmap> image;
    try {
        image = makeDisableQrImage();
    } catch (const MirrorError& error) {
        log(std::string("关闭无线 ADB 二维码生成失败：") + error.what());
        page_.showStatusState("关闭二维码生成失败", "请先重新生成扫码投屏二维码。", true);
        return;
    }
    isShowingDisableQr_ = true;
    page_.configureDisableQrMode("扫码关闭无线 ADB", "使用眼镜端扫一扫扫描二维码，关闭无线 ADB。", "返回开启二维码",
                                 "返回用于开启无线投屏的二维码");
    page_.showQrImage(image);
    page_.showStatusState("等待眼镜扫码关闭...", "扫码后将关闭无线 ADB，并停止该眼镜的无线投屏。", false);
}

void WirelessAdbQrController::completeDisableQr() {
    if (activeCallbackUrl_ && activeWifiProfile_) {
        try {
            regenerateEnableQrImage(*activeCallbackUrl_, *activeWifiProfile_);
        } catch (const MirrorError& error) {
            page_.showFailureState("开启二维码重新生成失败，请重试。", FailureAuthorizationAction::none, false);
            log(std::string("无线 ADB 关闭成功，但开启二维码重新生成失败：") + error.what());
            return;
        }
        disableSessionId_ = makeSessionId();
        isShowingDisableQr_ = false;
        page_.configureEnableQrMode();
        page_.showStatusState("无线 ADB 已关闭", "可继续扫描二维码开启新的无线投屏。", false);
        return;
    }
    disableSessionId_ = makeSessionId();
    isShowingDisableQr_ = false;
    page_.configureEnableQrMode();
    page_.showWaitingState();
}

void WirelessAdbQrController::updateDisableStatus(const std::string& title, const std::string& detail, bool isError) {
    main_.post([weak = weak_from_this(), title, detail, isError] {
        if (auto self = weak.lock()) self->page_.showStatusState(title, detail, isError);
    });
}

void WirelessAdbQrController::stop() {
    refreshToken_ = makeSessionId();
    if (callbackServer_) callbackServer_->stop();
    callbackServer_.reset();
    activeCallbackUrl_.reset();
}

}  // namespace orvan
