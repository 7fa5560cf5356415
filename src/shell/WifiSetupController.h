#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "network/QrModuleBitmap.h"
#include "network/WirelessAdbWifiCredentialStore.h"
#include "network/WirelessAdbWifiProfile.h"
#include "network/WirelessAdbWifiProfileCache.h"
#include "platform/TaskScope.h"

namespace orvan {

enum class WifiSetupTone { neutral, warning };

// Everything the Wi-Fi setup window shows. The view renders it whole after each change.
struct WifiSetupForm {
    static constexpr const char* kInitialMessage = "请输入网络配置后选择操作。";

    std::string ssid{};
    int securityIndex = 0;  // 0 personal (WPA), 1 enterprise (EAP), 2 open (NOPASS)
    std::string enterpriseIdentity{};
    std::string password{};  // one text behind both the hidden and the plain password field
    bool rememberPassword = false;
    bool passwordVisible = false;
    std::optional<QrModuleBitmap> qrCode{};
    std::string message = kInitialMessage;
    WifiSetupTone tone = WifiSetupTone::neutral;

    bool identityRowVisible() const { return securityIndex == 1; }
    bool passwordRowVisible() const { return securityIndex != 2; }
    std::string passwordLabel() const { return securityIndex == 1 ? "* 企业密码" : "* WiFi 密码"; }
};

namespace wifi_setup_text {
inline constexpr const char* kTitle = "扫码连wifi";
inline constexpr const char* kSsidLabel = "* WiFi 名称";
inline constexpr const char* kSecurityLabel = "* 安全类型";
inline constexpr std::array<const char*, 3> kSecurityChoices = {"WPA/WPA2 个人网络", "WPA2 企业网络（PEAP/MSCHAPV2）",
                                                                 "无密码网络"};
inline constexpr const char* kIdentityLabel = "* 企业账号";
inline constexpr const char* kRemember = "记住密码";
inline constexpr const char* kRememberTooltip = "勾选后将网络凭据安全保存到系统密钥环";
inline constexpr const char* kShowPassword = "显示密码";
inline constexpr const char* kHidePassword = "隐藏密码";
inline constexpr const char* kGenerate = "生成二维码";
inline constexpr const char* kApply = "应用到首页";
inline constexpr const char* kClose = "关闭";
// The main window's entry that opens this window.
inline constexpr const char* kQrOnlyEntry = "仅生成联网二维码";
inline constexpr const char* kQrOnlyTooltip = "只生成连接当前 WiFi 的二维码，不开启无线 ADB 或投屏";
}  // namespace wifi_setup_text

// Security code of a chooser index, and the index that shows a code (case-insensitive; anything
// unknown is the personal network).
std::string securityCodeForIndex(int index);
int securityIndexForCode(const std::string& code);

// The Wi-Fi QR code window: size of the modules drawn.
inline constexpr double kWifiQrScale = 10.0;

class WifiSetupView {
public:
    virtual ~WifiSetupView() = default;
    virtual void render(const WifiSetupForm& form) = 0;
};

// The Wi-Fi setup window's state and rules, without widgets. Main thread only; create it with
// std::make_shared. The computer's Wi-Fi and the keyring are read off the main thread (both may
// block for seconds); their answers come back through the main queue, and an answer that a later
// edit made obsolete is dropped, so it never overwrites what the user typed since.
class WifiSetupController : public std::enable_shared_from_this<WifiSetupController> {
public:
    struct Sources {
        // getComputerWifiName and getComputerWifiSecurityType; they block, and are only called
        // off the main thread.
        std::function<std::optional<std::string>()> currentWifiName;
        std::function<std::optional<std::string>()> currentWifiSecurityType;
        WirelessAdbWifiCredentialStore* store = nullptr;
        WirelessAdbWifiProfileCache* cache = nullptr;
    };

    WifiSetupController(Sources sources, WifiSetupView& view);

    const WifiSetupForm& form() const { return form_; }

    // Clears the form and fills it again from the computer's Wi-Fi, the cache and the keyring.
    void refreshCurrentWifiFields();
    // Edits of the form (controlTextDidChange of the SSID field, securityTypeChanged, and the
    // plain edits of the other controls).
    void ssidChanged(const std::string& text);
    void securityTypeChanged(int index);
    void identityChanged(const std::string& text);
    void passwordChanged(const std::string& text);
    void rememberChanged(bool checked);
    void togglePasswordVisibility();

    // Shows the Wi-Fi-only code (scale 10) and keeps or forgets the credentials as the check box
    // says. False when the form is invalid (the message says why).
    bool generateWifiQrCode();
    // Makes the form's network the scan page's and has its code redrawn.
    void applyWifiProfileToHome();

    // The form as a profile; nothing (with the reason in the message line) when it is invalid.
    std::optional<WirelessAdbWifiProfile> validatedProfile();

    // Whether a background read or keyring write has not answered yet (for tests and tools).
    bool isWaiting() const { return pending_ > 0; }
    // The app quits: no read starts, and `tasks` tells when the running ones have returned.
    void stop() { tasks_.stop(); }
    const TaskScope& tasks() const { return tasks_; }

private:
    struct Detected {
        std::optional<std::string> name;
        std::string code;
        std::optional<WirelessAdbWifiProfile> profile;
        bool persisted = false;
    };
    using Finish = std::function<void(WifiSetupController&)>;

    static Detected detect(const Sources& sources);
    void applyDetected(const Detected& detected);
    void selectSecurityType(const std::string& code);
    void clearCredentials();
    void setMessage(std::string text, WifiSetupTone tone);
    void updateNetworkMismatchMessage(const std::string& prefix, bool followDetectedType);
    void setOperationMessage(const std::string& prefix, const WirelessAdbWifiProfile& profile,
                             const std::optional<std::string>& current);
    void saveInBackground(const WirelessAdbWifiProfile& profile, bool applyToHome);
    // Runs `work` on the background pool (it must not touch the controller) and the continuation
    // it returns on the main thread, unless the controller is gone or the counter moved on.
    void inBackground(uint64_t WifiSetupController::*generation, std::function<Finish()> work);
    void render() { view_.render(form_); }

    Sources sources_;
    WifiSetupView& view_;
    TaskScope tasks_;
    WifiSetupForm form_;
    std::optional<std::string> currentDetectedSsid_;
    // Answers that fill fields are dropped after any edit; answers that only set the message are
    // dropped after a change of network, type, or a newer operation.
    uint64_t fillGeneration_ = 0;
    uint64_t messageGeneration_ = 0;
    int pending_ = 0;
};

}  // namespace orvan
