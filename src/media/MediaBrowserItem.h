#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvan {

// One entry of a remote media listing: a directory or a photo/video file on the glasses.
struct MediaBrowserItem {
    std::string path;  // absolute path on the glasses (joinRemotePath)
    std::string name;  // the entry name exactly as listed
    int64_t size = 0;  // bytes; 0 when the listing's size could not be read
    bool isDirectory = false;

    bool operator==(const MediaBrowserItem&) const = default;

    // By name suffix, case-insensitive: ".mp4" and ".mov" are videos, every other file an image.
    bool isVideo() const;
    bool isImage() const { return !isDirectory && !isVideo(); }
};

struct MediaBrowserItemHash {
    std::size_t operator()(const MediaBrowserItem& item) const;
};

// The size line under an item: "512 B", "1.5 KB", "3.2 MB" (no larger unit).
std::string formatSize(int64_t bytes);

}  // namespace orvan
