#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "media/MediaExporter.h"

namespace orvan {

// The export window's hold on one pair of glasses. The serial is chosen once, when the window
// opens; every later list, export and preview addresses exactly that pair, so a mirror of
// another pair started meanwhile, or the first pair unplugged while a second stays, never
// makes the window show, export or cache another pair's files. When the pair is gone, each
// operation fails with a text saying so.
class MediaSession {
public:
    // Picks the preferred serial when it is connected, else the only device (running a logged
    // device discovery); throws the discovery's failure or the device-choice messages.
    static MediaSession open(const MediaBrowser& browser, const MediaExporter& exporter,
                             const std::optional<std::string>& preferredSerial);

    const std::string& serial() const { return serial_; }

    std::vector<MediaBrowserItem> loadDefaultMedia() const { return browser_.loadDefaultMedia(serial_); }
    std::vector<MediaBrowserItem> loadDirectory(std::string_view remoteDirectory) const {
        return browser_.loadDirectory(serial_, remoteDirectory);
    }
    MediaExportResult exportSelectedMedia(const std::vector<MediaBrowserItem>& selected,
                                          const std::filesystem::path& folder,
                                          const MediaExportProgress& progress = {}) const {
        return exporter_.exportSelectedMedia(serial_, selected, folder, progress);
    }
    int exportMedia(const std::filesystem::path& folder) const { return exporter_.exportMedia(serial_, folder); }
    std::filesystem::path cacheImagePreview(const std::string& remotePath) const {
        return exporter_.cacheImagePreview(serial_, remotePath);
    }

private:
    MediaSession(const MediaBrowser& browser, const MediaExporter& exporter, std::string serial)
        : browser_(browser), exporter_(exporter), serial_(std::move(serial)) {}

    const MediaBrowser& browser_;
    const MediaExporter& exporter_;
    std::string serial_;
};

}  // namespace orvan
