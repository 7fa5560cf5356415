#pragma once

#include <QMainWindow>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;
class QWidget;

namespace orvan {

class ManualPage;
class ScanPage;

// The two pages of the main window.
enum class MirrorPageMode { scan, traditional };

// The main window: the page area, the status line and the log panel below it.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kWidth = 500;
    static constexpr int kHeightCollapsed = 790;
    static constexpr int kHeightExpanded = 950;

    explicit MainWindow(QWidget* parent = nullptr);

    void appendLogLine(const QString& line);
    void clearLogView();
    void setStatus(const QString& text);
    // The line above both pages that says mirrors cannot start (no or an unusable scrcpy);
    // hidden when empty.
    void setScrcpyHint(const QString& text);
    QString scrcpyHint() const;
    QString statusText() const;
    bool isLogPanelVisible() const;
    void setLogPanelVisible(bool visible);

    ManualPage* manualPage() const { return manualPage_; }
    ScanPage* scanPage() const { return scanPage_; }
    MirrorPageMode activeMirrorPageMode() const { return activeMirrorPageMode_; }
    void showScanMirrorPage();
    void showTraditionalConnectionPage();
    QCheckBox* audioCheckbox() const { return audio_; }
    QPlainTextEdit* logView() const { return logView_; }
    QPushButton* exportMediaButton() const { return exportMedia_; }
    QPushButton* wifiQrButton() const { return wifiQr_; }

signals:
    void clearLogsRequested();
    void exportMediaRequested();
    void wifiSetupRequested();

private:
    // The mode buttons above the page stack, scan page first.
    void buildPageStack(QVBoxLayout* layout, QWidget* central);
    void showPage(MirrorPageMode mode);

    ManualPage* manualPage_;
    ScanPage* scanPage_ = nullptr;
    QStackedWidget* pageStack_ = nullptr;
    QLabel* scrcpyHint_ = nullptr;
    QPushButton* scanModeButton_ = nullptr;
    QPushButton* manualModeButton_ = nullptr;
    MirrorPageMode activeMirrorPageMode_ = MirrorPageMode::scan;
    QCheckBox* audio_;
    QWidget* logPanel_;
    QPlainTextEdit* logView_;
    QPushButton* logToggle_;

    // The entries below the pages: export of photos and videos, and the Wi-Fi-only QR code.
    void addToolEntries(QVBoxLayout* layout);
    QPushButton* exportMedia_ = nullptr;
    QPushButton* wifiQr_ = nullptr;
};

}  // namespace orvan
