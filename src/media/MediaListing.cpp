#include "media/MediaListing.h"

#include <unicode/utf8.h>

#include <array>
#include <charconv>
#include <optional>

#include "foundation/Text.h"
#include "media/NaturalOrder.h"
#include "media/RemotePath.h"

namespace orvan {

namespace {

constexpr std::array<std::string_view, 6> kMediaSuffixes = {".jpg", ".jpeg", ".png", ".mp4", ".mov", ".heic"};

bool isMediaName(std::string_view name) {
    const std::string lower = text::lowercased(name);
    for (const auto suffix : kMediaSuffixes) {
        if (lower.ends_with(suffix)) return true;
    }
    return false;
}

// The space-separated fields of a line up to the time field, and where the name starts.
struct LongLine {
    std::vector<std::string_view> fields;  // the first seven
    std::string_view name;                 // after the one space that follows the time
};

std::optional<LongLine> splitLongLine(std::string_view line) {
    LongLine parsed;
    std::size_t position = 0;
    while (parsed.fields.size() < 7) {
        position = line.find_first_not_of(' ', position);
        if (position == std::string_view::npos) return std::nullopt;
        const std::size_t end = std::min(line.find(' ', position), line.size());
        parsed.fields.push_back(line.substr(position, end - position));
        position = end;
    }
    if (position + 1 >= line.size()) return std::nullopt;
    parsed.name = line.substr(position + 1);
    // A line that is only blanks after the time has no name.
    if (parsed.name.find_first_not_of(' ') == std::string_view::npos) return std::nullopt;
    return parsed;
}

int64_t parsedSize(std::string_view field) {
    int64_t value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size() || value < 0) return 0;
    return value;
}

// The lines of the output: split at line feeds; a CR before the feed (a pty's line end) goes.
template <typename Visit>
void forEachLine(std::string_view output, Visit visit) {
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string_view::npos) end = output.size();
        std::string_view line = output.substr(start, end - start);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (!line.empty()) visit(line);
        start = end + 1;
    }
}

}  // namespace

std::vector<MediaBrowserItem> parseDirectoryListing(std::string_view directory, std::string_view output) {
    std::vector<MediaBrowserItem> items;
    forEachLine(output, [&](std::string_view line) {
        if (!line.starts_with('-') && !line.starts_with('d')) return;
        const auto parsed = splitLongLine(line);
        if (!parsed || parsed->name == "." || parsed->name == "..") return;
        const bool isDirectory = line.starts_with('d');
        if (!isDirectory && !isMediaName(parsed->name)) return;
        items.push_back(MediaBrowserItem{joinRemotePath(directory, parsed->name), std::string(parsed->name),
                                         parsedSize(parsed->fields[4]), isDirectory});
    });
    sortMediaItems(items, true);
    return items;
}

bool hasListingLine(std::string_view output) {
    bool found = false;
    forEachLine(output, [&](std::string_view line) {
        if (found) return;
        if (line.starts_with("total ")) {
            found = true;
        } else if (line.size() >= 10 && std::string_view("-dlcbps").find(line[0]) != std::string_view::npos) {
            found = splitLongLine(line).has_value();
        }
    });
    return found;
}

std::string decodeLossy(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto length = static_cast<int32_t>(bytes.size());
    int32_t index = 0;
    while (index < length) {
        const int32_t start = index;
        UChar32 c = 0;
        U8_NEXT(data, index, length, c);
        if (c < 0)
            text += "\xEF\xBF\xBD";
        else
            text.append(bytes.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(index - start)));
    }
    return text;
}

}  // namespace orvan
