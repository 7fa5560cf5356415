#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "shell/MediaExportController.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QProgressBar;
class QPushButton;

namespace orvan {

class MediaItemModel;

// The export window ("导出照片/视频"): a grid of the glasses' folders, photos and videos with
// previews, the path field, the selection, and the export with its progress. Renders the
// controller's state and forwards clicks; kept (hidden) when closed.
class MediaExportWindow : public QWidget, public MediaExportView {
    Q_OBJECT

public:
    static constexpr int kWidth = 860;
    static constexpr int kHeight = 640;
    // The folder chooser; tests answer it without a dialog.
    using FolderChooser = std::function<std::optional<std::filesystem::path>(const QString& title)>;

    MediaExportWindow(std::shared_ptr<const MediaBrowser> browser, std::shared_ptr<const MediaExporter> exporter,
                      QWidget* parent = nullptr);
    ~MediaExportWindow() override;

    // show(): in front; a window that was hidden reads its glasses' default folders again.
    void present(const std::optional<std::string>& preferredSerial);
    MediaExportController& controller() { return *controller_; }
    void setFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }
    QString lastAlertText() const { return lastAlert_; }

    // Decodes a cached image file into a preview small enough for a cell (any thread).
    static MediaPreview decodePreview(const std::filesystem::path& file);

    void reloadItems() override;
    void updateItem(size_t index) override;
    void setPathText(const std::string& text) override;
    void setStatus(const std::string& text) override;
    void setSelectAll(const SelectAllState& state) override;
    void setExportEnabled(bool enabled) override;
    void showProgress(int value, int maximum) override;
    void hideProgress() override;
    std::optional<std::filesystem::path> chooseExportFolder(const std::string& title) override;
    void showAlert(AlertKind kind, const std::string& message, const std::string& informative,
                   std::function<void()> dismissed) override;

private:
    std::shared_ptr<MediaExportController> controller_;
    MediaItemModel* model_;
    QListView* grid_;
    QLineEdit* pathField_;
    QCheckBox* selectAll_;
    QPushButton* exportSelectedButton_;
    QProgressBar* exportProgress_;
    QLabel* statusLabel_;
    FolderChooser folderChooser_;
    QString lastAlert_;
};

}  // namespace orvan
