#include "StandinRun.h"

#include "AdbStateCheck.h"
#include "RunCounter.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace orvan::standin {
namespace {

constexpr auto mapTimeout = std::chrono::seconds(2);

std::string currentDirectory() {
    std::error_code error;
    const auto path = std::filesystem::current_path(error);
    return error ? std::string() : path.string();
}

}  // namespace

StandinRun::StandinRun(std::vector<std::string> argv, ScrcpyOptions options, Behaviour behaviour,
                       Environment environment)
    : argv_(std::move(argv)),
      options_(std::move(options)),
      behaviour_(std::move(behaviour)),
      environment_(std::move(environment)),
      out_(signals_),
      log_(behaviour_.logPath) {}

int StandinRun::execute() {
    const auto runIndex = claimRunIndex(behaviour_.statePath);
    const Mode mode = modeForRun(behaviour_, runIndex);
    log_.write("start", {{"argv", argv_},
                         {"env", environment_},
                         {"cwd", currentDirectory()},
                         {"mode", modeName(mode)},
                         {"run", runIndex}});
    out_.line(versionBanner(environment_));

    // The real client reports a missing server file before it touches the device.
    if (const auto it = environment_.find("SCRCPY_SERVER_PATH"); it != environment_.end()) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(it->second, error)) {
            out_.line("ERROR: Server not found: " + it->second);
            log_.write("exit", {{"status", 1}, {"reason", "server file missing"}});
            return 1;
        }
    }
    if (const int status = checkDevice(); status >= 0) return status;
    return playMode(mode);
}

// Returns -1 when the target is in state "device", else the exit status of the run.
int StandinRun::checkDevice() {
    const auto result = queryAdbState(environment_, options_.serial, signals_);
    const std::string target = options_.serial.empty() ? "(only device)" : options_.serial;
    log_.write("adb-state", {{"serial", options_.serial},
                             {"state", result.state()},
                             {"exitStatus", result.exitStatus},
                             {"output", result.output}});
    switch (result.outcome) {
    case AdbStateResult::Outcome::interrupted:
        return endOf(WaitEnd::stopped);
    case AdbStateResult::Outcome::launchFailed:
        out_.line("ERROR: Command not found: adb (" + result.launchError + ")");
        out_.line("ERROR: (make 'adb' accessible from your PATH or define its full path in the ADB environment variable)");
        log_.write("exit", {{"status", 1}, {"reason", "adb not found"}});
        return 1;
    case AdbStateResult::Outcome::finished:
        break;
    }
    if (result.isDevice()) {
        out_.line("INFO: ADB device found: " + target + " (device)");
        return -1;
    }
    // Pass adb's own words through ("error: device offline", "error: device '…' not found"),
    // then say what the real clients say of such a device.
    std::string_view text = result.output;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        auto line = text.substr(0, newline);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) out_.line(line);
        if (newline == std::string_view::npos) break;
        text.remove_prefix(newline + 1);
    }
    const std::string words = result.output;
    if (words.find("unauthorized") != std::string::npos)
        out_.line("ERROR: Device is unauthorized:");
    else if (words.find("offline") != std::string::npos)
        out_.line("ERROR: Device could not be connected (state=offline)");
    else
        out_.line("ERROR: Could not find ADB device " + target + ":");
    out_.line("ERROR: Server connection failed");
    log_.write("exit", {{"status", 1}, {"reason", "target not in state device"}});
    return 1;
}

int StandinRun::playMode(Mode mode) {
    if (const auto bytes = floodBytesFor(behaviour_, mode); bytes > 0) {
        log_.write("flood", {{"bytes", bytes}});
        if (!out_.flood(bytes)) return endOf(WaitEnd::stopped);
    }
    switch (mode) {
    case Mode::ready:
    case Mode::flood:
    case Mode::windowOnly:
        return becomeReady(mode);
    case Mode::closedOutput:
        log_.write("output-closed");
        out_.close();
        return becomeReady(mode);
    case Mode::hang:
        return endOf(waitUntil(Clock::time_point::max()));
    case Mode::serverError:
        if (const auto end = waitFor(behaviour_.delay); end != WaitEnd::reached) return endOf(end);
        out_.line("[server] ERROR: Exception on thread Thread[main,5,main]");
        out_.line("java.lang.IllegalStateException: stand-in told to fail (server-error)");
        out_.line("ERROR: Server connection failed");
        log_.write("exit", {{"status", 1}, {"reason", "server-error"}});
        return 1;
    case Mode::exitEarly:
        if (const auto end = waitFor(behaviour_.delay); end != WaitEnd::reached) return endOf(end);
        out_.line("INFO: stand-in closing before the video started (exit0)");
        log_.write("exit", {{"status", 0}, {"reason", "exit0"}});
        return 0;
    case Mode::signal:
        if (const auto end = waitFor(behaviour_.delay); end != WaitEnd::reached) return endOf(end);
        log_.write("signal", {{"signal", behaviour_.deathSignal}});
        StopSignals::dieOf(behaviour_.deathSignal);
    }
    return 2;
}

