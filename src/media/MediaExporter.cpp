#include "media/MediaExporter.h"

#include <algorithm>
#include <map>
#include <set>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "media/MediaDeviceChoice.h"
#include "media/MediaFiles.h"
#include "media/RemotePath.h"

namespace orvan {

namespace fs = std::filesystem;

namespace {

void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

std::vector<std::string> uniqueSorted(std::vector<std::string> values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

}  // namespace

bool pullFailureMeansMissing(const std::string& output, const std::string& remotePath, bool exportFolderExists) {
    const std::string lower = text::lowercased(output);
    const bool saysMissing = lower.find("failed to stat remote object") != std::string::npos ||
                             lower.find("no such file or directory") != std::string::npos;
    return saysMissing && (output.find(remotePath) != std::string::npos || exportFolderExists);
}

MediaExporter::MediaExporter(const MediaBrowser& browser, const Clock& clock, MediaExportTimeouts timeouts)
    : browser_(browser), clock_(clock), timeouts_(timeouts) {}

MediaExporter::Resolution MediaExporter::resolveSelection(const std::string& serial,
                                                          const std::vector<MediaBrowserItem>& selected) const {
    const auto& log = *browser_.runner().log();
    std::map<std::string, MediaBrowserItem> requested;  // by path: unique, in code-point order
    for (const auto& item : selected) requested.emplace(item.path, item);

    std::map<std::string, std::set<std::string>> folderFiles;  // fresh listings, one per folder
    std::optional<std::vector<MediaBrowserItem>> defaultScan;
    Resolution resolution;
    std::vector<std::string> pulls;
    for (const auto& [path, item] : requested) {
        const std::string folder = remoteFolderOf(path);
        auto listed = folderFiles.find(folder);
        if (listed == folderFiles.end()) {
            std::set<std::string> files;
            for (const auto& entry : browser_.loadDirectory(serial, folder)) {
                if (!entry.isDirectory) files.insert(entry.path);
            }
            listed = folderFiles.emplace(folder, std::move(files)).first;
        }
        if (listed->second.contains(path)) {
            pulls.push_back(path);
            continue;
        }
        // Gone from its folder: follow it only to one default-folder file that is plainly the
        // same (name and size), never to another photo that merely shares a common name.
        if (!defaultScan) defaultScan = browser_.loadDefaultMedia(serial);
        const std::string name = lastPathComponent(path);
        std::vector<std::string> matches;
        for (const auto& current : *defaultScan) {
            if (current.name == name && current.size == item.size) matches.push_back(current.path);
        }
        if (matches.size() == 1) {
            log("媒体文件路径已变化，改用当前路径: " + path + " -> " + matches.front());
            pulls.push_back(matches.front());
        } else {
            log("媒体文件已不在眼镜中，跳过: " + path);
            resolution.missing.push_back(path);
        }
    }
    resolution.pulls = uniqueSorted(std::move(pulls));
    return resolution;
}

MediaExportResult MediaExporter::exportSelectedMedia(const std::string& serial,
                                                     const std::vector<MediaBrowserItem>& selected,
                                                     const fs::path& folder,
                                                     const MediaExportProgress& progress) const {
    if (selected.empty()) throw MirrorError::message("请先选择要导出的照片或视频。");
    const auto& log = *browser_.runner().log();
    // A name decoded lossily is not the file's name: adb cannot pull it by that name.
    std::vector<MediaBrowserItem> readable;
    std::vector<std::string> unreadable;
    for (const auto& item : selected) {
        if (item.path.find("\xEF\xBF\xBD") == std::string::npos) {
            readable.push_back(item);
        } else {
            log("文件名含无法识别的字符，无法按名称读取，跳过: " + item.path);
            unreadable.push_back(item.path);
        }
    }
    Resolution resolution = resolveSelection(serial, readable);
    const int total = static_cast<int>(resolution.pulls.size());

    const fs::path exportFolder = createExportFolder(folder, exportFolderName(clock_.wallNow()));
    // Only a folder this export made and left empty goes (removing a folder that holds files
    // fails, harmlessly); an earlier export's folder is never this one.
    auto removeIfEmpty = [&exportFolder] { removeQuietly(exportFolder); };
    MediaExportResult result;
    result.skippedUnreadableFiles = uniqueSorted(std::move(unreadable));
    // What was saved stays said when a later file fails (the export drive went away, say).
    auto failure = [&](const std::string& name, const std::string& detail) {
        std::string message;
        if (result.exportedCount > 0) {
            message =
                "已成功导出 " + std::to_string(result.exportedCount) + " 个文件到 " + exportFolder.string() + "。";
        }
        removeIfEmpty();
        return MirrorError::message(message + "导出 " + name + " 失败：" + detail);
    };
    for (int index = 1; index <= total; ++index) {
        const std::string& remote = resolution.pulls[static_cast<std::size_t>(index - 1)];
        const std::string name = lastPathComponent(remote);
        if (progress) progress(index, total, name);
        log("正在导出 " + std::to_string(index) + "/" + std::to_string(total) + ": " + name);

        fs::path partial;
        try {
            partial = makePartialFile(exportFolder);
        } catch (const MirrorError& error) {
            throw failure(name, error.what());
        }
        CommandResult pull;
        try {
            pull = browser_.runner().runAdb(
                {"pull", remote, partial.string()},
                {.timeout = timeouts_.exportPull, .check = false, .serial = serial, .log = true});
        } catch (...) {
            removeQuietly(partial);
            removeIfEmpty();
            throw;
        }
        if (pull.status == 0) {
            try {
                placeWithoutReplacing(partial, exportFolder, name);
            } catch (const MirrorError& error) {
                removeQuietly(partial);
                throw failure(name, error.what());
            } catch (...) {
                removeQuietly(partial);
                removeIfEmpty();
                throw;
            }
            ++result.exportedCount;
            continue;
        }
        removeQuietly(partial);
        std::error_code ignored;
        if (pullFailureMeansMissing(pull.output, remote, fs::is_directory(exportFolder, ignored))) {
            resolution.missing.push_back(remote);
            log("导出时文件已不在眼镜中，跳过: " + remote);
            continue;
        }
        std::string detail = pull.output.empty() ? "ADB pull 执行失败。" : pull.output;
        if (browser_.isDeviceGone(serial)) detail = mediaDeviceGoneText(serial);
        throw failure(name, detail);
    }

    result.skippedMissingFiles = uniqueSorted(std::move(resolution.missing));
    if (result.exportedCount == 0) {
        removeIfEmpty();
    } else {
        result.exportDirectory = exportFolder;
    }
    std::string summary = "导出完成，成功 " + std::to_string(result.exportedCount) + " 个，跳过 " +
                          std::to_string(result.skippedMissingFiles.size()) + " 个。";
    if (result.exportDirectory) summary += "保存位置: " + exportFolder.string();
    log(summary);
    return result;
}

int MediaExporter::exportMedia(const std::string& serial, const fs::path& folder) const {
    const auto items = browser_.loadDefaultMedia(serial);
    if (items.empty()) return 0;
    return exportSelectedMedia(serial, items, folder).exportedCount;
}

fs::path MediaExporter::cacheImagePreview(const std::string& serial, const std::string& remotePath) const {
    const fs::path dir = mediaThumbnailCacheDirectory();
    const fs::path local = dir / previewCacheFileName(serial, remotePath);
    std::error_code ignored;
    if (fs::exists(local, ignored)) return local;
    const fs::path partial = makePartialFile(dir);
    try {
        browser_.runner().runAdb({"pull", remotePath, partial.string()},
                                 {.timeout = timeouts_.previewPull, .check = true, .serial = serial, .log = true});
    } catch (const MirrorError&) {
        removeQuietly(partial);
        if (browser_.isDeviceGone(serial)) throw MirrorError::message(mediaDeviceGoneText(serial));
        throw;
    } catch (...) {
        removeQuietly(partial);
        throw;
    }
    std::error_code error;
    fs::rename(partial, local, error);
    if (error) {
        removeQuietly(partial);
        throw MirrorError::message("无法保存预览：" + local.string() + "（" + error.message() + "）");
    }
    return local;
}

}  // namespace orvan
