#include "mirror/ScrcpyFailureSummary.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <algorithm>
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

// How much a line says about why a start failed; lower is more.
enum class Weight { cause, generic, other, noise };

Weight weightOf(std::string_view line) {
    // Notes of a normal start: the reverse tunnel falling back to a forward one, the icon of an
    // uninstalled client, an adb push's result and progress.
    static constexpr std::string_view kNoise[] = {
        "adb: error: closed", "\"adb reverse\" returned with value", "'adb reverse' failed, fallback",
        "could not open icon image", "could not load icon", "could not open image codec", "file pushed",
        "demuxer 'audio': stream explicitly disabled"};
    if (text::containsAnyPhrase(line, kNoise)) return Weight::noise;
    if (text::containsAnyPhrase(line, {"server connection failed"})) return Weight::generic;
    std::string_view body = line;
    if (body.starts_with("[server] ")) body.remove_prefix(9);
    for (std::string_view quiet : {"INFO:", "DEBUG:", "VERBOSE:"})
        if (body.starts_with(quiet)) return Weight::noise;
    if (line.starts_with("scrcpy ") && line.find("<http") != std::string_view::npos) return Weight::noise;  // banner
    if (line.starts_with("[") && line.find("%]") != std::string_view::npos) return Weight::noise;  // push progress
    if (line.starts_with("at ") || line.starts_with("... ")) return Weight::noise;  // a Java stack
    if (text::containsAnyPhrase(body, {"error", "warn", "exception", "unauthorized", "state="})) return Weight::cause;
    return Weight::other;
}

// The kept lines: the weightiest ones, the latest first within a weight, in printed order. Noise
// fills no place while anything else is there.
std::vector<std::string> keptLines(std::vector<std::string> lines) {
    std::vector<size_t> order;
    const bool allNoise = std::all_of(lines.begin(), lines.end(),
                                      [](const std::string& line) { return weightOf(line) == Weight::noise; });
    for (size_t i = 0; i < lines.size(); ++i)
        if (allNoise || weightOf(lines[i]) != Weight::noise) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        Weight wa = weightOf(lines[a]), wb = weightOf(lines[b]);
        return wa != wb ? wa < wb : a > b;
    });
    if (order.size() > kKeptLines) order.resize(kKeptLines);
    std::sort(order.begin(), order.end());
    std::vector<std::string> kept;
    for (size_t index : order) kept.push_back(std::move(lines[index]));
    return kept;
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
    std::string summary = text::joined(keptLines(nonEmptyLines(text)), " | ");

    auto boundaries = characterBoundaries(summary);
    size_t characters = boundaries.empty() ? 0 : boundaries.size() - 1;
    if (characters <= kMaxCharacters) return summary;
    size_t keep = kMaxCharacters - kEllipsis.size();
    return std::string(kEllipsis) + summary.substr(boundaries[characters - keep]);
}

}  // namespace orvan
