#include "mirror/ScrcpyFailureSummary.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <vector>

#include "foundation/Text.h"

namespace orvan {
namespace {

constexpr size_t kKeptLines = 4;
constexpr size_t kMaxCharacters = 480;
constexpr std::string_view kEllipsis = "...";

// Length of the line break at `at`, 0 if none. Every Unicode newline counts, not only "\n":
// scrcpy's output passes through the device's logging, which is not fussy about its endings.
size_t lineBreakAt(std::string_view s, size_t at) {
    char c = s[at];
    if (c == '\r') return (at + 1 < s.size() && s[at + 1] == '\n') ? 2 : 1;
    if (c == '\n' || c == '\v' || c == '\f') return 1;
    std::string_view rest = s.substr(at);
    if (rest.starts_with("\xC2\x85")) return 2;                                          // NEL
    if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) return 3;  // LS, PS
    return 0;
}

std::vector<std::string> nonEmptyLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    auto keep = [&](size_t end) {
        std::string line = text::trimmed(text.substr(start, end - start));
        if (!line.empty()) lines.push_back(std::move(line));
    };
    for (size_t i = 0; i < text.size();) {
        if (size_t length = lineBreakAt(text, i)) {
            keep(i);
            i += length;
            start = i;
        } else {
            ++i;
        }
    }
    keep(text.size());
    return lines;
}

// Byte offsets of the user-perceived characters (grapheme clusters) of valid UTF-8 text, with
// the end offset last. Falls back to one entry per byte if ICU cannot open the text.
std::vector<size_t> characterBoundaries(const std::string& text) {
    std::vector<size_t> boundaries;
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    UBreakIterator* iterator = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
    if (U_SUCCESS(status)) ubrk_setUText(iterator, utext, &status);
    if (U_SUCCESS(status)) {
        for (int32_t at = ubrk_first(iterator); at != UBRK_DONE; at = ubrk_next(iterator))
            boundaries.push_back(static_cast<size_t>(at));
    } else {
        for (size_t i = 0; i <= text.size(); ++i) boundaries.push_back(i);
    }
    ubrk_close(iterator);
    utext_close(utext);
    return boundaries;
}

}  // namespace

std::string scrcpyFailureSummary(std::string_view text) {
    auto lines = nonEmptyLines(text);
    if (lines.size() > kKeptLines) lines.erase(lines.begin(), lines.end() - kKeptLines);
    std::string summary = text::joined(lines, " | ");

    auto boundaries = characterBoundaries(summary);
    size_t characters = boundaries.empty() ? 0 : boundaries.size() - 1;
    if (characters <= kMaxCharacters) return summary;
    size_t keep = kMaxCharacters - kEllipsis.size();
    return std::string(kEllipsis) + summary.substr(boundaries[characters - keep]);
}

}  // namespace orvan
