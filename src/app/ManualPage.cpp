#include "app/ManualPage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "foundation/Text.h"
#include "shell/DeviceTabs.h"

namespace orvan {

namespace {
QString qt(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

ManualPage::ManualPage(QCheckBox* audioCheckbox, QWidget* parent) : QWidget(parent), audio_(audioCheckbox) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel("手动连接投屏", this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    titleFont.setBold(true);
    title->setFont(titleFont);
    auto* hint = new QLabel("可通过 USB 调试线或已有无线 ADB 连接，选择设备后开始投屏。", this);
    hint->setWordWrap(true);
    layout->addWidget(title);
    layout->addWidget(hint);

    tabScroll_ = new QScrollArea(this);
    tabScroll_->setObjectName("deviceTabs");
    tabScroll_->setFixedSize(kContentWidth, kTabStripHeight + 14);
    tabScroll_->setWidgetResizable(true);
    tabScroll_->setFrameShape(QFrame::NoFrame);
    tabScroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tabStrip_ = new QWidget(tabScroll_);
    tabLayout_ = new QHBoxLayout(tabStrip_);
    tabLayout_->setContentsMargins(0, 0, 0, 0);
    tabScroll_->setWidget(tabStrip_);
    tabGroup_ = new QButtonGroup(this);
    tabGroup_->setExclusive(true);
    layout->addWidget(tabScroll_);
    connect(tabGroup_, &QButtonGroup::idClicked, this, [this](int id) {
        if (controller_ && id >= 0) controller_->selectDeviceTab(static_cast<size_t>(id));
    });

    auto* grid = new QGridLayout;
    adbValue_ = addRow(grid, 0, "ADB", "adbValue");
    modelValue_ = addRow(grid, 1, "设备型号", "modelValue");
    deviceIdValue_ = addRow(grid, 2, "DeviceId", "deviceIdValue");
    wifiValue_ = addRow(grid, 3, "电脑端当前wifi", "computerWifiNameValue");
    ipValue_ = addRow(grid, 4, "设备IP", "ipValue");
    statusValue_ = addRow(grid, 5, "状态", "statusValue");
    statusValue_->setWordWrap(true);
    // A diagnosis carries a udev rule line to copy.
    statusValue_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addLayout(grid);

    auto* buttons = new QGridLayout;
    detectButton_ = actionButton("检测设备", "detectButton");
    startButton_ = actionButton("开始无线投屏", "startButton");
    glassShellButton_ = actionButton("眼镜外壳投屏", "glassShellButton");
    disconnectButton_ = actionButton("断开无线 ADB", "disconnectButton");
    buttons->addWidget(detectButton_, 0, 0);
    buttons->addWidget(startButton_, 0, 1);
    buttons->addWidget(glassShellButton_, 1, 0);
    buttons->addWidget(disconnectButton_, 1, 1);
    layout->addLayout(buttons);
    layout->addStretch();

    connect(detectButton_, &QPushButton::clicked, this, [this] { if (controller_) controller_->detectDevice(); });
    connect(startButton_, &QPushButton::clicked, this, [this] { if (controller_) controller_->start(); });
    connect(glassShellButton_, &QPushButton::clicked, this, [this] { if (controller_) controller_->startGlassShell(); });
    connect(disconnectButton_, &QPushButton::clicked, this, [this] { if (controller_) controller_->disconnect(); });
    connect(audio_, &QCheckBox::clicked, this, [this](bool checked) { if (controller_) controller_->audioForwardingToggled(checked); });
    renderTabs({}, std::nullopt);
}

void ManualPage::setController(std::shared_ptr<ManualPageController> controller) { controller_ = std::move(controller); }

QLabel* ManualPage::addRow(QGridLayout* grid, int row, const QString& name, const QString& objectName) {
    auto* label = new QLabel(name, this);
    auto* value = new QLabel("-", this);
    value->setObjectName(objectName);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    value->setMinimumWidth(1);
    value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    grid->addWidget(label, row, 0);
    grid->addWidget(value, row, 1);
    grid->setColumnStretch(1, 1);
    return value;
}

QPushButton* ManualPage::actionButton(const QString& title, const QString& objectName) {
    auto* button = new QPushButton(title, this);
    button->setObjectName(objectName);
    button->setFixedSize(188, 58);
    return button;
}

void ManualPage::setValue(QLabel* label, const std::string& text) {
    // One line whatever the device reports; the whole text stays available as the tooltip.
    auto line = qt(singleLine(text));
    label->setText(line);
    label->setToolTip(line.size() > 40 ? line : QString());
}

void ManualPage::renderTabs(const std::vector<DeviceTab>& tabs, std::optional<size_t> selected) {
    for (auto* button : tabGroup_->buttons()) {
        tabGroup_->removeButton(button);
        button->deleteLater();
    }
    while (auto* item = tabLayout_->takeAt(0)) {
        if (auto* widget = item->widget()) widget->deleteLater();
        delete item;
    }
    if (tabs.empty()) {
        auto* empty = new QLabel("点击“检测设备”后显示设备页签", tabStrip_);
        empty->setObjectName("emptyTabsLabel");
        QFont font = empty->font();
        font.setPointSize(13);
        empty->setFont(font);
        empty->setForegroundRole(QPalette::PlaceholderText);
        tabLayout_->addWidget(empty);
    }
    for (size_t i = 0; i < tabs.size(); ++i) {
        auto* tab = new QPushButton(qt(tabs[i].title), tabStrip_);
        tab->setObjectName("deviceTab");
        tab->setCheckable(true);
        tab->setChecked(selected == i);
        tab->setToolTip(qt(tabs[i].tooltip));
        tab->setFixedHeight(kTabStripHeight - 6);
        tabGroup_->addButton(tab, static_cast<int>(i));
        tabLayout_->addWidget(tab);
    }
    tabLayout_->addStretch();
}

void ManualPage::showStatusRows(const StatusRows& rows) {
    setValue(adbValue_, rows.adb);
    setValue(modelValue_, rows.model);
    setValue(deviceIdValue_, rows.deviceId);
    setValue(wifiValue_, rows.computerWifi);
    setValue(ipValue_, rows.ip);
    // The status row wraps and can be selected: a diagnosis keeps its lines (the udev rule stays
    // a line of its own to copy), each line cleaned as any other value.
    QStringList lines;
    for (const auto& line : text::splitLines(rows.status)) lines << qt(singleLine(line));
    statusValue_->setText(lines.join('\n'));
    statusValue_->setToolTip(QString());
}

void ManualPage::setStatus(const std::string& text) { statusValue_->setText(qt(text)); }

QString ManualPage::statusText() const { return statusValue_->text(); }

void ManualPage::setMirrorButtonTitle(const std::string& title) { startButton_->setText(qt(title)); }

void ManualPage::setAudioForwarding(bool checked, const std::string& tooltip) {
    audio_->setChecked(checked);
    audio_->setToolTip(qt(tooltip));
}

void ManualPage::setBusy(bool busy) {
    for (auto* button : {detectButton_, startButton_, glassShellButton_, disconnectButton_}) button->setEnabled(!busy);
}

void ManualPage::showWarning(const std::string& title, const std::string& message) {
    lastAlert_ = qt(title + "\n" + message);
    auto* box = new QMessageBox(QMessageBox::Warning, qt(title), qt(title), QMessageBox::Ok, window());
    box->setInformativeText(qt(message));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();  // a sheet-like window-modal alert; the event loop keeps running
}

void ManualPage::showInformation(const std::string& message, const std::string& button) {
    lastAlert_ = qt(message);
    auto* box = new QMessageBox(QMessageBox::Information, qt(message), qt(message), QMessageBox::NoButton, window());
    box->addButton(qt(button), QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void ManualPage::setExportAvailability(bool available, const std::string& tooltip) {
    emit exportAvailabilityChanged(available, qt(tooltip));
}

}  // namespace orvan
