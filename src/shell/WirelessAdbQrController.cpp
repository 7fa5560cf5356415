#include "shell/WirelessAdbQrController.h"

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
    stopServer();
}

void WirelessAdbQrController::renewDisableSession() {
    disableSessionId_ = makeSessionId();
    if (hooks_.onDisableSessionChanged) hooks_.onDisableSessionChanged(disableSessionId_);
}

void WirelessAdbQrController::log(const std::string& line) const {
    if (hooks_.onLog) hooks_.onLog(line);
}

std::optional<std::string> WirelessAdbQrController::configuredWifiName() const {
    if (!activeWifiProfile_) return std::nullopt;
    return activeWifiProfile_->ssid;
}

void WirelessAdbQrController::refreshEnableQr() {
    stopServer();
    isShowingDisableQr_ = false;
    std::string old = std::exchange(sessionId_, makeSessionId());
    if (hooks_.onSessionChanged) hooks_.onSessionChanged(old, sessionId_);
    renewDisableSession();
    enableQrImage_.reset();
    activeWifiProfile_.reset();
    page_.showQrImage(std::nullopt);
    configureEnableQrMode();

    auto address = hooks_.lanAddress ? hooks_.lanAddress() : std::nullopt;
    if (!address) {
        showFailureState("未获取到局域网 IP", FailureAuthorizationAction::none, false);
        log("无线 ADB 二维码生成失败：无可用局域网 IP。");
        return;
    }
    page_.showStatusState("正在读取当前 Wi-Fi...", "将生成一次扫码联网并投屏的二维码。", StatusColor::normal);
    refreshToken_ = makeSessionId();
    // The providers may read the keyring or run nmcli: never on the main thread.
    Dispatch::async(
        [weak = weak_from_this(), token = refreshToken_, address = *address, &main = main_,
         profileProvider = hooks_.wifiProfileProvider, nameProvider = hooks_.wifiNameProvider,
         securityProvider = hooks_.wifiSecurityTypeProvider, savedNames = hooks_.savedWifiNames] {
            WifiReading reading;
            reading.profile = profileProvider ? profileProvider() : std::nullopt;
            reading.wifiName = text::trimmed(nameProvider ? nameProvider().value_or("") : "");
            if (!reading.profile && !reading.wifiName.empty() && securityProvider)
                reading.securityType = securityProvider();
            if (!reading.profile && reading.wifiName.empty() && savedNames) reading.savedWifiNames = savedNames();
            main.post([weak, token, address, reading] {
                if (auto self = weak.lock()) self->finishRefresh(token, address, reading);
            });
        },
        QualityOfService::userInitiated);
}

void WirelessAdbQrController::finishRefresh(const std::string& token, const LanInterfaceAddress& address,
                                            const WifiReading& reading) {
    if (token != refreshToken_ || isShowingDisableQr_) return;  // a newer refresh or the disable code took over
    currentWifiName_ = reading.wifiName;
    auto profile = reading.profile;
    // A computer on a cable: the glasses join the network the user chose for them.
    if (!profile && reading.wifiName.empty()) profile = chosenWifiProfile_;
    if (profile) return startCallbackServerAndCode(address, *profile, !reading.wifiName.empty());
    const bool authorizationMissing = hooks_.wifiAuthorizationRequired && hooks_.wifiAuthorizationRequired();
    if (reading.wifiName.empty() && !authorizationMissing) {
        if (reading.savedWifiNames.empty()) {
            showFailureState("电脑未连接 Wi-Fi，也没有已保存的 WiFi 配置。请在“手动配置”中填写眼镜要连接的 WiFi。",
                             FailureAuthorizationAction::none, false);
        } else {
            page_.showWifiChoiceState("选择眼镜要连接的 WiFi", reading.savedWifiNames);
        }
        log("电脑未连接 Wi-Fi（网卡 " + address.interfaceName + "，地址 " + address.address + "），已保存的 WiFi 配置 " +
            std::to_string(reading.savedWifiNames.size()) + " 个。");
        return;
    }
    askForMissingProfile(reading.wifiName, reading.securityType);
}

