#pragma once

#include <map>
#include <string>
#include <vector>

#include "shell/WirelessAdbQrController.h"

namespace orvan {

// The scan page as the controller drives it: what each card last showed.
struct RecordingQrPage final : WirelessAdbQrPage {
    void configureQrMode(const std::string& title, const std::string&, const std::string& button,
                         const std::string&) override {
        modeTitle = title;
        modeButton = button;
    }
    void showQrImage(const std::optional<QrModuleBitmap>& shown) override {
        images += shown ? 1 : 0;
        image = shown;
    }
    void showStatusState(const std::string& title, const std::string& detail, StatusColor color) override {
        states.push_back(title);
        statusDetail = detail;
        statusColor = color;
        card = "status";
    }
    void showWaitingStatus(const std::string& title, const std::string& detail, StatusColor color) override {
        showStatusState(title, detail, color);
        card = "waiting";  // the status card with its actions
    }
    void showWifiChoiceState(const std::string& text, const std::vector<std::string>& names) override {
        prompt = text;
        choices = names;
        card = "choice";
    }
    void showFailureState(const std::string& message, const std::optional<AuthorizationButton>& button,
                          bool) override {
        states.push_back(message);
        authorizationButton = button;
        card = "failure";
    }
    void showWifiPasswordState(const std::string& text) override {
        prompt = text;
        card = "password";
    }
    void setWifiPasswordPrompt(const std::string& text) override { prompt = text; }
    void resetWifiPasswordFields() override {
        password.clear();
        remember = false;
    }
    void setInlinePasswordVisible(bool visible) override { plainVisible = visible; }
    std::string inlineWifiPassword() const override { return password; }
    bool isRememberPasswordChecked() const override { return remember; }
    void beep() override { ++beeps; }
    void showActiveMirrorButtons(const std::vector<MirrorStopButton>& shown) override {
        buttons.clear();
        for (const auto& button : shown) buttons[button.id] = true;
        buttonTitles = shown;
    }
    void setActiveMirrorButtonEnabled(const std::string& id, bool enabled) override { buttons[id] = enabled; }

    int images = 0;
    std::optional<QrModuleBitmap> image;
    std::vector<std::string> states, choices;
    std::string statusDetail, card, prompt, password, modeTitle, modeButton;
    StatusColor statusColor = StatusColor::normal;
    std::optional<AuthorizationButton> authorizationButton;
    bool remember = false, plainVisible = false;
    int beeps = 0;
    std::map<std::string, bool> buttons;  // id -> enabled
    std::vector<MirrorStopButton> buttonTitles;
};

// The scan page's status as the coordinator and the tasks write it: the texts, in order.
struct RecordingScanStatus final : ScanStatusSink {
    void showStatus(const ScanStatus& status) override { texts.push_back(status.text); }
    void showLocalNetworkFailure(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

}  // namespace orvan
