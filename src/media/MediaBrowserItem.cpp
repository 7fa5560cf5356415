#include "media/MediaBrowserItem.h"

#include <cstdio>
#include <functional>

#include "foundation/Text.h"

namespace orvan {

bool MediaBrowserItem::isVideo() const {
    const std::string lower = text::lowercased(name);
    return lower.ends_with(".mp4") || lower.ends_with(".mov");
}

std::size_t MediaBrowserItemHash::operator()(const MediaBrowserItem& item) const {
    std::size_t seed = std::hash<std::string>{}(item.path);
    auto mix = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    mix(std::hash<std::string>{}(item.name));
    mix(std::hash<int64_t>{}(item.size));
    mix(item.isDirectory ? 1 : 0);
    return seed;
}

std::string formatSize(int64_t bytes) {
    char text[64];
    if (bytes <= 1023) return std::to_string(bytes) + " B";
    if (bytes <= 1048575) {
        std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1048576.0);
    }
    return text;
}

}  // namespace orvan
