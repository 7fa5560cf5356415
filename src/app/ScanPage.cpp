#include "app/ScanPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "pairing/ui/QrImageConversion.h"

namespace orvan {

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

QFrame* card(const QString& objectName, QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(objectName);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFixedWidth(ScanPage::kContentWidth);
    return frame;
}

QString detailColor(StatusColor color) {
    switch (color) {
        case StatusColor::warning:
            return "color: #d9822b;";
        case StatusColor::error:
            return "color: #d93025;";
        case StatusColor::normal:
            break;
    }
    return "";
}

}  // namespace

ScanPage::ScanPage(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    pageTitleLabel_ = new QLabel("扫码开启无线投屏", this);
    pageTitleLabel_->setObjectName("pageTitleLabel");
    QFont titleFont = pageTitleLabel_->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    titleFont.setBold(true);
    pageTitleLabel_->setFont(titleFont);
    pageSubtitleLabel_ = new QLabel("使用眼镜端扫一扫扫描二维码，开启无线投屏。", this);
    pageSubtitleLabel_->setObjectName("pageSubtitleLabel");
    pageSubtitleLabel_->setWordWrap(true);
    layout->addWidget(pageTitleLabel_);
    layout->addWidget(pageSubtitleLabel_);

    qrImageView_ = new QLabel(this);
    qrImageView_->setObjectName("qrImageView");
    qrImageView_->setFixedSize(kQrBox, kQrBox);
    qrImageView_->setAlignment(Qt::AlignCenter);
    qrImageView_->setScaledContents(false);  // the pixmap is already a whole multiple: never resampled
    layout->addWidget(qrImageView_, 0, Qt::AlignHCenter);

    statusCard_ = card("statusCard", this);
    auto* statusLayout = new QVBoxLayout(statusCard_);
    statusTitleLabel_ = new QLabel("正在生成扫码投屏二维码...", statusCard_);
    statusTitleLabel_->setObjectName("statusTitleLabel");
    QFont statusFont = statusTitleLabel_->font();
    statusFont.setBold(true);
    statusTitleLabel_->setFont(statusFont);
    statusTitleLabel_->setWordWrap(true);
    statusDetailLabel_ = new QLabel(statusCard_);
    statusDetailLabel_->setObjectName("statusDetailLabel");
    statusDetailLabel_->setWordWrap(true);
    // waitingActions: what the user can do while the code waits for the glasses.
    waitingActions_ = new QWidget(statusCard_);
    waitingActions_->setObjectName("waitingActions");
    auto* waitingRow = new QHBoxLayout(waitingActions_);
    waitingRow->setContentsMargins(0, 0, 0, 0);
    auto* waitingConfigure = button("手动配置", "configureWifiButton", waitingActions_);
    waitingRow->addWidget(waitingConfigure);
    waitingRow->addStretch();
    waitingActions_->setVisible(false);
    statusLayout->addWidget(statusTitleLabel_);
    statusLayout->addWidget(statusDetailLabel_);
    statusLayout->addWidget(waitingActions_);
    layout->addWidget(statusCard_, 0, Qt::AlignHCenter);

    failureCard_ = card("failureCard", this);
    auto* failureLayout = new QVBoxLayout(failureCard_);
    failureLabel_ = new QLabel("扫码投屏失败，请重新扫描。", failureCard_);
    failureLabel_->setObjectName("failureLabel");
    failureLabel_->setWordWrap(true);
    failureLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    failureActions_ = new QWidget(failureCard_);
    failureActions_->setObjectName("failureActions");
    auto* failureRow = new QHBoxLayout(failureActions_);
    failureRow->setContentsMargins(0, 0, 0, 0);
    wifiAuthorizationButton_ = button("重新授权", "wifiAuthorizationButton", failureActions_);
    auto* failureConfigure = button("手动配置", "failureConfigureWifiButton", failureActions_);
    auto* regenerate = button("重新生成二维码", "regenerateQrButton", failureActions_);
    failureRow->addWidget(wifiAuthorizationButton_);
    failureRow->addWidget(failureConfigure);
    failureRow->addWidget(regenerate);
    failureRow->addStretch();
    failureLayout->addWidget(failureLabel_);
    failureLayout->addWidget(failureActions_);
    layout->addWidget(failureCard_, 0, Qt::AlignHCenter);

    wifiChoiceCard_ = card("wifiChoiceCard", this);
    auto* choiceLayout = new QVBoxLayout(wifiChoiceCard_);
    wifiChoicePromptLabel_ = new QLabel(wifiChoiceCard_);
    wifiChoicePromptLabel_->setObjectName("wifiChoicePromptLabel");
    wifiChoicePromptLabel_->setWordWrap(true);
    savedWifiChooser_ = new QComboBox(wifiChoiceCard_);
    savedWifiChooser_->setObjectName("savedWifiChooser");
    auto* useSavedWifi = button("生成二维码", "useSavedWifiButton", wifiChoiceCard_);
    auto* choiceConfigure = button("手动配置", "choiceConfigureWifiButton", wifiChoiceCard_);
    auto* choiceRow = new QHBoxLayout;
    choiceRow->addWidget(savedWifiChooser_, 1);
    choiceRow->addWidget(useSavedWifi);
    choiceRow->addWidget(choiceConfigure);
    choiceLayout->addWidget(wifiChoicePromptLabel_);
    choiceLayout->addLayout(choiceRow);
    layout->addWidget(wifiChoiceCard_, 0, Qt::AlignHCenter);

    wifiPasswordCard_ = card("wifiPasswordCard", this);
    auto* passwordLayout = new QVBoxLayout(wifiPasswordCard_);
    wifiPasswordPromptLabel_ = new QLabel("请填写当前 WiFi 的 WiFi 密码", wifiPasswordCard_);
    wifiPasswordPromptLabel_->setObjectName("wifiPasswordPromptLabel");
    wifiPasswordPromptLabel_->setWordWrap(true);
    inlineWifiPasswordField_ = new QLineEdit(wifiPasswordCard_);
    inlineWifiPasswordField_->setObjectName("inlineWifiPasswordField");
    inlineWifiPasswordField_->setEchoMode(QLineEdit::Password);
    inlinePlainWifiPasswordField_ = new QLineEdit(wifiPasswordCard_);
    inlinePlainWifiPasswordField_->setObjectName("inlinePlainWifiPasswordField");
    inlinePlainWifiPasswordField_->setVisible(false);
    inlineTogglePasswordVisibilityButton_ = button("显示", "inlineTogglePasswordVisibilityButton", wifiPasswordCard_);
    auto* fieldRow = new QHBoxLayout;
    fieldRow->addWidget(inlineWifiPasswordField_, 1);
    fieldRow->addWidget(inlinePlainWifiPasswordField_, 1);
    fieldRow->addWidget(inlineTogglePasswordVisibilityButton_);
    inlineRememberPasswordCheckbox_ = new QCheckBox("记住密码", wifiPasswordCard_);
    inlineRememberPasswordCheckbox_->setObjectName("inlineRememberPasswordCheckbox");
    saveWifiPasswordButton_ = button("保存并生成二维码", "saveWifiPasswordButton", wifiPasswordCard_);
    auto* actionRow = new QHBoxLayout;
    actionRow->addWidget(inlineRememberPasswordCheckbox_);
    actionRow->addStretch();
    actionRow->addWidget(saveWifiPasswordButton_);
    passwordLayout->addWidget(wifiPasswordPromptLabel_);
    passwordLayout->addLayout(fieldRow);
    passwordLayout->addLayout(actionRow);
    layout->addWidget(wifiPasswordCard_, 0, Qt::AlignHCenter);

    activeMirrorButtonsScrollView_ = new QScrollArea(this);
    activeMirrorButtonsScrollView_->setObjectName("activeMirrorButtonsScrollView");
    activeMirrorButtonsScrollView_->setFixedSize(kContentWidth, 48);
    activeMirrorButtonsScrollView_->setWidgetResizable(true);
    activeMirrorButtonsScrollView_->setFrameShape(QFrame::NoFrame);
    activeMirrorButtonsScrollView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    activeMirrorButtonsDocumentView_ = new QWidget(activeMirrorButtonsScrollView_);
    activeMirrorButtonsStack_ = new QHBoxLayout(activeMirrorButtonsDocumentView_);
    activeMirrorButtonsStack_->setContentsMargins(0, 0, 0, 0);
    activeMirrorButtonsStack_->addStretch();
    activeMirrorButtonsScrollView_->setWidget(activeMirrorButtonsDocumentView_);
    activeMirrorButtonsScrollView_->setVisible(false);
    layout->addWidget(activeMirrorButtonsScrollView_, 0, Qt::AlignHCenter);

    disableQrModeButton_ = button("扫码关闭无线 ADB", "disableQrModeButton", this);
    disableQrModeButton_->setToolTip("扫码后会停止无线投屏并关闭眼镜 TCP 5555 端口，但不影响 USB 调试。");
    layout->addWidget(disableQrModeButton_, 0, Qt::AlignHCenter);
    layout->addStretch();

    showCard(statusCard_);

    connect(disableQrModeButton_, &QPushButton::clicked, this, [this] {
        forward([](WirelessAdbQrController& c) { c.toggleDisableQrMode(); });
    });
    connect(wifiAuthorizationButton_, &QPushButton::clicked, this, [this] {
        forward([](WirelessAdbQrController& c) { c.performFailureAuthorizationAction(); });
    });
    auto configure = [this] { forward([](WirelessAdbQrController& c) { c.configureWifi(); }); };
    for (QPushButton* each : {waitingConfigure, failureConfigure, choiceConfigure})
        connect(each, &QPushButton::clicked, this, configure);
    connect(regenerate, &QPushButton::clicked, this, [this] {
        forward([](WirelessAdbQrController& c) { c.regenerateEnableQr(); });
    });
    connect(useSavedWifi, &QPushButton::clicked, this, [this] {
        const std::string ssid = savedWifiChooser_->currentText().toStdString();
        if (!ssid.empty()) forward([&ssid](WirelessAdbQrController& c) { c.chooseSavedWifi(ssid); });
    });
    connect(inlineTogglePasswordVisibilityButton_, &QPushButton::clicked, this, [this] {
        forward([](WirelessAdbQrController& c) { c.toggleInlinePasswordVisibility(); });
    });
    auto save = [this] { forward([](WirelessAdbQrController& c) { c.saveInlineWifiPassword(); }); };
    connect(saveWifiPasswordButton_, &QPushButton::clicked, this, save);
    connect(inlineWifiPasswordField_, &QLineEdit::returnPressed, this, save);
    connect(inlinePlainWifiPasswordField_, &QLineEdit::returnPressed, this, save);
}

