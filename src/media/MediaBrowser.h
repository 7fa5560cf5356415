#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adb/AdbRunner.h"
#include "adb/DeviceDiscovery.h"
#include "media/MediaBrowserItem.h"

namespace orvan {

// Where the glasses keep photos and videos, scanned in this order by the default view.
inline constexpr std::array<const char*, 7> kDefaultMediaDirectories = {
    "/sdcard/DCIM/Camera",    "/sdcard/DCIM/album",     "/sdcard/Movies/Camera", "/sdcard/Pictures",
    "/sdcard/Pictures/album", "/sdcard/Pictures/video", "/sdcard/Download"};

// Lists the glasses' media folders with `adb shell ls -la`, always on the shared server and
// always for one serial: the export window pins its glasses when it opens, so that another pair
// plugged in meanwhile is never listed in their place. Every operation blocks its thread (up to
// 30 s per folder) and holds no lock.
class MediaBrowser {
public:
    MediaBrowser(const AdbRunner& runner, const DeviceDiscovery& discovery);

    // The serial to pin: the preferred one when connected, else the only device. Runs a full
    // (logged) device discovery; throws its failure or the two choice messages.
    std::string requireAnyDevice(const std::optional<std::string>& preferredSerial) const;

    // The files (no directories) of the seven default folders, duplicates removed, in natural
    // order by name. A folder that does not exist adds nothing; one that cannot be listed is
    // logged by name and skipped. A lost device, adb's launch error or time-out fails the scan,
    // as does a failure of every folder.
    std::vector<MediaBrowserItem> loadDefaultMedia(const std::string& serial) const;

    // Directories and media files of one folder (normalised first). A missing folder is empty.
    // Throws adb's launch error or time-out; a failing run that listed nothing and did not say
    // "No such file or directory" throws adb's text, or the gone-device text when the glasses
    // are no longer connected.
    std::vector<MediaBrowserItem> loadDirectory(const std::string& serial, std::string_view remoteDirectory) const;

    // After a failed command: whether adb no longer lists the glasses (a failing check counts as
    // "not known to be gone").
    bool isDeviceGone(const std::string& serial) const;

    const AdbRunner& runner() const { return runner_; }

private:
    // A folder's entries, or the glasses' reason why it cannot be listed (the device still there).
    struct FolderListing {
        std::vector<MediaBrowserItem> items;
        std::optional<std::string> folderFailure;
    };
    FolderListing listDirectory(const std::string& serial, std::string_view remoteDirectory) const;

    const AdbRunner& runner_;
    const DeviceDiscovery& discovery_;
};

}  // namespace orvan