void WirelessAdbQrController::startCallbackServerAndCode(const LanInterfaceAddress& address,
                                                         const WirelessAdbWifiProfile& profile,
                                                         bool computerHasWifi) {
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
        regenerateEnableQrImage(*activeCallbackUrl_, profile);
    } catch (const MirrorError& error) {
        showFailureState("回调监听失败，请重新生成二维码。", FailureAuthorizationAction::none, false);
        log(std::string("无线 ADB 二维码生成失败：") + error.what());
        return;
    }
    configureEnableQrMode();
    showWaitingState();
    // The SSID, never the password.
    log("无线 ADB 一次扫码二维码已生成: " + *activeCallbackUrl_ + "，Wi-Fi=" + profile.ssid +
        "，网卡=" + address.interfaceName);
    if (!computerHasWifi)
        log("电脑未连接 Wi-Fi：二维码使用 WiFi " + profile.ssid + " 和网卡 " + address.interfaceName + " 的地址 " +
            address.address + "。");
}

void WirelessAdbQrController::askForMissingProfile(const std::string& wifiName,
                                                   const std::optional<std::string>& securityType) {
    if (wifiName.empty()) {
        // Only the missing authorization leaves the name unknown here; a computer without Wi-Fi
        // was offered the saved networks.
        showFailureState("尚未授权读取当前 Wi-Fi。授权后将自动重新生成二维码。", FailureAuthorizationAction::wifiName,
                         false);
    } else if (text::uppercased(securityType.value_or("")) == "EAP") {
        showFailureState("当前 WiFi " + wifiName + " 是企业认证网络，请在“手动配置”中填写企业账号和密码。",
                         FailureAuthorizationAction::none, false);
    } else {
        showWifiPasswordState(wifiName);
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
    renewDisableSession();
    auto payload = makeWirelessAdbPayload(kDisableWirelessAdbPayload, disableSessionId_, *activeCallbackUrl_,
                                          kWirelessAdbPort, std::nullopt);
    auto image = qrImage(payload, kQrScale);
    if (!image) throw MirrorError::message("关闭无线 ADB 二维码生成失败。");
    log("关闭无线 ADB 二维码已生成: " + *activeCallbackUrl_);
    return *image;
}

void WirelessAdbQrController::toggleDisableQrMode() {
    userActed();
    if (!isShowingDisableQr_) return showDisableQrMode();
    renewDisableSession();
    isShowingDisableQr_ = false;
    configureEnableQrMode();
    page_.showQrImage(enableQrImage_);
    showWaitingState();
}

void WirelessAdbQrController::showDisableQrMode() {
    std::optional<QrModuleBitmap> image;
    try {
        image = makeDisableQrImage();
    } catch (const MirrorError& error) {
        log(std::string("关闭无线 ADB 二维码生成失败：") + error.what());
        page_.showStatusState("关闭二维码生成失败", "请先重新生成扫码投屏二维码。", StatusColor::error);
        return;
    }
    isShowingDisableQr_ = true;
    page_.configureQrMode("扫码关闭无线 ADB", "使用眼镜端扫一扫扫描二维码，关闭无线 ADB。", "返回开启二维码",
                                 "返回用于开启无线投屏的二维码");
    page_.showQrImage(image);
    page_.showStatusState("等待眼镜扫码关闭...", "扫码后将关闭无线 ADB，并停止该眼镜的无线投屏。",
                          StatusColor::normal);
}

void WirelessAdbQrController::completeDisableQr() {
    if (activeCallbackUrl_ && activeWifiProfile_) {
        try {
            regenerateEnableQrImage(*activeCallbackUrl_, *activeWifiProfile_);
        } catch (const MirrorError& error) {
            showFailureState("开启二维码重新生成失败，请重试。", FailureAuthorizationAction::none, false);
            log(std::string("无线 ADB 关闭成功，但开启二维码重新生成失败：") + error.what());
            return;
        }
        renewDisableSession();
        isShowingDisableQr_ = false;
        configureEnableQrMode();
        page_.showStatusState("无线 ADB 已关闭", "可继续扫描二维码开启新的无线投屏。", StatusColor::normal);
        return;
    }
    renewDisableSession();
    isShowingDisableQr_ = false;
    configureEnableQrMode();
    showWaitingState();
}

void WirelessAdbQrController::updateDisableStatus(const std::string& title, const std::string& detail, bool isError) {
    main_.post([weak = weak_from_this(), title, detail, isError] {
        if (auto self = weak.lock())
            self->page_.showStatusState(title, detail, isError ? StatusColor::error : StatusColor::normal);
    });
}

void WirelessAdbQrController::stop() {
    stopServer();
    // The code shown is void: the connection tasks of its READYs stop at their next step.
    std::string old = std::exchange(sessionId_, makeSessionId());
    if (hooks_.onSessionChanged) hooks_.onSessionChanged(old, sessionId_);
}

void WirelessAdbQrController::stopServer() {
    refreshToken_ = makeSessionId();
    if (callbackServer_) callbackServer_->stop();
    callbackServer_.reset();
    activeCallbackUrl_.reset();
}

void WirelessAdbQrController::onMain(std::function<void(WirelessAdbQrController&)> work) {
    main_.post([weak = weak_from_this(), work = std::move(work)] {
        if (auto self = weak.lock()) work(*self);
    });
}

void WirelessAdbQrController::configureEnableQrMode() {
    isShowingDisableQr_ = false;
    page_.configureQrMode("扫码开启无线投屏", "扫描一次二维码，自动连接目标 WiFi 并开启无线投屏。", "扫码关闭无线 ADB",
                          "扫码后会停止无线投屏并关闭眼镜 TCP 5555 端口，但不影响 USB 调试。");
}

void WirelessAdbQrController::showWaitingState() {
    if (!activeMirrorSessions_.empty()) {
        page_.showStatusState("投屏已启动", std::to_string(activeMirrorSessions_.size()) + " 台设备正在投屏。",
                              StatusColor::normal);
        return;
    }
    if (passwordNotice_) return page_.showWaitingStatus("未记住密码", *passwordNotice_, StatusColor::warning);
    auto configured = configuredWifiName();
    const std::string target = configured && !configured->empty() ? *configured : "目标 WiFi";
    if (!currentWifiName_.empty() && currentWifiName_ != target) {
        page_.showWaitingStatus("等待眼镜扫码...",
                              "目标 WiFi“" + target + "”与电脑当前 WiFi“" + currentWifiName_ +
                                  "”不同，请确认两个网络可以互相访问。",
                              StatusColor::warning);
        return;
    }
    page_.showWaitingStatus("等待眼镜扫码...", "扫码后将先连接“" + target + "”，再开启无线 ADB 并连接本电脑。",
                          StatusColor::normal);
}

std::string WirelessAdbQrController::detailText(ScanStatusPhase phase) {
    return phase == ScanStatusPhase::connecting ? "已收到眼镜回调，正在连接无线 ADB。" : "";
}

void WirelessAdbQrController::showStatus(const ScanStatus& status) {
    onMain([status](WirelessAdbQrController& self) { self.applyStatus(status); });
}

void WirelessAdbQrController::applyStatus(const ScanStatus& status) {
    if (isShowingDisableQr_) return;
    if (status.isError) return showFailureState(status.text, FailureAuthorizationAction::none, status.isPermanentError);
    if (!activeMirrorSessions_.empty() && status.phase == ScanStatusPhase::connecting) {
        page_.showStatusState("正在连接新设备", "现有投屏保持不变，已收到眼镜回调，正在连接无线 ADB。",
                              StatusColor::normal);
        return;
    }
    page_.showStatusState(status.text, detailText(status.phase), StatusColor::normal);
}

void WirelessAdbQrController::showFailureState(const std::string& message, FailureAuthorizationAction action,
                                               bool isPermanentError) {
    if (!activeMirrorSessions_.empty()) {
        // The running mirrors stay the page's news; the failed newcomer is the detail.
        page_.showStatusState("投屏已启动", "新设备连接失败：" + message, StatusColor::error);
        return;
    }
    failureAuthorizationAction_ = action;
    std::optional<AuthorizationButton> button;
    if (action == FailureAuthorizationAction::wifiName) {
        button = AuthorizationButton{"重新授权", "授权应用读取电脑当前 Wi-Fi 名称，并重新尝试生成二维码"};
    } else if (action == FailureAuthorizationAction::localNetwork) {
        button = AuthorizationButton{"打开本地网络设置", "查看本机防火墙与网络设置，允许 OrvanMirror 访问眼镜"};
    }
    page_.showFailureState(message, button, isPermanentError);
}

void WirelessAdbQrController::showWifiAuthorizationFailure(const std::string& message) {
    onMain([message](WirelessAdbQrController& self) {
        self.showFailureState(message, FailureAuthorizationAction::wifiName, false);
    });
}

void WirelessAdbQrController::showLocalNetworkFailure(const std::string& message) {
    onMain([message](WirelessAdbQrController& self) {
        self.showFailureState(message, FailureAuthorizationAction::localNetwork, false);
    });
}

void WirelessAdbQrController::performFailureAuthorizationAction() {
    switch (failureAuthorizationAction_) {
        case FailureAuthorizationAction::wifiName:
            if (hooks_.onRequestWifiAuthorization) hooks_.onRequestWifiAuthorization();
            break;
        case FailureAuthorizationAction::localNetwork:
            if (hooks_.onOpenLocalNetworkSettings) hooks_.onOpenLocalNetworkSettings();
            break;
        case FailureAuthorizationAction::none:
            break;
    }
}

void WirelessAdbQrController::showWifiPasswordState(const std::string& ssid) {
    pendingWifiName_ = ssid;
    page_.resetWifiPasswordFields();
    isInlinePasswordVisible_ = false;
    page_.setInlinePasswordVisible(false);
    page_.showWifiPasswordState("请填写当前 WiFi " + ssid + " 的 WiFi 密码");
}

void WirelessAdbQrController::toggleInlinePasswordVisibility() {
    isInlinePasswordVisible_ = !isInlinePasswordVisible_;
    page_.setInlinePasswordVisible(isInlinePasswordVisible_);
}

void WirelessAdbQrController::saveInlineWifiPassword() {
    if (isSavingInlinePassword_) return;  // the keyring is still busy with the last press
    userActed();
    const std::string name = pendingWifiName_.value_or("");
    if (name.empty()) {
        showFailureState("未读取到电脑当前 Wi-Fi 名称，请检查网络或手动配置。", FailureAuthorizationAction::none, false);
        return;
    }
    const std::string password = page_.inlineWifiPassword();
    if (password.empty()) {
        page_.setWifiPasswordPrompt("密码不能为空，请填写当前 WiFi " + name + " 的 WiFi 密码");
        page_.beep();
        return;
    }
    WirelessAdbWifiProfile profile{.ssid = name, .password = password, .securityType = "WPA"};
    if (!profile.isValidForAutomaticConnection()) {
        page_.setWifiPasswordPrompt("密码格式不正确，请填写 " + name + " 的 8-63 位 WiFi 密码");
        page_.beep();
        return;
    }
    const bool remember = page_.isRememberPasswordChecked();
    isSavingInlinePassword_ = true;
    // The keyring may take its time: never on the main thread.
    Dispatch::async(
        [weak = weak_from_this(), &main = main_, persist = hooks_.persistWifiProfile, profile, remember, name] {
            WifiPersistOutcome outcome;
            if (persist) {
                outcome = persist(profile, remember);
            } else {
                outcome.failure = "没有可用的密码存储";
            }
            main.post([weak, name, outcome] {
                if (auto self = weak.lock()) self->finishInlineSave(name, outcome);
            });
        },
        QualityOfService::userInitiated);
}

void WirelessAdbQrController::finishInlineSave(const std::string& name, const WifiPersistOutcome& outcome) {
    isSavingInlinePassword_ = false;
    if (outcome.failure) {
        // Not fatal: the profile is cached for this run, so the code is still made. That the
        // password was not remembered stays on the page (through every refresh) until the user acts.
        page_.setWifiPasswordPrompt("密码处理失败：" + *outcome.failure);
        passwordNotice_ = "密码处理失败：" + *outcome.failure + "。本次运行仍使用该密码，下次启动需重新填写。";
        page_.beep();
        log("当前 Wi-Fi " + name + " 的密码保存设置失败；未输出密码信息。");
    }
    page_.resetWifiPasswordFields();
    log("已填写当前 Wi-Fi " + name + " 的密码，" + (outcome.saved ? "已安全保存到系统密钥环" : "仅在本次运行中使用") +
        "，正在重新生成扫码投屏二维码；未输出密码信息。");
    if (hooks_.postWifiProfileUpdated) hooks_.postWifiProfileUpdated();
}

void WirelessAdbQrController::updateActiveMirrors(const std::vector<ActiveMirrorSession>& sessions) {
    onMain([sessions](WirelessAdbQrController& self) { self.applyActiveMirrors(sessions); });
}

void WirelessAdbQrController::applyActiveMirrors(const std::vector<ActiveMirrorSession>& sessions) {
    if (sessions == activeMirrorSessions_) return;
    const bool hadMirrors = !activeMirrorSessions_.empty();
    activeMirrorSessions_ = sessions;
    std::vector<MirrorStopButton> buttons;
    for (const auto& session : sessions) {
        buttons.push_back({session.id, "停止投屏（" + session.displayName + "）",
                           "停止 " + session.displayName + " 的投屏，保留无线 ADB 连接"});
    }
    page_.showActiveMirrorButtons(buttons);
    if (isShowingDisableQr_) return;
    if (!sessions.empty()) {
        page_.showStatusState("投屏已启动", std::to_string(sessions.size()) + " 台设备正在投屏。", StatusColor::normal);
    } else if (hadMirrors) {
        page_.showStatusState("投屏已停止", "可继续扫描二维码开启新的无线投屏。", StatusColor::normal);
    }
}

void WirelessAdbQrController::stopMirrorFromStatus(const std::string& id) {
    auto found = std::find_if(activeMirrorSessions_.begin(), activeMirrorSessions_.end(),
                              [&](const auto& session) { return session.id == id; });
    if (found == activeMirrorSessions_.end() || !hooks_.onStopMirroring) return;
    page_.setActiveMirrorButtonEnabled(id, false);
    hooks_.onStopMirroring(id, [weak = weak_from_this(), id](bool stopped) {
        auto self = weak.lock();
        if (!self || stopped) return;
        // The mirror still runs: its button must work again.
        auto& sessions = self->activeMirrorSessions_;
        if (std::any_of(sessions.begin(), sessions.end(), [&](const auto& session) { return session.id == id; }))
            self->page_.setActiveMirrorButtonEnabled(id, true);
    });
}

void WirelessAdbQrController::configureWifi() {
    userActed();
    if (hooks_.onConfigureWifi) hooks_.onConfigureWifi();
}

void WirelessAdbQrController::regenerateEnableQr() {
    userActed();
    refreshEnableQr();
}

void WirelessAdbQrController::chooseSavedWifi(const std::string& ssid) {
    userActed();
    const std::string token = refreshToken_;
    // The keyring may take its time: never on the main thread.
    Dispatch::async(
        [weak = weak_from_this(), &main = main_, read = hooks_.savedWifiProfile, ssid, token] {
            auto profile = read ? read(ssid) : std::nullopt;
            main.post([weak, ssid, profile, token] {
                auto self = weak.lock();
                if (self && token == self->refreshToken_) self->finishSavedWifiChoice(ssid, profile);
            });
        },
        QualityOfService::userInitiated);
}

void WirelessAdbQrController::finishSavedWifiChoice(const std::string& ssid,
                                                    const std::optional<WirelessAdbWifiProfile>& profile) {
    if (!profile || !profile->isValidForAutomaticConnection()) {
        showFailureState("未能读取已保存的 WiFi " + ssid + " 的配置，请在“手动配置”中重新填写。",
                         FailureAuthorizationAction::none, false);
        log("已保存的 WiFi " + ssid + " 的配置读取失败；未输出密码信息。");
        return;
    }
    chosenWifiProfile_ = profile;
    refreshEnableQr();
}

void WirelessAdbQrController::refreshWifiProfile() {
    if (!isShowingDisableQr_) refreshEnableQr();
}

void WirelessAdbQrController::refreshForNetworkChange() {
    refreshEnableQr();
}

void WirelessAdbQrController::wifiProfileUpdated() {
    refreshWifiProfile();
}

}  // namespace orvan
