#include "app/MainWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

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

    pageArea_ = new QWidget(central);
    pageArea_->setObjectName("pageArea");
    pageArea_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    layout->addWidget(pageArea_, 1);

    auto* statusRow = new QHBoxLayout;
    statusValue_ = new QLabel("-", central);
    statusValue_->setObjectName("statusValue");
    statusValue_->setWordWrap(true);
    logToggle_ = new QPushButton("查看日志", central);
    logToggle_->setObjectName("logToggle");
    statusRow->addWidget(statusValue_, 1);
    statusRow->addWidget(logToggle_);
    layout->addLayout(statusRow);

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

void MainWindow::appendLogLine(const QString& line) {
    logView_->appendPlainText(line);
    logView_->verticalScrollBar()->setValue(logView_->verticalScrollBar()->maximum());
}

void MainWindow::clearLogView() { logView_->clear(); }

void MainWindow::setStatus(const QString& text) { statusValue_->setText(text); }

QString MainWindow::statusText() const { return statusValue_->text(); }

bool MainWindow::isLogPanelVisible() const { return !logPanel_->isHidden(); }

void MainWindow::setLogPanelVisible(bool visible) {
    logPanel_->setVisible(visible);
    logToggle_->setText(visible ? "隐藏日志" : "查看日志");
    resize(kWidth, visible ? kHeightExpanded : kHeightCollapsed);
}

}  // namespace orvan
