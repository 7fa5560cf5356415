#include "mirror/ScrcpyVersion.h"

#include <sys/stat.h>

#include <charconv>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"

namespace orvan {

std::optional<ScrcpyVersion> parseScrcpyVersion(std::string_view output) {
    for (const auto& line : text::splitLines(text::withoutTerminalControls(output))) {
        std::string first = text::trimmed(line);
        if (first.empty()) continue;
        auto fields = text::splitFields(first);
        if (fields.size() < 2 || fields[0] != "scrcpy") return std::nullopt;
        ScrcpyVersion version;
        version.text = fields[1];
        if (version.text.starts_with('v')) version.text.erase(0, 1);
        int* parts[] = {&version.major, &version.minor, &version.patch};
        std::string_view rest = version.text;
        for (size_t i = 0; i < 3 && !rest.empty(); ++i) {
            auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), *parts[i]);
            if (error != std::errc() || (i < 2 && end == rest.data())) return std::nullopt;
            rest.remove_prefix(static_cast<size_t>(end - rest.data()));
            if (!rest.starts_with('.')) break;  // "3.3.4-rc1", "2.7" and the like end here
            rest.remove_prefix(1);
        }
        return version;
    }
    return std::nullopt;
}

std::optional<ScrcpyVersion> ScrcpyVersionReader::versionOf(const std::filesystem::path& scrcpy) {
    struct stat info {};
    // A binary that is not there is not cached: running it reports the launch error.
    const bool exists = ::stat(scrcpy.c_str(), &info) == 0;
    const auto key = std::pair(scrcpy.string(), static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL +
                                                    info.st_mtim.tv_nsec);
    if (exists) {
        std::lock_guard lock(mutex_);
        if (auto found = known_.find(key); found != known_.end()) return found->second;
    }
    // Without a display or a device: --version only prints. A binary that cannot be started
    // throws its launch error, which the start reports as such.
    std::optional<ScrcpyVersion> version;
    FiniteRun run = runner_(ProcessSpec{scrcpy.string(), {"--version"}, {}, {}}, Seconds(kTimeout));
    if (!run.timedOut) version = parseScrcpyVersion(run.bytes);
    if (!exists) return version;
    std::lock_guard lock(mutex_);
    known_[key] = version;
    return version;
}

ScrcpyVersion ScrcpyVersionReader::requireSupported(const std::filesystem::path& scrcpy) {
    auto version = versionOf(scrcpy);
    if (!version)
        throw MirrorError::of(MirrorError::Kind::toolTooOld, "无法读取 scrcpy 的版本（" + scrcpy.string() +
                                                                 " 没有回应 --version），无法投屏。" + kScrcpyInstallHint);
    if (*version < kOldestSupportedScrcpy)
        throw MirrorError::of(MirrorError::Kind::toolTooOld,
                              "scrcpy 版本过低（当前 " + version->text + "），无法投屏，需要 " +
                                  kOldestSupportedScrcpy.text + " 或更高版本。" + kScrcpyInstallHint);
    return *version;
}

}  // namespace orvan
