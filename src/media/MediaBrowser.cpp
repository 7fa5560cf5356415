#include "media/MediaBrowser.h"

#include <unordered_set>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "media/MediaDeviceChoice.h"
#include "media/MediaListing.h"
#include "media/NaturalOrder.h"
#include "media/RemotePath.h"

namespace orvan {

using namespace std::chrono_literals;

MediaBrowser::MediaBrowser(const AdbRunner& runner, const DeviceDiscovery& discovery)
    : runner_(runner), discovery_(discovery) {}

std::string MediaBrowser::requireAnyDevice(const std::optional<std::string>& preferredSerial) const {
    return chooseMediaDevice(discovery_.detectAdbDevices(false), preferredSerial);
}

std::vector<MediaBrowserItem> MediaBrowser::loadDefaultMedia(const std::string& serial) const {
    (*runner_.log())("开始扫描眼镜默认媒体目录...");
    std::vector<MediaBrowserItem> files;
    std::unordered_set<MediaBrowserItem, MediaBrowserItemHash> seen;
    for (const char* directory : kDefaultMediaDirectories) {
        for (auto& item : loadDirectory(serial, directory)) {
            if (!item.isDirectory && seen.insert(item).second) files.push_back(std::move(item));
        }
    }
    sortMediaItems(files, false);
    return files;
}

std::vector<MediaBrowserItem> MediaBrowser::loadDirectory(const std::string& serial,
                                                          std::string_view remoteDirectory) const {
    const std::string directory = normalizeRemoteDirectory(remoteDirectory);
    // The trailing slash lists a symbolic link such as /sdcard through to its folder.
    const std::string argument = directory.ends_with('/') ? directory : directory + "/";
    std::string raw;
    const CommandResult result =
        runner_.runAdb({"shell", "ls", "-la", remoteShellQuoted(argument)},
                       {.timeout = 30s, .check = false, .serial = serial, .log = true, .rawOutput = &raw});
    const std::string output = decodeLossy(raw);
    // A folder that is not there is an empty folder; any other failure that listed nothing is a
    // failure ("error: closed", "device offline"), never an empty folder.
    if (result.status != 0 && !hasListingLine(output) &&
        !text::containsIgnoringCase(output, "No such file or directory")) {
        if (isDeviceGone(serial)) throw MirrorError::message(mediaDeviceGoneText(serial));
        const std::string message = text::trimmed(output);
        throw MirrorError::message(message.empty() ? "命令失败: " + text::joined(result.command, " ") : message);
    }
    return parseDirectoryListing(directory, output);
}

bool MediaBrowser::isDeviceGone(const std::string& serial) const {
    try {
        return !isDeviceListed(discovery_.detectAdbDevicePresence(true), serial);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace orvan
