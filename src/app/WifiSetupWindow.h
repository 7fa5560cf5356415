#pragma once

#include <QWidget>
#include <memory>

#include "shell/WifiSetupController.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace orvan {

// The Wi-Fi setup window ("扫码连wifi"): the network the glasses should join, its Wi-Fi-only QR
// code, and "应用到首页" for the scan page. Renders the controller's form and forwards edits;
// kept (hidden) when closed.
class WifiSetupWindow : public QWidget, public WifiSetupView {
    Q_OBJECT

public:
    explicit WifiSetupWindow(WifiSetupController::Sources sources, QWidget* parent = nullptr);

    // showWifiSetup: fields refilled from the computer's Wi-Fi and the keyring, window in front.
    void present();
    void render(const WifiSetupForm& form) override;
    WifiSetupController& controller() { return *controller_; }

private:
    std::shared_ptr<WifiSetupController> controller_;
    QLineEdit* ssidField_;
    QComboBox* securityPopup_;
    QLabel* identityTitle_;
    QLineEdit* enterpriseIdentityField_;
    QLabel* passwordTitleLabel_;
    QLineEdit* passwordField_;
    QToolButton* togglePasswordVisibilityButton_;
    QCheckBox* rememberPasswordCheckbox_;
    QLabel* qrImageView_;
    QLabel* messageLabel_;
};

}  // namespace orvan
