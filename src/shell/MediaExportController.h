#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "media/MediaBrowser.h"
#include "platform/TaskScope.h"
#include "media/MediaExporter.h"
#include "media/MediaSession.h"

namespace orvan {

// A decoded preview. The view's toolkit subclasses it; the controller only keeps and hands it on.
struct MediaPreviewImage {
    virtual ~MediaPreviewImage() = default;
};
using MediaPreview = std::shared_ptr<const MediaPreviewImage>;
// Opens a cached local file as a preview; nothing when it is not an image it can read. Runs on
// the preview queue, never on the main thread.
using MediaPreviewDecoder = std::function<MediaPreview(const std::filesystem::path& file)>;

enum class SelectAllCheck { off, mixed, on };
struct SelectAllState {
    bool enabled = false;
    SelectAllCheck check = SelectAllCheck::off;
    bool operator==(const SelectAllState&) const = default;
};
// "全选": enabled when the list has a file; on when every file is selected, mixed when some are.
SelectAllState selectAllState(const std::vector<MediaBrowserItem>& items, const std::set<std::string>& selected);
// The status line after a list is shown or the selection changes.
std::string selectionSummary(const std::string& title, const std::vector<MediaBrowserItem>& items,
                             const std::set<std::string>& selected);

// What a finished export tells the user: the status line and the alert "导出照片/视频".
struct MediaExportReport {
    std::string status;
    std::string alert;
    bool warning = false;  // nothing was exported
    bool operator==(const MediaExportReport&) const = default;
};
MediaExportReport mediaExportReport(const MediaExportResult& result);

namespace media_export_text {
inline constexpr const char* kTitle = "导出照片/视频";
inline constexpr const char* kChooserTitle = "选择照片和视频导出到电脑的保存位置";
inline constexpr const char* kInitialStatus = "正在准备媒体列表...";
}  // namespace media_export_text

enum class AlertKind { information, warning };

// What the export window does for the controller; implemented by the Qt window (and by a
// recorder in tests). Main thread only.
class MediaExportView {
public:
    virtual ~MediaExportView() = default;
    // The list changed: redraw every cell from the controller.
    virtual void reloadItems() = 0;
    // One cell's selection or preview changed.
    virtual void updateItem(size_t index) = 0;
    virtual void setPathText(const std::string& text) = 0;
    virtual void setStatus(const std::string& text) = 0;
    virtual void setSelectAll(const SelectAllState& state) = 0;
    virtual void setExportEnabled(bool enabled) = 0;
    virtual void showProgress(int value, int maximum) = 0;
    virtual void hideProgress() = 0;
    // The desktop's folder chooser, modal: folders only, folder creation allowed.
    virtual std::optional<std::filesystem::path> chooseExportFolder(const std::string& title) = 0;
    // A modal alert; `dismissed` runs once the user has closed it.
    virtual void showAlert(AlertKind kind, const std::string& message, const std::string& informative,
                           std::function<void()> dismissed) = 0;
};

// The export window's state and rules, without widgets: the list shown, navigation, the
// selection, the export with its progress, and the previews. Main thread only; create it with
// std::make_shared. Device work runs on the background pool, previews one after another on the
// preview queue; results come back through the main queue and are dropped when the controller
// is gone, and previews of a list no longer shown are dropped too.
class MediaExportController : public std::enable_shared_from_this<MediaExportController> {
public:
    MediaExportController(std::shared_ptr<const MediaBrowser> browser, std::shared_ptr<const MediaExporter> exporter,
                          MediaExportView& view, MediaPreviewDecoder decoder);

    // The window was (re)opened: its glasses are chosen again (the preferred serial when it is
    // connected) and the default scan starts.
    void open(const std::optional<std::string>& preferredSerial);
    void loadDefaultMedia();
    void loadDirectory(const std::string& path);
    void pathEntered(const std::string& pathFieldText) { loadDirectory(pathFieldText); }
    void refreshCurrentPath();
    void goUpDirectory(const std::string& pathFieldText);
    // `selectAll`: the check box asks for every file (else for none).
    void toggleSelectAll(bool selectAll);
    // A click on a cell: a directory opens, a file is selected or unselected.
    void itemClicked(size_t index);
    void exportSelectedMedia();

    const std::vector<MediaBrowserItem>& items() const { return items_; }
    const std::optional<std::string>& currentPath() const { return currentPath_; }
    bool isSelected(const std::string& path) const { return selected_.contains(path); }
    // The preview of an image item, when it has arrived.
    MediaPreview preview(const MediaBrowserItem& item) const;
    bool isLoadingMediaList() const { return loading_; }
    bool isExporting() const { return exporting_; }
    bool isChoosingExportDirectory() const { return choosing_; }

    // The app quits: no list, export or preview run starts, and those running see the stop.
    // `tasks` tells when they have returned.
    void stop() { tasks_.stop(); }
    const TaskScope& tasks() const { return tasks_; }

    // The serial of the glasses the window shows, once a list has been read.
    std::optional<std::string> serial() const;

private:
    using Finish = std::function<void(MediaExportController&)>;
    void load(const std::optional<std::string>& directory);
    void showItems(std::vector<MediaBrowserItem> items, const std::string& title);
    void loadPreviews();
    void finishExport();
    void reportExport(const MediaExportResult& result);
    void updateSelection();
    void showError(const std::string& message);
    void reload() { currentPath_ ? loadDirectory(*currentPath_) : loadDefaultMedia(); }

    std::shared_ptr<const MediaBrowser> browser_;
    std::shared_ptr<const MediaExporter> exporter_;
    MediaExportView& view_;
    MediaPreviewDecoder decoder_;

    std::optional<std::string> preferredSerial_;
    std::shared_ptr<const MediaSession> session_;  // the glasses of the list shown
    uint64_t openGeneration_ = 0;                  // a reopening outdates the loads before it
    uint64_t sessionGeneration_ = 0;               // the opening that chose session_
    std::vector<MediaBrowserItem> items_;
    std::optional<std::string> currentPath_;
    std::string title_;
    std::map<std::string, MediaPreview> previews_;
    std::set<std::string> selected_;
    uint64_t previewToken_ = 0;
    TaskScope tasks_;
    bool loading_ = false;
    bool exporting_ = false;
    bool choosing_ = false;
};

}  // namespace orvan
