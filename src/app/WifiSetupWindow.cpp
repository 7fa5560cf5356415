#include "app/WifiSetupWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "pairing/ui/QrImageConversion.h"

namespace orvan {

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

void setTextIfChanged(QLineEdit* field, const std::string& text) {
    // Rewriting the same text would move the cursor of the field being typed in.
    if (field->text() != qt(text)) field->setText(qt(text));
}

}  // namespace

WifiSetupWindow::WifiSetupWindow(WifiSetupController::Sources sources, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    namespace t = wifi_setup_text;
    setWindowTitle(t::kTitle);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    ssidField_ = new QLineEdit(this);
    ssidField_->setObjectName("ssidField");
    securityPopup_ = new QComboBox(this);
    securityPopup_->setObjectName("securityPopup");
    for (const char* choice : t::kSecurityChoices) securityPopup_->addItem(choice);
    identityTitle_ = new QLabel(t::kIdentityLabel, this);
    enterpriseIdentityField_ = new QLineEdit(this);
    enterpriseIdentityField_->setObjectName("enterpriseIdentityField");
    passwordTitleLabel_ = new QLabel(this);
    passwordTitleLabel_->setObjectName("passwordTitleLabel");
    passwordField_ = new QLineEdit(this);
    passwordField_->setObjectName("passwordField");
    togglePasswordVisibilityButton_ = new QToolButton(this);
    togglePasswordVisibilityButton_->setObjectName("togglePasswordVisibilityButton");
    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(passwordField_, 1);
    passwordRow->addWidget(togglePasswordVisibilityButton_);
    grid->addWidget(new QLabel(t::kSsidLabel, this), 0, 0);
    grid->addWidget(ssidField_, 0, 1);
    grid->addWidget(new QLabel(t::kSecurityLabel, this), 1, 0);
    grid->addWidget(securityPopup_, 1, 1);
    grid->addWidget(identityTitle_, 2, 0);
    grid->addWidget(enterpriseIdentityField_, 2, 1);
    grid->addWidget(passwordTitleLabel_, 3, 0);
    grid->addLayout(passwordRow, 3, 1);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    rememberPasswordCheckbox_ = new QCheckBox(t::kRemember, this);
    rememberPasswordCheckbox_->setObjectName("rememberPasswordCheckbox");
    rememberPasswordCheckbox_->setToolTip(t::kRememberTooltip);
    layout->addWidget(rememberPasswordCheckbox_);

    qrImageView_ = new QLabel(this);
    qrImageView_->setObjectName("qrImageView");
    qrImageView_->setAlignment(Qt::AlignCenter);
    qrImageView_->setMinimumSize(300, 300);
    layout->addWidget(qrImageView_, 1);

    messageLabel_ = new QLabel(this);
    messageLabel_->setObjectName("messageLabel");
    messageLabel_->setWordWrap(true);
    messageLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(messageLabel_);

    auto* buttons = new QHBoxLayout;
    auto* generate = new QPushButton(t::kGenerate, this);
    generate->setObjectName("generateButton");
    auto* apply = new QPushButton(t::kApply, this);
    apply->setObjectName("applyButton");
    auto* close = new QPushButton(t::kClose, this);
    close->setObjectName("closeButton");
    buttons->addStretch();
    buttons->addWidget(generate);
    buttons->addWidget(apply);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    resize(480, 760);

    controller_ = std::make_shared<WifiSetupController>(std::move(sources), *this);
    auto* controller = controller_.get();
    // User edits only (textEdited, activated, clicked): the form's own rendering never echoes back.
    connect(ssidField_, &QLineEdit::textEdited, this, [controller](const QString& text) {
        controller->ssidChanged(text.toStdString());
    });
    connect(securityPopup_, &QComboBox::activated, this, [controller](int index) {
        controller->securityTypeChanged(index);
    });
    connect(enterpriseIdentityField_, &QLineEdit::textEdited, this, [controller](const QString& text) {
        controller->identityChanged(text.toStdString());
    });
    connect(passwordField_, &QLineEdit::textEdited, this, [controller](const QString& text) {
        controller->passwordChanged(text.toStdString());
    });
    connect(rememberPasswordCheckbox_, &QCheckBox::clicked, this, [controller](bool checked) {
        controller->rememberChanged(checked);
    });
    connect(togglePasswordVisibilityButton_, &QToolButton::clicked, this, [this] {
        controller_->togglePasswordVisibility();
        passwordField_->setFocus();
    });
    connect(generate, &QPushButton::clicked, this, [controller] { controller->generateWifiQrCode(); });
    connect(apply, &QPushButton::clicked, this, [controller] { controller->applyWifiProfileToHome(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    render(controller_->form());
}

void WifiSetupWindow::present() {
    controller_->refreshCurrentWifiFields();
    show();
    raise();
    activateWindow();
}

void WifiSetupWindow::render(const WifiSetupForm& form) {
    namespace t = wifi_setup_text;
    setTextIfChanged(ssidField_, form.ssid);
    securityPopup_->setCurrentIndex(form.securityIndex);
    identityTitle_->setVisible(form.identityRowVisible());
    enterpriseIdentityField_->setVisible(form.identityRowVisible());
    setTextIfChanged(enterpriseIdentityField_, form.enterpriseIdentity);
    passwordTitleLabel_->setText(qt(form.passwordLabel()));
    for (QWidget* widget : {static_cast<QWidget*>(passwordTitleLabel_), static_cast<QWidget*>(passwordField_),
                            static_cast<QWidget*>(togglePasswordVisibilityButton_)})
        widget->setVisible(form.passwordRowVisible());
    setTextIfChanged(passwordField_, form.password);
    passwordField_->setEchoMode(form.passwordVisible ? QLineEdit::Normal : QLineEdit::Password);
    const char* tip = form.passwordVisible ? t::kHidePassword : t::kShowPassword;
    QIcon icon = QIcon::fromTheme(form.passwordVisible ? "view-conceal-symbolic" : "view-reveal-symbolic");
    togglePasswordVisibilityButton_->setIcon(icon);
    togglePasswordVisibilityButton_->setText(icon.isNull() ? tip : QString());
    togglePasswordVisibilityButton_->setToolTip(tip);
    togglePasswordVisibilityButton_->setAccessibleName(tip);
    rememberPasswordCheckbox_->setChecked(form.rememberPassword);

    if (form.qrCode)
        qrImageView_->setPixmap(QPixmap::fromImage(qrQImage(*form.qrCode)));
    else
        qrImageView_->clear();

    messageLabel_->setText(qt(form.message));
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, form.tone == WifiSetupTone::warning
                                               ? QColor(0xE6, 0x7E, 0x22)
                                               : palette.color(QPalette::PlaceholderText));
    messageLabel_->setPalette(palette);
}

}  // namespace orvan
