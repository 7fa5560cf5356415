#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "network/LanIPv4Address.h"
#include "network/QrModuleBitmap.h"
#include "network/WifiProfilePersistence.h"
#include "network/WirelessAdbWifiProfile.h"
#include "pairing/ScanDisableCode.h"
#include "pairing/WirelessAdbCallbackServer.h"
#include "pairing/ScanStatusSink.h"
#include "platform/Dispatch.h"

namespace orvan {

// The authorization a scan-page failure offers.
enum class FailureAuthorizationAction { none, wifiName, localNetwork };

// A running mirror as the scan page lists it; `id` is the key the application stops it by.
struct ActiveMirrorSession {
    std::string id{};
    std::string displayName{};
    std::string detail{};
    bool operator==(const ActiveMirrorSession&) const = default;
};

// The colour of the status card's detail.
enum class StatusColor { normal, warning, error };

// The failure card's authorization button; none hides it.
struct AuthorizationButton {
    std::string title{};
    std::string tooltip{};
    bool operator==(const AuthorizationButton&) const = default;
};

// One stop button of the running-mirror strip.
struct MirrorStopButton {
    std::string id{};
    std::string title{};
    std::string tooltip{};
    bool operator==(const MirrorStopButton&) const = default;
};

// What the scan page's view shows; the Qt page implements it, tests record it. The view decides
// nothing: every text comes from the controller. Main thread only.
class WirelessAdbQrPage {
public:
    virtual ~WirelessAdbQrPage() = default;
    // The page's title and subtitle, and the mode button's title and tooltip.
    virtual void configureQrMode(const std::string& title, const std::string& subtitle,
                                 const std::string& buttonTitle, const std::string& buttonTooltip) = 0;
    // Nothing clears the image.
    virtual void showQrImage(const std::optional<QrModuleBitmap>& image) = 0;
    // The status card; the failure and password cards hide.
    virtual void showStatusState(const std::string& title, const std::string& detail, StatusColor color) = 0;
    // The status card with the waiting actions ("手动配置") under it.
    virtual void showWaitingStatus(const std::string& title, const std::string& detail, StatusColor color) = 0;
    // The failure card with its actions ("手动配置", "重新生成二维码"); the status and password
    // cards hide. A permanent error looks stronger.
    virtual void showFailureState(const std::string& message, const std::optional<AuthorizationButton>& button,
                                  bool isPermanentError) = 0;
    // The password card with its prompt (also its tooltip), focus in the visible field; the
    // status and failure cards hide.
    virtual void showWifiPasswordState(const std::string& prompt) = 0;
    virtual void setWifiPasswordPrompt(const std::string& prompt) = 0;
    // The choice of a saved Wi-Fi for a computer without Wi-Fi: the prompt and the names, the
    // first one chosen; the other cards hide.
    virtual void showWifiChoiceState(const std::string& prompt, const std::vector<std::string>& names) = 0;
    // Empties both password fields and unticks "remember".
    virtual void resetWifiPasswordFields() = 0;
    // Shows the plain or the secure field, carrying the text over and keeping the focus.
    virtual void setInlinePasswordVisible(bool visible) = 0;
    // The text of the visible password field, and the "remember" box.
    virtual std::string inlineWifiPassword() const = 0;
    virtual bool isRememberPasswordChecked() const = 0;
    virtual void beep() = 0;
    // The running-mirror strip, hidden when empty; every button enabled.
    virtual void showActiveMirrorButtons(const std::vector<MirrorStopButton>& buttons) = 0;
    virtual void setActiveMirrorButtonEnabled(const std::string& id, bool enabled) = 0;
};

// The application's side of the scan page.
struct WirelessAdbQrHooks {
    std::function<void(const std::string&)> onLog;
    WirelessAdbCallbackServer::Callback onCallback;
    std::function<void(const std::string& oldId, const std::string& newId)> onSessionChanged;
    // Every new disable session id (main thread).
    std::function<void(const std::string& newId)> onDisableSessionChanged;
    // The three providers may block (keyring, Wi-Fi tools): they are called off the main thread.
    std::function<std::optional<WirelessAdbWifiProfile>()> wifiProfileProvider;
    std::function<std::optional<std::string>()> wifiNameProvider;
    std::function<std::optional<std::string>()> wifiSecurityTypeProvider;
    std::function<bool()> wifiAuthorizationRequired;
    // The computer's address for the callback URL (tests inject one). Main thread: must not block.
    std::function<std::optional<LanInterfaceAddress>()> lanAddress = [] { return currentLanIPv4Address(); };
    // A computer without Wi-Fi (on a cable) offers the networks saved in the keyring, the last
    // used first; the profile of the chosen one is read from the keyring (and becomes the last
    // used). Both are called off the main thread.
    std::function<std::vector<std::string>()> savedWifiNames;
    std::function<std::optional<WirelessAdbWifiProfile>(const std::string& ssid)> savedWifiProfile;
    // "手动配置": the Wi-Fi setup window.
    std::function<void()> onConfigureWifi;
    std::function<void()> onRequestWifiAuthorization;
    std::function<void()> onOpenLocalNetworkSettings;
    // Stops one running mirror; `done(stopped)` is called on the main thread when it is over.
    std::function<void(const std::string& id, std::function<void(bool stopped)> done)> onStopMirroring;
    // Keeps an inline password (keyring when `remember`, else its stored item goes) and caches
    // the profile for this run whatever the keyring said. Called off the main thread.
    std::function<WifiPersistOutcome(const WirelessAdbWifiProfile&, bool remember)> persistWifiProfile;
    // Posts the Wi-Fi profile notification (which regenerates the enable code).
    std::function<void()> postWifiProfileUpdated;
};

// The scan page's QR state without widgets: sessions, the callback server, and the enable and
// disable codes. Lives on the main thread; create it with std::make_shared (background steps
// hold it weakly).
class WirelessAdbQrController final : public ScanStatusSink,
                                      public ScanDisableCode,
                                      public std::enable_shared_from_this<WirelessAdbQrController> {
public:
    static constexpr const char* kCallbackPath = "/orvan/wireless-adb/callback";
    static constexpr int kPreferredCallbackPort = 18080;
    static constexpr double kQrScale = 6.0;

    // `preferredPort` and `limits` are for tests: a free port base, and loopback binding.
    WirelessAdbQrController(MainQueue& mainQueue, WirelessAdbQrPage& page, WirelessAdbQrHooks hooks,
                            int preferredPort = kPreferredCallbackPort, CallbackServerLimits limits = {});
    ~WirelessAdbQrController() override;

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
    void completeDisableQr() override;
    // Any thread; shown on the main thread.
    void updateDisableStatus(const std::string& title, const std::string& detail, bool isError) override;

    // The page's states. The any-thread ones hop to the main thread themselves.
    void configureEnableQrMode();
    void showStatus(const ScanStatus& status) override;  // any thread
    void showFailureState(const std::string& message, FailureAuthorizationAction action, bool isPermanentError);
    void showWaitingState();
    void showWifiPasswordState(const std::string& ssid);
    void showWifiAuthorizationFailure(const std::string& message);          // any thread
    void showLocalNetworkFailure(const std::string& message) override;      // any thread
    void updateActiveMirrors(const std::vector<ActiveMirrorSession>& sessions);  // any thread
    static std::string detailText(ScanStatusPhase phase);

    // Button actions.
    void performFailureAuthorizationAction();
    void saveInlineWifiPassword();
    void toggleInlinePasswordVisibility();
    void stopMirrorFromStatus(const std::string& id);
    void configureWifi();
    // "重新生成二维码" of the failure card: a new enable session.
    void regenerateEnableQr();
    // The saved network the glasses of a computer on a cable should join.
    void chooseSavedWifi(const std::string& ssid);

    // Refresh triggers: a network change always makes a new enable code, even over the disable
    // code; a profile change only while the enable code shows.
    void refreshWifiProfile();
    void refreshForNetworkChange();
    void wifiProfileUpdated();

    // Ends the enable session (the tasks of its READYs stop) and its server, and drops background
    // steps still running.
    void stop();

    const std::string& sessionId() const { return sessionId_; }
    const std::string& disableSessionId() const override { return disableSessionId_; }
    const std::optional<std::string>& activeCallbackUrl() const { return activeCallbackUrl_; }
    std::optional<std::string> configuredWifiName() const;
    bool isShowingDisableQr() const { return isShowingDisableQr_; }

private:
    void stopServer();
    struct WifiReading {
        std::optional<WirelessAdbWifiProfile> profile;
        std::string wifiName;  // trimmed; empty when unknown
        std::optional<std::string> securityType;  // read only when there is no profile
        std::vector<std::string> savedWifiNames;  // read only when there is neither profile nor name
    };
    void startCallbackServerAndCode(const LanInterfaceAddress& address, const WirelessAdbWifiProfile& profile,
                                    bool computerHasWifi);
    void finishRefresh(const std::string& token, const LanInterfaceAddress& address, const WifiReading& reading);
    void askForMissingProfile(const std::string& wifiName, const std::optional<std::string>& securityType);
    void applyStatus(const ScanStatus& status);
    void applyActiveMirrors(const std::vector<ActiveMirrorSession>& sessions);
    void finishInlineSave(const std::string& name, const WifiPersistOutcome& outcome);
    void finishSavedWifiChoice(const std::string& ssid, const std::optional<WirelessAdbWifiProfile>& profile);
    // The user acted: a note that waited for it goes.
    void userActed() { passwordNotice_.reset(); }
    void onMain(std::function<void(WirelessAdbQrController&)> work);
    void log(const std::string& line) const;
    void renewDisableSession();

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
    // The computer's Wi-Fi name as the last refresh read it (the waiting text compares it with
    // the code's network without asking the Wi-Fi tools on the main thread).
    std::string currentWifiName_;
    std::optional<std::string> pendingWifiName_;
    bool isInlinePasswordVisible_ = false;
    bool isSavingInlinePassword_ = false;
    // The keyring refused the inline password: said in the waiting state until the user acts.
    std::optional<std::string> passwordNotice_;
    // The saved network chosen for a computer without Wi-Fi; used while it has none.
    std::optional<WirelessAdbWifiProfile> chosenWifiProfile_;
    FailureAuthorizationAction failureAuthorizationAction_ = FailureAuthorizationAction::none;
    std::vector<ActiveMirrorSession> activeMirrorSessions_;
    std::string refreshToken_;
    std::string sessionId_;
    std::string disableSessionId_;
};

}  // namespace orvan
