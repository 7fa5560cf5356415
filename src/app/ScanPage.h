#pragma once

#include <QWidget>
#include <map>
#include <memory>

#include "shell/WirelessAdbQrController.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace orvan {

// The scan page: the QR code, the status, failure and Wi-Fi password cards, and the strip of
// running mirrors. Shows what the controller tells it and forwards clicks; no rules live here.
class ScanPage : public QWidget, public WirelessAdbQrPage {
    Q_OBJECT

public:
    static constexpr int kContentWidth = 444;
    static constexpr int kQrBox = 280;  // the code is drawn at whole pixels per module within it

    explicit ScanPage(QWidget* parent = nullptr);
    void setController(std::weak_ptr<WirelessAdbQrController> controller) { controller_ = std::move(controller); }

    void configureQrMode(const std::string& title, const std::string& subtitle, const std::string& buttonTitle,
                         const std::string& buttonTooltip) override;
    void showQrImage(const std::optional<QrModuleBitmap>& image) override;
    void showStatusState(const std::string& title, const std::string& detail, StatusColor color) override;
    void showWaitingStatus(const std::string& title, const std::string& detail, StatusColor color) override;
    void showFailureState(const std::string& message, const std::optional<AuthorizationButton>& button,
                          bool isPermanentError) override;
    void showWifiPasswordState(const std::string& prompt) override;
    void setWifiPasswordPrompt(const std::string& prompt) override;
    void showWifiChoiceState(const std::string& prompt, const std::vector<std::string>& names) override;
    void resetWifiPasswordFields() override;
    void setInlinePasswordVisible(bool visible) override;
    std::string inlineWifiPassword() const override;
    bool isRememberPasswordChecked() const override;
    void beep() override;
    void showActiveMirrorButtons(const std::vector<MirrorStopButton>& buttons) override;
    void setActiveMirrorButtonEnabled(const std::string& id, bool enabled) override;

    // For tests and screenshots.
    QLabel* qrImageView() const { return qrImageView_; }
    QLabel* statusTitleLabel() const { return statusTitleLabel_; }
    QLabel* statusDetailLabel() const { return statusDetailLabel_; }
    QLabel* failureLabel() const { return failureLabel_; }
    QWidget* waitingActions() const { return waitingActions_; }
    QWidget* failureActions() const { return failureActions_; }
    QComboBox* savedWifiChooser() const { return savedWifiChooser_; }
    QPushButton* mirrorStopButton(const std::string& id) const;

private:
    template <typename Action>
    void forward(Action action) {
        if (auto controller = controller_.lock()) action(*controller);
    }
    void showCard(QWidget* card);
    QPushButton* button(const QString& title, const QString& objectName, QWidget* parent);

    std::weak_ptr<WirelessAdbQrController> controller_;
    QLabel* pageTitleLabel_;
    QLabel* pageSubtitleLabel_;
    QLabel* qrImageView_;
    QFrame* statusCard_;
    QLabel* statusTitleLabel_;
    QLabel* statusDetailLabel_;
    QScrollArea* activeMirrorButtonsScrollView_;
    QWidget* activeMirrorButtonsDocumentView_;
    QHBoxLayout* activeMirrorButtonsStack_;
    std::map<std::string, QPushButton*> mirrorButtons_;
    QFrame* failureCard_;
    QLabel* failureLabel_;
    QPushButton* wifiAuthorizationButton_;
    QWidget* waitingActions_;
    QWidget* failureActions_;
    QFrame* wifiChoiceCard_;
    QLabel* wifiChoicePromptLabel_;
    QComboBox* savedWifiChooser_;
    QFrame* wifiPasswordCard_;
    QLabel* wifiPasswordPromptLabel_;
    QLineEdit* inlineWifiPasswordField_;
    QLineEdit* inlinePlainWifiPasswordField_;
    QCheckBox* inlineRememberPasswordCheckbox_;
    QPushButton* inlineTogglePasswordVisibilityButton_;
    QPushButton* saveWifiPasswordButton_;
    QPushButton* disableQrModeButton_;
};

}  // namespace orvan