QPushButton* ScanPage::button(const QString& title, const QString& objectName, QWidget* parent) {
    auto* created = new QPushButton(title, parent);
    created->setObjectName(objectName);
    return created;
}

void ScanPage::showCard(QWidget* shown) {
    for (QWidget* each : {static_cast<QWidget*>(statusCard_), static_cast<QWidget*>(failureCard_),
                          static_cast<QWidget*>(wifiPasswordCard_), static_cast<QWidget*>(wifiChoiceCard_)})
        each->setVisible(each == shown);
}

void ScanPage::configureQrMode(const std::string& title, const std::string& subtitle, const std::string& buttonTitle,
                               const std::string& buttonTooltip) {
    pageTitleLabel_->setText(qt(title));
    pageSubtitleLabel_->setText(qt(subtitle));
    disableQrModeButton_->setText(qt(buttonTitle));
    disableQrModeButton_->setToolTip(qt(buttonTooltip));
}

void ScanPage::showQrImage(const std::optional<QrModuleBitmap>& image) {
    if (!image) {
        qrImageView_->clear();
        return;
    }
    // The largest whole number of pixels per module that fits the box keeps every module a sharp
    // square: the image is drawn at its final size and never resampled.
    QrModuleBitmap fitted = *image;
    fitted.scale = std::max(1, kQrBox / std::max(1, fitted.modules));
    QImage scaled = qrQImage(fitted);
    if (scaled.isNull()) {
        qrImageView_->clear();
        return;
    }
    qrImageView_->setPixmap(QPixmap::fromImage(scaled));
}

