#include "adb/AdbVersion.h"

#include <charconv>
#include <string>

#include "foundation/ProcessRunner.h"
#include "foundation/Text.h"

namespace orvan {

std::optional<int> parseAdbProtocolVersion(std::string_view versionOutput) {
    constexpr std::string_view prefix = "Android Debug Bridge version 1.0.";
    if (!text::isValidUtf8(versionOutput)) return std::nullopt;
    for (const auto& line : text::splitLines(versionOutput)) {
        std::string trimmedLine = text::trimmed(line);
        if (!trimmedLine.starts_with(prefix)) continue;
        std::string_view digits = std::string_view(trimmedLine).substr(prefix.size());
        // Real numbers have two digits; five leave room and keep the value far from overflow.
        if (digits.empty() || digits.size() > 5) return std::nullopt;
        // from_chars takes a minus sign; a version has none.
        if (digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
        int value = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::optional<int> readAdbProtocolVersion(const std::filesystem::path& adb, Seconds timeout) {
    FiniteRun run;
    try {
        run = runFinite(ProcessSpec{adb.string(), {"version"}, {}, {}}, timeout);
    } catch (const LaunchError&) {
        return std::nullopt;
    }
    if (run.timedOut || run.status != 0) return std::nullopt;
    return parseAdbProtocolVersion(run.bytes);
}

}  // namespace orvan
