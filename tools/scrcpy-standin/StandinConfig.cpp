#include "StandinConfig.h"

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstring>

namespace orvan::standin {
namespace {

constexpr std::uint64_t defaultFloodBytes = 50ULL * 1024 * 1024;

struct ModeEntry {
    std::string_view name;
    Mode mode;
};

constexpr ModeEntry modeTable[] = {
    {"ready", Mode::ready},
    {"window-only", Mode::windowOnly},
    {"hang", Mode::hang},
    {"server-error", Mode::serverError},
    {"exit0", Mode::exitEarly},
    {"signal", Mode::signal},
    {"flood", Mode::flood},
    {"closed-output", Mode::closedOutput},
};

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

template <typename Integer>
std::optional<Integer> parseInteger(std::string_view text) {
    Integer value{};
    const auto* end = text.data() + text.size();
    const auto [next, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || next != end) return std::nullopt;
    return value;
}

Milliseconds parseMilliseconds(const Environment& environment, std::string_view name, Milliseconds fallback) {
    const auto it = environment.find(name);
    if (it == environment.end() || it->second.empty()) return fallback;
    const auto value = parseInteger<std::int64_t>(it->second);
    if (!value || *value < 0) {
        throw ConfigError(std::string(name) + "='" + it->second + "' is not a number of milliseconds");
    }
    return Milliseconds(*value);
}

std::optional<Milliseconds> optionalMilliseconds(const Environment& environment, std::string_view name) {
    if (!environment.contains(name) || environment.find(name)->second.empty()) return std::nullopt;
    return parseMilliseconds(environment, name, Milliseconds(0));
}

std::string valueOf(const Environment& environment, std::string_view name) {
    const auto it = environment.find(name);
    return it == environment.end() ? std::string() : it->second;
}

int parseSignal(std::string_view text) {
    if (const auto number = parseInteger<int>(text); number && *number > 0 && *number < NSIG) return *number;
    std::string name(text);
    if (name.starts_with("SIG")) name.erase(0, 3);
    for (int signal = 1; signal < NSIG; ++signal) {
        const char* abbreviation = sigabbrev_np(signal);
        if (abbreviation != nullptr && name == abbreviation) return signal;
    }
    throw ConfigError("ORVAN_STANDIN_SIGNAL='" + std::string(text) + "' is not a signal (try 11, 9 or SIGABRT)");
}

int parseDimension(std::string_view option, std::string_view text) {
    const auto value = parseInteger<int>(text);
    if (!value || *value < 0 || *value > 0xFFFF) {
        throw UsageError("Could not parse " + std::string(option) + ": " + std::string(text));
    }
    return *value;
}

int parsePosition(std::string_view option, std::string_view text) {
    const auto value = parseInteger<int>(text);
    if (!value || *value < -0x8000 || *value > 0x7FFF) {
        throw UsageError("Could not parse " + std::string(option) + ": " + std::string(text));
    }
    return *value;
}

}  // namespace

std::string_view modeName(Mode mode) {
    for (const auto& entry : modeTable) {
        if (entry.mode == mode) return entry.name;
    }
    return "?";
}

Environment environmentFrom(char** envp) {
    Environment environment;
    for (; envp != nullptr && *envp != nullptr; ++envp) {
        const std::string_view entry(*envp);
        const auto equals = entry.find('=');
        if (equals == std::string_view::npos) continue;
        environment.emplace(entry.substr(0, equals), entry.substr(equals + 1));
    }
    return environment;
}

ScrcpyOptions parseScrcpyArguments(const std::vector<std::string>& arguments) {
    ScrcpyOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        // The value of "--name value", "--name=value" or, for short options, "-xvalue".
        auto valueFor = [&](std::string_view longName, std::string_view shortName) -> std::optional<std::string> {
            if (argument == longName || (!shortName.empty() && argument == shortName)) {
                if (i + 1 >= arguments.size()) throw UsageError("Option " + std::string(argument) + " requires an argument");
                return arguments[++i];
            }
            if (argument.starts_with(longName) && argument.size() > longName.size() && argument[longName.size()] == '=') {
                return std::string(argument.substr(longName.size() + 1));
            }
            if (!shortName.empty() && argument.starts_with(shortName) && argument.size() > shortName.size()) {
                return std::string(argument.substr(shortName.size()));
            }
            return std::nullopt;
        };
        if (auto value = valueFor("--serial", "-s")) {
            options.serial = *value;
        } else if (auto title = valueFor("--window-title", "")) {
            options.windowTitle = *title;
        } else if (auto width = valueFor("--window-width", "")) {
            options.windowWidth = parseDimension("window width", *width);
        } else if (auto height = valueFor("--window-height", "")) {
            options.windowHeight = parseDimension("window height", *height);
        } else if (auto x = valueFor("--window-x", "")) {
            options.windowX = parsePosition("window position x", *x);
        } else if (auto y = valueFor("--window-y", "")) {
            options.windowY = parsePosition("window position y", *y);
        } else if (argument == "--no-audio") {
            options.noAudio = true;
        } else if (argument == "--no-window" || argument == "--no-playback" || argument == "--no-video-playback") {
            options.noWindow = true;
        } else if (argument == "--window-borderless") {
            options.borderless = true;
        } else if (argument == "--always-on-top") {
            options.alwaysOnTop = true;
        } else if (argument == "-v" || argument == "--version") {
            options.showVersion = true;
        } else if (argument == "-h" || argument == "--help") {
            options.showHelp = true;
        } else {
            // scrcpy has dozens more options; the stand-in plays none of them. A value that
            // follows an unknown option lands here too, which is harmless.
            options.ignored.emplace_back(argument);
        }
    }
    return options;
}