void ScanPage::showStatusState(const std::string& title, const std::string& detail, StatusColor color) {
    statusTitleLabel_->setText(qt(title));
    statusDetailLabel_->setText(qt(detail));
    statusDetailLabel_->setStyleSheet(detailColor(color));
    statusDetailLabel_->setVisible(!detail.empty());
    waitingActions_->setVisible(false);
    showCard(statusCard_);
}

void ScanPage::showWaitingStatus(const std::string& title, const std::string& detail, StatusColor color) {
    showStatusState(title, detail, color);
    waitingActions_->setVisible(true);
}

void ScanPage::showWifiChoiceState(const std::string& prompt, const std::vector<std::string>& names) {
    wifiChoicePromptLabel_->setText(qt(prompt));
    savedWifiChooser_->clear();
    for (const auto& name : names) savedWifiChooser_->addItem(qt(name));
    savedWifiChooser_->setCurrentIndex(names.empty() ? -1 : 0);
    showCard(wifiChoiceCard_);
}

void ScanPage::showFailureState(const std::string& message, const std::optional<AuthorizationButton>& authorization,
                                bool isPermanentError) {
    failureLabel_->setText(qt(message));
    // A permanent error (one a new scan cannot cure) stands out more.
    failureCard_->setStyleSheet(isPermanentError ? "#failureCard { background: #fce8e6; border: 2px solid #d93025; }"
                                                 : "#failureCard { border: 1px solid #f29900; }");
    QFont font = failureLabel_->font();
    font.setBold(isPermanentError);
    failureLabel_->setFont(font);
    failureLabel_->setStyleSheet(isPermanentError ? "color: #a50e0e;" : "color: #d93025;");
    wifiAuthorizationButton_->setVisible(authorization.has_value());
    if (authorization) {
        wifiAuthorizationButton_->setText(qt(authorization->title));
        wifiAuthorizationButton_->setToolTip(qt(authorization->tooltip));
    }
    showCard(failureCard_);
}

