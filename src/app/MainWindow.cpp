#include "app/MainWindow.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/ManualPage.h"
#include "app/ScanPage.h"

namespace orvan {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle("Orvan Mirror Tool");
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(28, 16, 28, 16);

    auto* header = new QHBoxLayout;
    auto* title = new QLabel("Orvan Mirror Tool", central);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    titleFont.setBold(true);
    title->setFont(titleFont);
    auto* version = new QLabel("v1.1.6", central);
    version->setObjectName("versionLabel");
    header->addWidget(title);
    header->addStretch();
    header->addWidget(version);
    layout->addLayout(header);

    audio_ = new QCheckBox("传输眼镜声音", central);
    audio_->setObjectName("audioForwarding");
    audio_->setChecked(true);
    manualPage_ = new ManualPage(audio_, central);
    manualPage_->setObjectName("manualPage");
    manualPage_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    buildPageStack(layout, central);

    auto* bottomRow = new QHBoxLayout;
    logToggle_ = new QPushButton("查看日志", central);
    logToggle_->setObjectName("logToggle");
    bottomRow->addWidget(audio_);
    bottomRow->addStretch();
    bottomRow->addWidget(logToggle_);
    layout->addLayout(bottomRow);
    addToolEntries(layout);

    logPanel_ = new QWidget(central);
    logPanel_->setObjectName("logPanel");
    auto* logLayout = new QVBoxLayout(logPanel_);
    logLayout->setContentsMargins(0, 0, 0, 0);
    auto* logHeader = new QHBoxLayout;
    logHeader->addWidget(new QLabel("运行日志", logPanel_));
    logHeader->addStretch();
    auto* clear = new QPushButton("清除日志", logPanel_);
    clear->setObjectName("clearLogs");
    logHeader->addWidget(clear);
    logLayout->addLayout(logHeader);
    logView_ = new QPlainTextEdit(logPanel_);
    logView_->setObjectName("logView");
    logView_->setReadOnly(true);
    logView_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    logLayout->addWidget(logView_);
    layout->addWidget(logPanel_);
    logPanel_->setVisible(false);

    setCentralWidget(central);
    resize(kWidth, kHeightCollapsed);

    connect(logToggle_, &QPushButton::clicked, this, [this] { setLogPanelVisible(!isLogPanelVisible()); });
    connect(clear, &QPushButton::clicked, this, &MainWindow::clearLogsRequested);
}

void MainWindow::buildPageStack(QVBoxLayout* layout, QWidget* central) {
    auto* modes = new QHBoxLayout;
    scanModeButton_ = new QPushButton("扫码投屏", central);
    scanModeButton_->setObjectName("scanModeButton");
    manualModeButton_ = new QPushButton("手动连接", central);
    manualModeButton_->setObjectName("manualModeButton");
    for (auto* button : {scanModeButton_, manualModeButton_}) {
        button->setCheckable(true);
        button->setAutoExclusive(true);
        modes->addWidget(button);
    }
    layout->addLayout(modes);

    scrcpyHint_ = new QLabel(central);
    scrcpyHint_->setObjectName("scrcpyHint");
    scrcpyHint_->setWordWrap(true);
    scrcpyHint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    scrcpyHint_->setStyleSheet("color: #b35c00;");
    scrcpyHint_->setVisible(false);
    layout->addWidget(scrcpyHint_);

    scanPage_ = new ScanPage(central);
    scanPage_->setObjectName("scanPage");
    pageStack_ = new QStackedWidget(central);
    pageStack_->setObjectName("pageStack");
    pageStack_->addWidget(scanPage_);
    pageStack_->addWidget(manualPage_);
    pageStack_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    layout->addWidget(pageStack_, 1);

    connect(scanModeButton_, &QPushButton::clicked, this, &MainWindow::showScanMirrorPage);
    connect(manualModeButton_, &QPushButton::clicked, this, &MainWindow::showTraditionalConnectionPage);
    showPage(MirrorPageMode::scan);
}

void MainWindow::showScanMirrorPage() { showPage(MirrorPageMode::scan); }

void MainWindow::showTraditionalConnectionPage() { showPage(MirrorPageMode::traditional); }

void MainWindow::showPage(MirrorPageMode mode) {
    activeMirrorPageMode_ = mode;
    const bool scan = mode == MirrorPageMode::scan;
    pageStack_->setCurrentWidget(scan ? static_cast<QWidget*>(scanPage_) : static_cast<QWidget*>(manualPage_));
    scanModeButton_->setChecked(scan);
    manualModeButton_->setChecked(!scan);
}

void MainWindow::addToolEntries(QVBoxLayout* layout) {
    auto* row = new QHBoxLayout;
    exportMedia_ = new QPushButton("导出照片和视频", layout->parentWidget());
    exportMedia_->setObjectName("exportMediaButton");
    exportMedia_->setEnabled(false);
    exportMedia_->setToolTip("请先连接并选择一个当前在线的设备页签");
    wifiQr_ = new QPushButton("仅生成联网二维码", exportMedia_->parentWidget());
    wifiQr_->setObjectName("wifiQrButton");
    wifiQr_->setToolTip("只生成连接当前 WiFi 的二维码，不开启无线 ADB 或投屏");
    row->addWidget(exportMedia_);
    row->addWidget(wifiQr_);
    row->addStretch();
    layout->addLayout(row);
    connect(exportMedia_, &QPushButton::clicked, this, &MainWindow::exportMediaRequested);
    connect(wifiQr_, &QPushButton::clicked, this, &MainWindow::wifiSetupRequested);
    connect(manualPage_, &ManualPage::exportAvailabilityChanged, this, [this](bool available, const QString& tooltip) {
        exportMedia_->setEnabled(available);
        exportMedia_->setToolTip(tooltip);
    });
}

void MainWindow::appendLogLine(const QString& line) {
    logView_->appendPlainText(line);
    logView_->verticalScrollBar()->setValue(logView_->verticalScrollBar()->maximum());
}

void MainWindow::clearLogView() { logView_->clear(); }

void MainWindow::setScrcpyHint(const QString& text) {
    scrcpyHint_->setText(text);
    scrcpyHint_->setVisible(!text.isEmpty());
}

QString MainWindow::scrcpyHint() const { return scrcpyHint_->isHidden() ? QString() : scrcpyHint_->text(); }

void MainWindow::setStatus(const QString& text) { manualPage_->setStatus(text.toStdString()); }

QString MainWindow::statusText() const { return manualPage_->statusText(); }

bool MainWindow::isLogPanelVisible() const { return !logPanel_->isHidden(); }

void MainWindow::setLogPanelVisible(bool visible) {
    logPanel_->setVisible(visible);
    logToggle_->setText(visible ? "隐藏日志" : "查看日志");
    resize(kWidth, visible ? kHeightExpanded : kHeightCollapsed);
}

}  // namespace orvan