std::vector<Mode> parseModes(std::string_view text) {
    std::vector<Mode> modes;
    while (true) {
        const auto comma = text.find(',');
        const auto name = trim(text.substr(0, comma));
        const auto* entry = std::find_if(std::begin(modeTable), std::end(modeTable),
                                         [&](const ModeEntry& candidate) { return candidate.name == name; });
        if (entry == std::end(modeTable)) {
            std::string known;
            for (const auto& candidate : modeTable) known += (known.empty() ? "" : ", ") + std::string(candidate.name);
            throw ConfigError("ORVAN_STANDIN_MODE: unknown mode '" + std::string(name) + "' (known: " + known + ")");
        }
        modes.push_back(entry->mode);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return modes;
}

WindowGeometry parseWindowGeometry(std::string_view text) {
    // WxH or WxH+X+Y (X and Y may be negative: WxH+-10+20).
    auto fail = [&]() -> ConfigError {
        return ConfigError("ORVAN_STANDIN_WINDOW='" + std::string(text) + "' is not WxH, WxH+X+Y or none");
    };
    const auto times = text.find('x');
    if (times == std::string_view::npos) throw fail();
    const auto plus = text.find('+', times);
    const auto width = parseInteger<int>(text.substr(0, times));
    const auto height = parseInteger<int>(text.substr(times + 1, plus == std::string_view::npos ? plus : plus - times - 1));
    if (!width || !height || *width < 1 || *height < 1 || *width > 0x7FFF || *height > 0x7FFF) throw fail();
    WindowGeometry geometry{*width, *height, std::nullopt, std::nullopt};
    if (plus != std::string_view::npos) {
        const auto position = text.substr(plus + 1);
        const auto secondPlus = position.find('+');
        if (secondPlus == std::string_view::npos) throw fail();
        geometry.x = parseInteger<int>(position.substr(0, secondPlus));
        geometry.y = parseInteger<int>(position.substr(secondPlus + 1));
        if (!geometry.x || !geometry.y) throw fail();
    }
    return geometry;
}

EndAction parseEndAction(std::string_view text) {
    if (text == "signal") return {EndAction::Kind::signal, 0};
    if (text.starts_with("exit")) {
        if (const auto code = parseInteger<int>(text.substr(4)); code && *code >= 0 && *code <= 255) {
            return {EndAction::Kind::exit, *code};
        }
    }
    throw ConfigError("ORVAN_STANDIN_END='" + std::string(text) + "' is not exit<N> (0-255) or signal");
}

Behaviour parseBehaviour(const Environment& environment) {
    Behaviour behaviour;
    if (const auto mode = valueOf(environment, "ORVAN_STANDIN_MODE"); !mode.empty()) behaviour.modes = parseModes(mode);
    behaviour.delay = parseMilliseconds(environment, "ORVAN_STANDIN_DELAY_MS", behaviour.delay);
    behaviour.windowDelay = optionalMilliseconds(environment, "ORVAN_STANDIN_WINDOW_DELAY_MS");
    if (const auto window = valueOf(environment, "ORVAN_STANDIN_WINDOW"); window == "none") {
        behaviour.windowDisabled = true;
    } else if (!window.empty()) {
        behaviour.window = parseWindowGeometry(window);
    }
    behaviour.logPath = valueOf(environment, "ORVAN_STANDIN_LOG");
    behaviour.statePath = valueOf(environment, "ORVAN_STANDIN_STATE");
    if (const auto flood = valueOf(environment, "ORVAN_STANDIN_FLOOD_BYTES"); !flood.empty()) {
        behaviour.floodBytes = parseInteger<std::uint64_t>(flood);
        if (!behaviour.floodBytes) throw ConfigError("ORVAN_STANDIN_FLOOD_BYTES='" + flood + "' is not a byte count");
    }
    if (const auto signal = valueOf(environment, "ORVAN_STANDIN_SIGNAL"); !signal.empty()) {
        behaviour.deathSignal = parseSignal(signal);
    }
    behaviour.lifetime = optionalMilliseconds(environment, "ORVAN_STANDIN_LIFETIME_MS");
    if (const auto end = valueOf(environment, "ORVAN_STANDIN_END"); !end.empty()) behaviour.end = parseEndAction(end);
    behaviour.watchInterval = optionalMilliseconds(environment, "ORVAN_STANDIN_WATCH_MS");
    if (behaviour.watchInterval && behaviour.watchInterval->count() == 0) {
        throw ConfigError("ORVAN_STANDIN_WATCH_MS must be at least 1");
    }
    return behaviour;
}

std::optional<WindowGeometry> effectiveWindow(const Behaviour& behaviour, const ScrcpyOptions& options) {
    if (behaviour.windowDisabled) return std::nullopt;
    if (behaviour.window) return behaviour.window;
    if (options.noWindow) return std::nullopt;
    WindowGeometry geometry;
    if (options.windowWidth && *options.windowWidth > 0) geometry.width = *options.windowWidth;
    if (options.windowHeight && *options.windowHeight > 0) geometry.height = *options.windowHeight;
    geometry.x = options.windowX;
    geometry.y = options.windowY;
    return geometry;
}

Mode modeForRun(const Behaviour& behaviour, std::uint64_t runIndex) {
    // The last mode repeats, so "server-error,ready" fails once and then always works.
    const auto last = behaviour.modes.size() - 1;
    return behaviour.modes[std::min<std::uint64_t>(runIndex, last)];
}

std::uint64_t floodBytesFor(const Behaviour& behaviour, Mode mode) {
    if (behaviour.floodBytes) return *behaviour.floodBytes;
    return mode == Mode::flood ? defaultFloodBytes : 0;
}

std::string versionBanner(const Environment& environment) {
    const auto found = environment.find("ORVAN_STANDIN_VERSION");
    const std::string version = found == environment.end() || found->second.empty() ? "3.3.4" : found->second;
    return "scrcpy " + version + " <https://github.com/Genymobile/scrcpy>";
}

}  // namespace orvan::standin