int StandinRun::becomeReady(Mode mode) {
    const auto windowDelay = behaviour_.windowDelay.value_or(behaviour_.delay);
    const bool printsTexture = mode != Mode::windowOnly;
    // The window and the texture line each come at their own time; a window due at the same
    // moment is mapped first, as the real client shows its window before rendering.
    if (windowDelay <= behaviour_.delay || !printsTexture) {
        if (const auto end = waitFor(windowDelay); end != WaitEnd::reached) return endOf(end);
        mapWindow();
        if (!printsTexture && window_) log_.write("ready", {{"signal", "window"}, {"elapsedMs", elapsedMs()}});
    }
    if (printsTexture) {
        if (const auto end = waitFor(behaviour_.delay); end != WaitEnd::reached) return endOf(end);
        out_.line("INFO: Renderer: stand-in");
        out_.line("INFO: Texture: 1280x720");
        log_.write("ready", {{"signal", "texture"}, {"elapsedMs", elapsedMs()}});
        if (windowDelay > behaviour_.delay) {
            if (const auto end = waitFor(windowDelay); end != WaitEnd::reached) return endOf(end);
            mapWindow();
        }
    }
    return stayAlive();
}

void StandinRun::mapWindow() {
    const auto geometry = effectiveWindow(behaviour_, options_);
    if (!geometry) return;
    WindowRequest request{*geometry, options_.windowTitle.empty() ? options_.serial : options_.windowTitle,
                          options_.borderless, options_.alwaysOnTop};
    if (request.title.empty()) request.title = "scrcpy";
    std::string error;
    window_ = StandinWindow::open(request, error);
    if (!window_) {
        if (!error.empty()) out_.line("WARN: no window: " + error);
        log_.write("no-window", {{"reason", error.empty() ? "DISPLAY not set" : error}});
        return;
    }
    // Wait for the map, so that once we say "ready" a window listing already shows us. A close
    // request that arrives meanwhile is noticed by the next wait.
    waitUntil(Clock::now() + mapTimeout, [this] { return window_->isMapped(); });
    log_.write("window", {{"id", window_->id()},
                          {"width", geometry->width},
                          {"height", geometry->height},
                          {"mapped", window_->isMapped()},
                          {"elapsedMs", elapsedMs()}});
}

int StandinRun::stayAlive() {
    const auto readyAt = Clock::now();
    const auto endAt = behaviour_.lifetime ? readyAt + *behaviour_.lifetime : Clock::time_point::max();
    while (true) {
        auto next = endAt;
        if (behaviour_.watchInterval) next = std::min(next, Clock::now() + *behaviour_.watchInterval);
        if (const auto end = waitUntil(next); end != WaitEnd::reached) return endOf(end);
        if (Clock::now() >= endAt) break;
        const auto state = queryAdbState(environment_, options_.serial, signals_);
        if (state.outcome == AdbStateResult::Outcome::interrupted) return endOf(WaitEnd::stopped);
        if (!state.isDevice()) {
            out_.line("WARN: Device disconnected");
            log_.write("exit", {{"status", 2}, {"reason", "device disconnected"}, {"state", state.state()}});
            return 2;
        }
    }
    if (behaviour_.end.kind == EndAction::Kind::signal) {
        log_.write("signal", {{"signal", behaviour_.deathSignal}});
        StopSignals::dieOf(behaviour_.deathSignal);
    }
    log_.write("exit", {{"status", behaviour_.end.value}, {"reason", "lifetime over"}});
    return behaviour_.end.value;
}

int StandinRun::endOf(WaitEnd end) {
    // Asked to stop, or the window was closed: the real client closes cleanly with status 0.
    const char* reason = end == WaitEnd::windowClosed ? "window closed" : "stop signal";
    log_.write("exit", {{"status", 0}, {"reason", reason}, {"signal", signals_.received().value_or(0)}});
    return 0;
}

StandinRun::WaitEnd StandinRun::waitUntil(Clock::time_point deadline, const std::function<bool()>& done) {
    while (true) {
        if (window_) window_->processEvents();
        if (signals_.stopRequested()) return WaitEnd::stopped;
        if (window_ && window_->closeRequested()) return WaitEnd::windowClosed;
        if (done && done()) return WaitEnd::reached;
        const auto now = Clock::now();
        if (now >= deadline) return WaitEnd::reached;
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
            timeout = static_cast<int>(std::min<long long>(left, 60'000));
        }
        pollfd fds[] = {{signals_.fd(), POLLIN, 0}, {window_ ? window_->fd() : -1, POLLIN, 0}};
        ::poll(fds, 2, timeout);
    }
}

double StandinRun::elapsedMs() const {
    return std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
}

}  // namespace orvan::standin
