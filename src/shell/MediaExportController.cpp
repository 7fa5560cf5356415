#include "shell/MediaExportController.h"

#include <algorithm>

#include "media/RemotePath.h"
#include "platform/Dispatch.h"

namespace orvan {
namespace {

// One queue for the previews of every list: at most one preview pull at a time. It is never
// destroyed, so neither a closing window nor the app's exit waits for a pull in flight.
SerialQueue& previewQueue() {
    static auto* queue = new SerialQueue("OrvanMirror.media-preview");
    return *queue;
}

}  // namespace

SelectAllState selectAllState(const std::vector<MediaBrowserItem>& items, const std::set<std::string>& selected) {
    size_t files = 0, chosen = 0;
    for (const auto& item : items) {
        if (item.isDirectory) continue;
        ++files;
        if (selected.contains(item.path)) ++chosen;
    }
    SelectAllState state{.enabled = files > 0};
    if (chosen > 0) state.check = chosen == files ? SelectAllCheck::on : SelectAllCheck::mixed;
    return state;
}

std::string selectionSummary(const std::string& title, const std::vector<MediaBrowserItem>& items,
                             const std::set<std::string>& selected) {
    auto chosen = std::count_if(items.begin(), items.end(), [&](const MediaBrowserItem& item) {
        return !item.isDirectory && selected.contains(item.path);
    });
    std::string count = std::to_string(items.size());
    if (chosen == 0) return title + "：共 " + count + " 项。点击目录进入，多选照片/视频后导出。";
    return title + "：共 " + count + " 项，已选 " + std::to_string(chosen) + " 个文件。点击目录进入，可继续选择或导出。";
}

MediaExportReport mediaExportReport(const MediaExportResult& result) {
    const std::string exported = std::to_string(result.exportedCount);
    const size_t missing = result.skippedMissingFiles.size();
    const size_t unreadable = result.skippedUnreadableFiles.size();
    const size_t skipped = missing + unreadable;
    if (skipped == 0) {
        std::string text = "导出完成，共 " + exported + " 个文件。";
        return {text, text, false};
    }
    MediaExportReport report;
    report.status = "导出完成：成功 " + exported + " 个，已跳过 " + std::to_string(skipped) + " 个失效文件。";
    if (result.exportDirectory) report.alert = "已保存到：" + result.exportDirectory->string() + "\n";
    if (missing > 0) report.alert += "有 " + std::to_string(missing) + " 个文件已被移动或删除，已跳过并刷新列表。";
    if (missing > 0 && unreadable > 0) report.alert += "\n";
    if (unreadable > 0)
        report.alert += "有 " + std::to_string(unreadable) + " 个文件的名称含无法识别的字符，无法按名称读取，已跳过。";
    report.warning = result.exportedCount == 0;
    return report;
}

MediaExportController::MediaExportController(std::shared_ptr<const MediaBrowser> browser,
                                             std::shared_ptr<const MediaExporter> exporter, MediaExportView& view,
                                             MediaPreviewDecoder decoder)
    : browser_(std::move(browser)), exporter_(std::move(exporter)), view_(view), decoder_(std::move(decoder)) {}

std::optional<std::string> MediaExportController::serial() const {
    if (!session_) return std::nullopt;
    return session_->serial();
}

MediaPreview MediaExportController::preview(const MediaBrowserItem& item) const {
    if (!item.isImage()) return nullptr;
    auto found = previews_.find(item.path);
    return found == previews_.end() ? nullptr : found->second;
}

void MediaExportController::open(const std::optional<std::string>& preferredSerial) {
    preferredSerial_ = preferredSerial;
    ++openGeneration_;
    // A list still loading belongs to the glasses chosen before: it is dropped on arrival and
    // the default scan of the new choice starts then.
    if (loading_) {
        view_.setStatus("正在扫描默认媒体目录...");
        return;
    }
    loadDefaultMedia();
}

void MediaExportController::loadDefaultMedia() {
    load(std::nullopt);
}

void MediaExportController::loadDirectory(const std::string& path) {
    load(path);
}

void MediaExportController::refreshCurrentPath() {
    reload();
}

void MediaExportController::goUpDirectory(const std::string& pathFieldText) {
    loadDirectory(parentRemoteDirectory(currentPath_ ? *currentPath_ : pathFieldText));
}

void MediaExportController::load(const std::optional<std::string>& directory) {
    const bool defaultScan = !directory;
    if (loading_) {
        view_.setStatus(defaultScan ? "正在扫描媒体目录，请稍候。" : "正在读取媒体目录，请稍候。");
        return;
    }
    loading_ = true;
    const std::string path = defaultScan ? std::string() : normalizeRemoteDirectory(*directory);
    view_.setStatus(defaultScan ? "正在扫描默认媒体目录..." : "正在读取 " + path + "...");
    // The glasses are chosen when the window opens; later lists read the same pair.
    auto session = sessionGeneration_ == openGeneration_ ? session_ : nullptr;
    const uint64_t generation = openGeneration_;
    std::weak_ptr<MediaExportController> weak = weak_from_this();
    tasks_.async(
        [weak, browser = browser_, exporter = exporter_, preferred = preferredSerial_, session, path, defaultScan,
         generation] {
            auto used = session;
            std::vector<MediaBrowserItem> items;
            std::optional<std::string> failure;
            try {
                if (!used) used = std::make_shared<MediaSession>(MediaSession::open(*browser, *exporter, preferred));
                items = defaultScan ? used->loadDefaultMedia() : used->loadDirectory(path);
            } catch (const std::exception& error) {
                failure = error.what();
            }
            Dispatch::main().post([weak, used, items = std::move(items), failure, path, defaultScan, generation] {
                auto self = weak.lock();
                if (!self) return;
                self->loading_ = false;
                if (generation != self->openGeneration_) {
                    // Read for the glasses chosen before the window was opened again.
                    self->loadDefaultMedia();
                    return;
                }
                if (failure) {
                    self->showError(*failure);
                    return;
                }
                self->session_ = used;
                self->sessionGeneration_ = generation;
                self->currentPath_ = defaultScan ? std::nullopt : std::optional(path);
                const std::string title = defaultScan ? kDefaultMediaTitle : path;
                self->view_.setPathText(title);
                self->showItems(items, title);
            });
        },
        QualityOfService::userInitiated);
}

void MediaExportController::showItems(std::vector<MediaBrowserItem> items, const std::string& title) {
    items_ = std::move(items);
    title_ = title;
    previews_.clear();
    selected_.clear();
    ++previewToken_;
    view_.reloadItems();
    updateSelection();
    loadPreviews();
}

void MediaExportController::updateSelection() {
    view_.setSelectAll(selectAllState(items_, selected_));
    view_.setStatus(selectionSummary(title_, items_, selected_));
}

void MediaExportController::loadPreviews() {
    std::vector<std::string> paths;
    for (const auto& item : items_)
        if (item.isImage()) paths.push_back(item.path);
    if (paths.empty() || !session_) return;
    std::weak_ptr<MediaExportController> weak = weak_from_this();
    auto run = tasks_.counted([weak, session = session_, browser = browser_, exporter = exporter_,
                               decoder = decoder_, paths = std::move(paths), token = previewToken_,
                               stop = tasks_.token()] {
        for (const auto& path : paths) {
            // A list replaced by another still has its previews pulled (they stay cached); only
            // a closed window or the quit stops the run.
            if (weak.expired() || stop.stopRequested()) return;
            MediaPreview image;
            try {
                image = decoder(session->cacheImagePreview(path));
            } catch (const std::exception&) {
                continue;  // the item stays without a preview; the pull logged its failure
            }
            if (!image) continue;
            Dispatch::main().post([weak, token, path, image] {
                auto self = weak.lock();
                if (!self || token != self->previewToken_) return;
                self->previews_[path] = image;
                auto& items = self->items_;
                auto found = std::find_if(items.begin(), items.end(), [&](const auto& item) { return item.path == path; });
                if (found != items.end()) self->view_.updateItem(static_cast<size_t>(found - items.begin()));
            });
        }
    });
    if (run) previewQueue().async(std::move(run));
}

void MediaExportController::itemClicked(size_t index) {
    if (index >= items_.size()) return;
    const auto item = items_[index];
    if (item.isDirectory) {
        loadDirectory(item.path);
        return;
    }
    if (!selected_.erase(item.path)) selected_.insert(item.path);
    view_.updateItem(index);
    updateSelection();
}

void MediaExportController::toggleSelectAll(bool selectAll) {
    selected_.clear();
    if (selectAll)
        for (const auto& item : items_)
            if (!item.isDirectory) selected_.insert(item.path);
    view_.reloadItems();
    updateSelection();
}

void MediaExportController::showError(const std::string& message) {
    view_.setStatus("操作失败");
    view_.showAlert(AlertKind::warning, "操作失败", message, {});
}

void MediaExportController::exportSelectedMedia() {
    if (exporting_) {
        view_.setStatus("正在导出选中文件，请勿重复操作。");
        return;
    }
    if (choosing_) {
        view_.setStatus("正在选择保存位置，请完成当前操作。");
        return;
    }
    std::vector<MediaBrowserItem> chosen;
    for (const auto& item : items_)
        if (!item.isDirectory && selected_.contains(item.path)) chosen.push_back(item);
    if (chosen.empty() || !session_) {
        showError("请先选择要导出的照片或视频。");
        return;
    }
    choosing_ = true;
    view_.setExportEnabled(false);
    // The chooser runs a nested event loop; the window may be closed meanwhile.
    auto keep = shared_from_this();
    auto folder = view_.chooseExportFolder(media_export_text::kChooserTitle);
    choosing_ = false;
    if (!folder) {
        view_.setExportEnabled(true);
        return;
    }
    exporting_ = true;
    view_.showProgress(0, static_cast<int>(chosen.size()));
    view_.setStatus("正在导出选中文件...");
    std::weak_ptr<MediaExportController> weak = weak_from_this();
    tasks_.async(
        [weak, session = session_, browser = browser_, exporter = exporter_, chosen, folder = *folder] {
            auto progress = [weak](int index, int total, const std::string& name) {
                Dispatch::main().post([weak, index, total, name] {
                    auto self = weak.lock();
                    if (!self || !self->exporting_) return;
                    self->view_.showProgress(index, std::max(total, 1));
                    self->view_.setStatus("正在导出 " + std::to_string(index) + "/" + std::to_string(total) + "：" + name);
                });
            };
            std::optional<MediaExportResult> result;
            std::string failure;
            try {
                result = session->exportSelectedMedia(chosen, folder, progress);
            } catch (const std::exception& error) {
                failure = error.what();
            }
            // Posted after every progress step, so it arrives after them.
            Dispatch::main().post([weak, result, failure] {
                auto self = weak.lock();
                if (!self) return;
                self->finishExport();
                if (result)
                    self->reportExport(*result);
                else
                    self->showError(failure);
            });
        },
        QualityOfService::userInitiated);
}

void MediaExportController::finishExport() {
    exporting_ = false;
    view_.setExportEnabled(true);
    view_.hideProgress();
}

void MediaExportController::reportExport(const MediaExportResult& result) {
    auto report = mediaExportReport(result);
    view_.setStatus(report.status);
    std::weak_ptr<MediaExportController> weak = weak_from_this();
    view_.showAlert(report.warning ? AlertKind::warning : AlertKind::information, media_export_text::kTitle,
                    report.alert, [weak] {
                        // Moved or deleted files show as they are now.
                        if (auto self = weak.lock()) self->reload();
                    });
}

}  // namespace orvan
