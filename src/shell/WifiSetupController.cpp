#include "shell/WifiSetupController.h"

#include <algorithm>

#include "foundation/Text.h"
#include "network/WifiProfilePersistence.h"
#include "platform/Dispatch.h"

namespace orvan {
namespace {

constexpr size_t kMaxSsidBytes = 32;

std::optional<std::string> trimmedAnswer(const std::function<std::optional<std::string>()>& source) {
    if (!source) return std::nullopt;
    auto answer = source();
    if (!answer) return std::nullopt;
    auto value = text::trimmed(*answer);
    if (value.empty()) return std::nullopt;
    return value;
}

bool sameSecurity(const WirelessAdbWifiProfile& profile, const std::string& code) {
    return text::uppercased(profile.securityType) == text::uppercased(code);
}

}  // namespace

std::string securityCodeForIndex(int index) {
    if (index == 1) return "EAP";
    if (index == 2) return "NOPASS";
    return "WPA";
}

int securityIndexForCode(const std::string& code) {
    auto upper = text::uppercased(code);
    if (upper == "EAP") return 1;
    if (upper == "NOPASS") return 2;
    return 0;
}

WifiSetupController::WifiSetupController(Sources sources, WifiSetupView& view)
    : sources_(std::move(sources)), view_(view) {}

void WifiSetupController::inBackground(uint64_t WifiSetupController::*generation, std::function<Finish()> work) {
    const uint64_t expected = this->*generation;
    std::weak_ptr<WifiSetupController> weak = weak_from_this();
    const bool started = tasks_.async(
        [weak, generation, expected, work = std::move(work)] {
            Finish finish;
            try {
                finish = work();
            } catch (...) {
                Dispatch::reportTaskFailure("WiFi 设置窗口");
            }
            Dispatch::main().post([weak, generation, expected, finish] {
                auto self = weak.lock();
                if (!self) return;
                --self->pending_;
                if (!finish || (*self).*generation != expected) return;
                finish(*self);
                self->render();
            });
        },
        QualityOfService::userInitiated);
    if (started) ++pending_;
}

WifiSetupController::Detected WifiSetupController::detect(const Sources& sources) {
    Detected detected;
    detected.name = trimmedAnswer(sources.currentWifiName);
    if (!detected.name) return detected;
    detected.code = trimmedAnswer(sources.currentWifiSecurityType).value_or("WPA");
    auto usable = [&](const std::optional<WirelessAdbWifiProfile>& profile) {
        return profile && sameSecurity(*profile, detected.code) && profile->isValidForAutomaticConnection();
    };
    if (auto cached = sources.cache->profile(*detected.name); usable(cached)) {
        detected.profile = cached;
        detected.persisted = sources.cache->isPersisted(*detected.name);
        return detected;
    }
    std::optional<WirelessAdbWifiProfile> stored;
    try {
        stored = sources.store->profile(*detected.name);
    } catch (const WirelessAdbWifiCredentialError&) {
        // A keyring that cannot be read counts as nothing stored; the user types the password.
    }
    if (usable(stored)) {
        sources.cache->save(*stored, true);
        detected.profile = stored;
        detected.persisted = true;
    }
    return detected;
}

void WifiSetupController::refreshCurrentWifiFields() {
    form_.qrCode.reset();
    clearCredentials();
    form_.passwordVisible = false;
    // Nothing of the last opening shows while the network is read; what the user types meanwhile
    // stays (the answer is dropped after an edit).
    form_.ssid.clear();
    currentDetectedSsid_.reset();
    selectSecurityType("WPA");
    setMessage("正在读取电脑当前 WiFi...", WifiSetupTone::neutral);
    ++fillGeneration_;
    ++messageGeneration_;
    render();
    inBackground(&WifiSetupController::fillGeneration_, [sources = sources_]() -> Finish {
        auto detected = detect(sources);
        return [detected](WifiSetupController& self) { self.applyDetected(detected); };
    });
}

void WifiSetupController::applyDetected(const Detected& detected) {
    if (!detected.name) {
        currentDetectedSsid_.reset();
        form_.ssid.clear();
        selectSecurityType("WPA");
        setMessage("未读取到电脑当前 WiFi 名称，请确认电脑已连接 WiFi 或手动输入。", WifiSetupTone::warning);
        return;
    }
    const std::string& name = *detected.name;
    currentDetectedSsid_ = name;
    form_.ssid = name;
    selectSecurityType(detected.code);
    if (detected.profile) {
        selectSecurityType(detected.profile->securityType);
        form_.enterpriseIdentity = detected.profile->enterpriseIdentity;
        form_.password = detected.profile->password;
        form_.rememberPassword = detected.persisted;
        setMessage("当前 WiFi：" + name + "。已载入保存的配置。", WifiSetupTone::neutral);
        return;
    }
    if (text::uppercased(detected.code) == "EAP")
        setMessage("当前 WiFi " + name + " 为企业认证网络，请填写企业账号和密码。", WifiSetupTone::warning);
    else
        setMessage("当前 WiFi：" + name + "。请输入密码后选择操作。", WifiSetupTone::warning);
}

void WifiSetupController::selectSecurityType(const std::string& code) {
    form_.securityIndex = securityIndexForCode(code);
}

void WifiSetupController::clearCredentials() {
    form_.password.clear();
    form_.enterpriseIdentity.clear();
    form_.rememberPassword = false;
}

void WifiSetupController::setMessage(std::string text, WifiSetupTone tone) {
    form_.message = std::move(text);
    form_.tone = tone;
}

void WifiSetupController::ssidChanged(const std::string& text) {
    form_.ssid = text;
    // A stored password never shows for another network than the one it was loaded for.
    clearCredentials();
    ++fillGeneration_;
    ++messageGeneration_;
    bool detectedNetwork = currentDetectedSsid_ && text::trimmed(text) == *currentDetectedSsid_;
    if (!detectedNetwork) selectSecurityType("WPA");
    render();
    updateNetworkMismatchMessage("WiFi 名称已修改。", detectedNetwork);
}

void WifiSetupController::securityTypeChanged(int index) {
    clearCredentials();
    form_.securityIndex = std::clamp(index, 0, 2);
    ++fillGeneration_;
    ++messageGeneration_;
    render();
    updateNetworkMismatchMessage("安全类型已修改。", false);
}

void WifiSetupController::identityChanged(const std::string& text) {
    form_.enterpriseIdentity = text;
    ++fillGeneration_;
}

void WifiSetupController::passwordChanged(const std::string& text) {
    form_.password = text;
    ++fillGeneration_;
}

void WifiSetupController::rememberChanged(bool checked) {
    form_.rememberPassword = checked;
    ++fillGeneration_;
}

void WifiSetupController::togglePasswordVisibility() {
    form_.passwordVisible = !form_.passwordVisible;
    render();
}

void WifiSetupController::updateNetworkMismatchMessage(const std::string& prefix, bool followDetectedType) {
    // The computer may have changed networks since the window opened: ask again.
    inBackground(&WifiSetupController::messageGeneration_,
                 [sources = sources_, typed = text::trimmed(form_.ssid), prefix, followDetectedType]() -> Finish {
                     auto current = trimmedAnswer(sources.currentWifiName);
                     std::optional<std::string> code;
                     if (followDetectedType) code = trimmedAnswer(sources.currentWifiSecurityType).value_or("WPA");
                     return [=](WifiSetupController& self) {
                         if (code) self.selectSecurityType(*code);
                         if (!typed.empty() && current && typed != *current)
                             self.setMessage(prefix + " 目标 WiFi " + typed + " 与电脑当前 WiFi " + *current + " 不同。",
                                             WifiSetupTone::warning);
                         else
                             self.setMessage(prefix + " 请填写对应凭据后选择操作。", WifiSetupTone::neutral);
                     };
                 });
}

std::optional<WirelessAdbWifiProfile> WifiSetupController::validatedProfile() {
    auto ssid = text::trimmed(form_.ssid);
    auto reject = [this](const char* message) -> std::optional<WirelessAdbWifiProfile> {
        setMessage(message, WifiSetupTone::warning);
        render();
        return std::nullopt;
    };
    if (ssid.empty()) return reject("请先填写 WiFi 名称。");
    // Said apart from the password rules, which a too long name would otherwise seem to break.
    if (ssid.size() > kMaxSsidBytes) return reject("WiFi 名称不能超过 32 字节。");
    const int index = form_.securityIndex;
    const bool enterprise = index == 1;
    WirelessAdbWifiProfile profile{.ssid = ssid,
                                   .password = index == 2 ? std::string() : form_.password,
                                   .securityType = securityCodeForIndex(index),
                                   .enterpriseIdentity = enterprise ? text::trimmed(form_.enterpriseIdentity) : "",
                                   .eapMethod = enterprise ? "PEAP" : "",
                                   .phase2Method = enterprise ? "MSCHAPV2" : ""};
    if (profile.isValidForAutomaticConnection()) return profile;
    return reject(enterprise ? "请填写企业账号和密码；当前仅支持 PEAP + MSCHAPV2。"
                             : "WPA/WPA2 密码需为 8-63 位，或 64 位十六进制 PSK。");
}

bool WifiSetupController::generateWifiQrCode() {
    ++messageGeneration_;  // this operation's message replaces any still on its way
    auto profile = validatedProfile();
    if (!profile) return false;
    auto payload = wifiPayload(*profile);
    auto image = payload ? qrImage(*payload, kWifiQrScale) : std::nullopt;
    if (!image) {
        setMessage("二维码生成失败，请重试。", WifiSetupTone::warning);
        render();
        return false;
    }
    form_.qrCode = image;
    render();
    saveInBackground(*profile, false);
    return true;
}

void WifiSetupController::applyWifiProfileToHome() {
    ++messageGeneration_;
    auto profile = validatedProfile();
    if (!profile) return;
    saveInBackground(*profile, true);
}

void WifiSetupController::saveInBackground(const WirelessAdbWifiProfile& profile, bool applyToHome) {
    // The keyring may take seconds. A refused save is not fatal: the profile is still cached for
    // this run (and applied), and the message says the credentials were not kept.
    inBackground(&WifiSetupController::messageGeneration_,
                 [sources = sources_, profile, remember = form_.rememberPassword, applyToHome]() -> Finish {
                     std::string prefix =
                         applyToHome ? orvan::applyWifiProfileToHome(*sources.store, *sources.cache, profile, remember)
                                     : "联网二维码已生成。" +
                                           persistAndCacheWifiProfile(*sources.store, *sources.cache, profile, remember)
                                               .suffix;
                     auto current = trimmedAnswer(sources.currentWifiName);
                     return [=](WifiSetupController& self) { self.setOperationMessage(prefix, profile, current); };
                 });
}

void WifiSetupController::setOperationMessage(const std::string& prefix, const WirelessAdbWifiProfile& profile,
                                              const std::optional<std::string>& current) {
    if (!current)
        setMessage(prefix + " 未读取到电脑当前 WiFi，请确认电脑与目标网络互通。", WifiSetupTone::warning);
    else if (*current == profile.ssid)
        setMessage(prefix, WifiSetupTone::neutral);
    else
        setMessage(prefix + " 注意：目标 WiFi " + profile.ssid + " 与电脑当前 WiFi " + *current + " 不同，请确认两者网络互通。",
                   WifiSetupTone::warning);
}

}  // namespace orvan
