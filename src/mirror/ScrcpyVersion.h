#pragma once

#include <compare>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/ProcessRunner.h"
#include "foundation/ToolLocation.h"

namespace orvan {

// The version a scrcpy client states in the first line of everything it prints
// ("scrcpy 3.3.4 <https://…>").
struct ScrcpyVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;
    std::string text;  // as printed, e.g. "2.7" or "3.3.4"

    auto operator<=>(const ScrcpyVersion& other) const {
        return std::tie(major, minor, patch) <=> std::tie(other.major, other.minor, other.patch);
    }
    bool operator==(const ScrcpyVersion& other) const { return (*this <=> other) == 0; }
    // Sound forwarding came with 2.0; 1.x has no "--no-audio" and forwards no sound at all.
    bool hasAudioForwarding() const { return major >= 2; }
};

// The oldest client the app is proven with (what Ubuntu 24.04 ships).
inline const ScrcpyVersion kOldestSupportedScrcpy{1, 25, 0, "1.25"};

// The version in the first non-empty line of `scrcpy --version`, or nothing.
std::optional<ScrcpyVersion> parseScrcpyVersion(std::string_view output);

// Reads each client's version once (`scrcpy --version`, a short time-out) and keeps it while
// the binary stays the same file, so starts never pay for it twice. Safe from any thread; the
// lock covers the cache only, never the command.
class ScrcpyVersionReader {
public:
    using Runner = std::function<FiniteRun(const ProcessSpec&, Seconds)>;
    static constexpr double kTimeout = 5.0;

    explicit ScrcpyVersionReader(Runner runner = runFinite) : runner_(std::move(runner)) {}

    // Nothing when the binary does not answer in time or names no version; throws LaunchError
    // when it cannot be started.
    std::optional<ScrcpyVersion> versionOf(const std::filesystem::path& scrcpy);
    // The version of a client the app can use; otherwise throws MirrorError toolTooOld with a
    // message that names what was found and what to install.
    ScrcpyVersion requireSupported(const std::filesystem::path& scrcpy);

private:
    Runner runner_;
    std::mutex mutex_;
    std::map<std::pair<std::string, long long>, std::optional<ScrcpyVersion>> known_;
};

}  // namespace orvan
