#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "shell/ManualPageController.h"

class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollArea;

namespace orvan {

// The manual connection page: device tabs, status rows and the action buttons. Renders what the
// controller decides and forwards clicks; no rules live here.
class ManualPage : public QWidget, public ManualPageView {
    Q_OBJECT

public:
    static constexpr int kContentWidth = 444;
    static constexpr int kTabStripHeight = 38;

    // The audio checkbox sits below the pages, in the main window; the page drives it.
    ManualPage(QCheckBox* audioCheckbox, QWidget* parent = nullptr);
    void setController(std::shared_ptr<ManualPageController> controller);

    void renderTabs(const std::vector<DeviceTab>& tabs, std::optional<size_t> selected) override;
    void showStatusRows(const StatusRows& rows) override;
    void setStatus(const std::string& text) override;
    void setMirrorButtonTitle(const std::string& title) override;
    void setAudioForwarding(bool checked, const std::string& tooltip) override;
    void setBusy(bool busy) override;
    void showWarning(const std::string& title, const std::string& message) override;
    void showInformation(const std::string& message, const std::string& button) override;
    void setExportAvailability(bool available, const std::string& tooltip) override;

    QString statusText() const;
    // The alert last shown (for the log panel's tests and for screenshots).
    QString lastAlertText() const { return lastAlert_; }

signals:
    // The export entry below the pages follows the page's export target.
    void exportAvailabilityChanged(bool available, const QString& tooltip);

private:
    QLabel* addRow(QGridLayout* grid, int row, const QString& name, const QString& objectName);
    QPushButton* actionButton(const QString& title, const QString& objectName);
    static void setValue(QLabel* label, const std::string& text);

    std::shared_ptr<ManualPageController> controller_;
    QCheckBox* audio_;
    QScrollArea* tabScroll_;
    QWidget* tabStrip_;
    QHBoxLayout* tabLayout_;
    QButtonGroup* tabGroup_;
    QLabel *adbValue_, *modelValue_, *deviceIdValue_, *wifiValue_, *ipValue_, *statusValue_;
    QPushButton *detectButton_, *startButton_, *glassShellButton_, *disconnectButton_;
    QString lastAlert_;
};

}  // namespace orvan
