#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orvan::standin {

using Milliseconds = std::chrono::milliseconds;
using Environment = std::map<std::string, std::string, std::less<>>;

// A bad ORVAN_STANDIN_* value: the test set it up wrongly, so we refuse rather than guess.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A bad scrcpy argument, reported the way scrcpy reports it (exit status 1).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How one run behaves between the adb check and the end.
enum class Mode {
    ready,         // window (when a display exists) and the texture line, then keep running
    windowOnly,    // window but never the texture line
    hang,          // neither window nor texture line; runs until terminated
    serverError,   // the device-side server fails: error lines, exit 1
    exitEarly,     // exit 0 before any readiness
    signal,        // die of a signal before any readiness
    flood,         // like ready, after a flood of output (50 MiB unless set)
    closedOutput,  // close stdout and stderr, then like ready (only the window can tell)
};

std::string_view modeName(Mode mode);

// What scrcpy's own command line asked for. Options we do not play are skipped.
struct ScrcpyOptions {
    std::string serial;
    std::string windowTitle;
    bool noAudio = false;
    bool noWindow = false;
    bool borderless = false;
    bool alwaysOnTop = false;
    bool showVersion = false;
    bool showHelp = false;
    std::optional<int> windowWidth, windowHeight, windowX, windowY;
    std::vector<std::string> ignored;
};

struct WindowGeometry {
    int width = 640;
    int height = 360;
    std::optional<int> x, y;
};

// How a run that became ready ends once its lifetime is over.
struct EndAction {
    enum class Kind { exit, signal };
    Kind kind = Kind::exit;
    int value = 0;
};

// The test's instructions, from ORVAN_STANDIN_* variables.
struct Behaviour {
    std::vector<Mode> modes{Mode::ready};  // one per run when a state file counts the runs
    Milliseconds delay{200};
    std::optional<Milliseconds> windowDelay;  // unset: together with the texture line
    std::optional<WindowGeometry> window;     // unset: from scrcpy's options or the default
    bool windowDisabled = false;
    std::string logPath;
    std::string statePath;
    std::optional<std::uint64_t> floodBytes;
    int deathSignal = 11;
    std::optional<Milliseconds> lifetime;
    EndAction end;
    std::optional<Milliseconds> watchInterval;
};

Environment environmentFrom(char** envp);
// The first line of everything a client prints: "scrcpy <version> <https://…>", the version
// from ORVAN_STANDIN_VERSION (default 3.3.4).
std::string versionBanner(const Environment& environment);
ScrcpyOptions parseScrcpyArguments(const std::vector<std::string>& arguments);
Behaviour parseBehaviour(const Environment& environment);

// Pieces exposed for tests.
std::vector<Mode> parseModes(std::string_view text);
WindowGeometry parseWindowGeometry(std::string_view text);
EndAction parseEndAction(std::string_view text);

// The window to map, or none: the test's setting wins over scrcpy's options.
std::optional<WindowGeometry> effectiveWindow(const Behaviour& behaviour, const ScrcpyOptions& options);
Mode modeForRun(const Behaviour& behaviour, std::uint64_t runIndex);
std::uint64_t floodBytesFor(const Behaviour& behaviour, Mode mode);

}  // namespace orvan::standin