void ScanPage::showWifiPasswordState(const std::string& prompt) {
    setWifiPasswordPrompt(prompt);
    showCard(wifiPasswordCard_);
    (inlinePlainWifiPasswordField_->isVisibleTo(wifiPasswordCard_) ? inlinePlainWifiPasswordField_
                                                                  : inlineWifiPasswordField_)
        ->setFocus();
}

void ScanPage::setWifiPasswordPrompt(const std::string& prompt) {
    wifiPasswordPromptLabel_->setText(qt(prompt));
    wifiPasswordPromptLabel_->setToolTip(qt(prompt));
}

void ScanPage::resetWifiPasswordFields() {
    inlineWifiPasswordField_->clear();
    inlinePlainWifiPasswordField_->clear();
    inlineRememberPasswordCheckbox_->setChecked(false);
}

void ScanPage::setInlinePasswordVisible(bool visible) {
    QLineEdit* from = visible ? inlineWifiPasswordField_ : inlinePlainWifiPasswordField_;
    QLineEdit* to = visible ? inlinePlainWifiPasswordField_ : inlineWifiPasswordField_;
    if (!to->isHidden() && from->isHidden()) return;
    to->setText(from->text());
    from->clear();
    from->setVisible(false);
    to->setVisible(true);
    to->setFocus();
    inlineTogglePasswordVisibilityButton_->setText(visible ? "隐藏" : "显示");
}

std::string ScanPage::inlineWifiPassword() const {
    const QLineEdit* shown = inlinePlainWifiPasswordField_->isHidden() ? inlineWifiPasswordField_
                                                                       : inlinePlainWifiPasswordField_;
    return shown->text().toStdString();
}

bool ScanPage::isRememberPasswordChecked() const { return inlineRememberPasswordCheckbox_->isChecked(); }

void ScanPage::beep() { QApplication::beep(); }

void ScanPage::showActiveMirrorButtons(const std::vector<MirrorStopButton>& buttons) {
    for (auto& [id, existing] : mirrorButtons_) {
        existing->hide();
        existing->deleteLater();
    }
    mirrorButtons_.clear();
    for (const auto& each : buttons) {
        auto* stop = button(qt(each.title), "mirrorStopButton", activeMirrorButtonsDocumentView_);
        stop->setToolTip(qt(each.tooltip));
        stop->setStyleSheet("QPushButton { color: white; background: #d93025; border-radius: 6px; padding: 6px 12px; }"
                            "QPushButton:disabled { background: #e8a29c; }");
        activeMirrorButtonsStack_->insertWidget(activeMirrorButtonsStack_->count() - 1, stop);
        connect(stop, &QPushButton::clicked, this, [this, id = each.id] {
            forward([&id](WirelessAdbQrController& c) { c.stopMirrorFromStatus(id); });
        });
        mirrorButtons_[each.id] = stop;
    }
    activeMirrorButtonsScrollView_->setVisible(!buttons.empty());
}

void ScanPage::setActiveMirrorButtonEnabled(const std::string& id, bool enabled) {
    if (auto found = mirrorButtons_.find(id); found != mirrorButtons_.end()) found->second->setEnabled(enabled);
}

QPushButton* ScanPage::mirrorStopButton(const std::string& id) const {
    auto found = mirrorButtons_.find(id);
    return found == mirrorButtons_.end() ? nullptr : found->second;
}

}  // namespace orvan
