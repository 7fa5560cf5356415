#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "media/MediaBrowser.h"
#include "media/MediaBrowserItem.h"
#include "platform/Clock.h"

namespace orvan {

struct MediaExportResult {
    int exportedCount = 0;
    // Remote paths skipped because they are no longer on the glasses; unique, ascending.
    std::vector<std::string> skippedMissingFiles;
    // The folder that received the files; absent when nothing was exported.
    std::optional<std::filesystem::path> exportDirectory;
    // Remote paths skipped because their listed name was not valid UTF-8: the name shown is not
    // the file's, so adb cannot read it by that name. Unique, ascending.
    std::vector<std::string> skippedUnreadableFiles{};

    bool operator==(const MediaExportResult&) const = default;
};

// Called before each pull, on the exporting thread: (index from 1, total, file name).
using MediaExportProgress = std::function<void(int index, int total, const std::string& name)>;

struct MediaExportTimeouts {
    std::chrono::duration<double> exportPull = std::chrono::seconds(600);
    std::chrono::duration<double> previewPull = std::chrono::seconds(120);
};

// Whether a failed pull means the glasses' file is gone: adb said so, and the message names the
// remote file or the export folder is still there (adb says the same of a vanished local folder,
// which must stop the export instead).
bool pullFailureMeansMissing(const std::string& output, const std::string& remotePath, bool exportFolderExists);

// Copies photos and videos from one pair of glasses to the computer with `adb pull`, and keeps
// the preview cache. A pull lands under a hidden partial name and is renamed into place only
// when complete, so a cut-off transfer never looks like a finished file. Blocks its thread for
// up to the pull time-out per file; holds no lock.
class MediaExporter {
public:
    MediaExporter(const MediaBrowser& browser, const Clock& clock, MediaExportTimeouts timeouts = {});

    // Exports the selected files into a new "OrvanMedia_<time>" folder inside `folder`. Each
    // file is looked up again in a fresh listing of its own folder; one gone from there is
    // followed only to the single default-folder file of the same name and size, else listed
    // missing. A file that vanishes during its pull is listed missing too. Throws the device,
    // listing and folder errors, or, when a pull fails otherwise, a text that also says what
    // was already exported.
    MediaExportResult exportSelectedMedia(const std::string& serial, const std::vector<MediaBrowserItem>& selected,
                                          const std::filesystem::path& folder,
                                          const MediaExportProgress& progress = {}) const;

    // Exports every file of the default scan; returns how many were exported.
    int exportMedia(const std::string& serial, const std::filesystem::path& folder) const;

    // The local copy of a remote image for its preview: pulled once into the cache, then reused
    // without any check. Throws the pull's failure (or the gone-device text).
    std::filesystem::path cacheImagePreview(const std::string& serial, const std::string& remotePath) const;

private:
    struct Resolution {
        std::vector<std::string> pulls;    // unique, ascending
        std::vector<std::string> missing;  // as found
    };
    Resolution resolveSelection(const std::string& serial, const std::vector<MediaBrowserItem>& selected) const;

    const MediaBrowser& browser_;
    const Clock& clock_;
    MediaExportTimeouts timeouts_;
};

}  // namespace orvan
