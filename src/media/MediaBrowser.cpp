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
    std::optional<std::string> firstFailure;
    size_t failures = 0;
    for (const char* directory : kDefaultMediaDirectories) {
        auto listing = listDirectory(serial, directory);
        if (listing.folderFailure) {
            // One folder the glasses will not list ("Permission denied", "Not a directory")
            // leaves the others' media to show.
            (*runner_.log())("无法读取默认媒体目录 " + std::string(directory) + "，已跳过：" + *listing.folderFailure);
            if (!firstFailure) firstFailure = listing.folderFailure;
            ++failures;
            continue;
        }
        for (auto& item : listing.items) {
            if (!item.isDirectory && seen.insert(item).second) files.push_back(std::move(item));
        }
    }
    // Not one folder could be read: that is the glasses' trouble, not seven unreadable folders.
    if (failures == kDefaultMediaDirectories.size()) throw MirrorError::message(*firstFailure);
    sortMediaItems(files, false);
    return files;
}

std::vector<MediaBrowserItem> MediaBrowser::loadDirectory(const std::string& serial,
                                                          std::string_view remoteDirectory) const {
    auto listing = listDirectory(serial, remoteDirectory);
    if (listing.folderFailure) throw MirrorError::message(*listing.folderFailure);
    return std::move(listing.items);
}

MediaBrowser::FolderListing MediaBrowser::listDirectory(const std::string& serial,
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
        return {{}, message.empty() ? "命令失败: " + text::joined(result.command, " ") : message};
    }
    return {parseDirectoryListing(directory, output), std::nullopt};
}

bool MediaBrowser::isDeviceGone(const std::string& serial) const {
    try {
        return !isDeviceListed(discovery_.detectAdbDevicePresence(true), serial);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace orvan
