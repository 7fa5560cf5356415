#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "network/LanIPv4Address.h"
#include "network/QrModuleBitmap.h"
#include "network/WirelessAdbWifiProfile.h"
#include "pairing/WirelessAdbCallbackServer.h"
#include "platform/Dispatch.h"

namespace orvan {

// The authorization a scan-page failure offers.
enum class FailureAuthorizationAction { none, wifiName, localNetwork };

// What the scan page's view shows; the Qt page implements it, tests record it. Main thread only.
class WirelessAdbQrPage {
public:
    virtual ~WirelessAdbQrPage() = default;
    virtual void configureEnableQrMode() = 0;
    // The page's title and subtitle, and the mode button's title and tooltip, for the disable code.
    virtual void configureDisableQrMode(const std::string& title, const std::string& subtitle,
                                        const std::string& buttonTitle, const std::string& buttonTooltip) = 0;
    // Nothing clears the image.
    virtual void showQrImage(const std::optional<QrModuleBitmap>& image) = 0;
    virtual void showStatusState(const std::string& title, const std::string& detail, bool isError) = 0;
    virtual void showFailureState(const std::string& message, FailureAuthorizationAction action,
                                  bool isPermanentError) = 0;
    virtual void showWaitingState() = 0;
    virtual void showWifiPasswordState(const std::string& ssid) = 0;
};

// The application's side of the scan page.
struct WirelessAdbQrHooks {
    std::function<void(const std::string&)> onLog;
    WirelessAdbCallbackServer::Callback onCallback;
    std::function<void(const std::string& oldId, const std::string& newId)> onSessionChanged;
    std::function<std::optional<WirelessAdbWifiProfile>()> wifiProfileProvider;
    std::function<std::optional<std::string>()> wifiNameProvider;
    std::function<std::optional<std::string>()> wifiSecurityTypeProvider;
    std::function<bool()> wifiAuthorizationRequired;
    // The computer's address for the callback URL (tests inject one).
    std::function<std::optional<LanInterfaceAddress>()> lanAddress = [] { return currentLanIPv4Address(); };
};

// The scan page's QR state without widgets: sessions, the callback server, and the enable and
// disable codes. Lives on the main thread; create it with std::make_shared (background steps
// hold it weakly).
class WirelessAdbQrController : public std::enable_shared_from_this<WirelessAdbQrController> {
public:
    static constexpr const char* kCallbackPath = "/orvan/wireless-adb/callback";
    static constexpr int kPreferredCallbackPort = 18080;
    static constexpr double kQrScale = 6.0;

    // `preferredPort` and `limits` are for tests: a free port base, and loopback binding.
    WirelessAdbQrController(MainQueue& mainQueue, WirelessAdbQrPage& page, WirelessAdbQrHooks hooks,
                            int preferredPort = kPreferredCallbackPort, CallbackServerLimits limits = {});
    ~WirelessAdbQrController();

    // A new enable session: new ids, the address, then (in the background) the Wi-Fi profile,
    // then the server and the code.
    void refreshEnableQr();
    // Renders the enable code of the current session again; throws MirrorError "二维码生成失败。".
    void regenerateEnableQrImage(const std::string& callbackUrl, const WirelessAdbWifiProfile& wifiProfile);
    // A new disable session on the running server; throws MirrorError when there is no server
    // or the code cannot be drawn.
    QrModuleBitmap makeDisableQrImage();
    // The mode button: to the disable code, or back to the unchanged enable code (the shown
    // disable code becomes void).
    void toggleDisableQrMode();
    void showDisableQrMode();
    // After a successful disable: the enable code again, and a new disable id, so that the same
    // disable code acts only once.
    void completeDisableQr();
    // Any thread; shown on the main thread.
    void updateDisableStatus(const std::string& title, const std::string& detail, bool isError);

    // Ends the enable session's server and drops background steps still running.
    void stop();

    const std::string& sessionId() const { return sessionId_; }
    const std::string& disableSessionId() const { return disableSessionId_; }
    const std::optional<std::string>& activeCallbackUrl() const { return activeCallbackUrl_; }
    const std::optional<WirelessAdbWifiProfile>& activeWifiProfile() const { return activeWifiProfile_; }
    const std::optional<QrModuleBitmap>& enableQrImage() const { return enableQrImage_; }
    std::optional<std::string> configuredWifiName() const;
    bool isShowingDisableQr() const { return isShowingDisableQr_; }
    void setShowingDisableQr(bool showing) { isShowingDisableQr_ = showing; }

private:
    void finishRefresh(const std::string& token, const LanInterfaceAddress& address,
                       const std::optional<WirelessAdbWifiProfile>& profile, const std::string& wifiName);
    void askForMissingProfile(const std::string& wifiName);
    void log(const std::string& line) const;

    MainQueue& main_;
    WirelessAdbQrPage& page_;
    WirelessAdbQrHooks hooks_;
    int preferredPort_;
    CallbackServerLimits limits_;
    std::unique_ptr<WirelessAdbCallbackServer> callbackServer_;
    std::optional<std::string> activeCallbackUrl_;
    std::optional<WirelessAdbWifiProfile> activeWifiProfile_;
    std::optional<QrModuleBitmap> enableQrImage_;
    bool isShowingDisableQr_ = false;
    std::string refreshToken_;
    std::string sessionId_;
    std::string disableSessionId_;
};

}  // namespace orvan
