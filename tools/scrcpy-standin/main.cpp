// scrcpy-standin: plays the scrcpy mirroring client in OrvanMirror's tests. It is never
// installed and never placed in the app's tool folder by any script; a test links it into its
// own temporary tool folder under the name "scrcpy".
//
// What it does, like the real client:
//   - takes scrcpy's arguments: -s/--serial, --window-title, --no-audio, --window-width,
//     --window-height, --window-x, --window-y, --window-borderless, --always-on-top,
//     --no-window, --version, --help; every other argument is ignored;
//   - reads ADB (the adb to run; "adb" from PATH when unset) and passes ADB_SERVER_SOCKET on to
//     it; fails with "ERROR: Server not found: <path>" when SCRCPY_SERVER_PATH names no file;
//   - runs `$ADB -s <serial> get-state`; unless that prints "device" it passes adb's output
//     through and ends as described below;
//   - prints the banner "scrcpy <ORVAN_STANDIN_VERSION, default 3.3.4> <https://…>" first,
//     INFO lines on stdout and ERROR/WARN lines on stderr, as the real clients from 2.0 on do;
//   - after the delay prints "INFO: Texture: 1280x720" and, when DISPLAY is set and the X
//     server answers, maps a top-level window carrying _NET_WM_PID = its pid;
//   - keeps running until SIGTERM, SIGINT or SIGHUP, or until the window manager closes the
//     window; then exits 0.
// A target not in state "device" ends like a real client: adb's words, then "Device is
// unauthorized:", "Device could not be connected (state=offline)" or "Could not find ADB device
// <serial>:", then "ERROR: Server connection failed", exit 1.
//
// Test controls (environment):
//   ORVAN_STANDIN_MODE         what this run does after the adb check (default ready):
//                              ready          window and texture line, then keep running
//                              window-only    window, never the texture line
//                              hang           no window, no texture line; runs until stopped
//                              server-error   "[server] ERROR: ..." and
//                                             "ERROR: Server connection failed", exit 1
//                              exit0          exit 0 before any readiness
//                              signal         die of ORVAN_STANDIN_SIGNAL before readiness
//                              flood          like ready, after 50 MiB of output
//                              closed-output  close stdout/stderr at once, then like ready
//                              A comma-separated list gives one mode per run, counted in
//                              ORVAN_STANDIN_STATE; the last one repeats
//                              ("server-error,ready": fail once, then work).
//   ORVAN_STANDIN_STATE        file that counts runs for a mode list (created when missing)
//   ORVAN_STANDIN_DELAY_MS     from process start to the texture line and the failure of the
//                              delayed modes (default 200); never before the adb check ends
//   ORVAN_STANDIN_WINDOW_DELAY_MS  from process start to the window (default: the delay)
//   ORVAN_STANDIN_WINDOW       WxH or WxH+X+Y, or "none" for no window; overrides scrcpy's
//                              own window options (default 640x360 or what they ask for)
//   ORVAN_STANDIN_FLOOD_BYTES  bytes of numbered log lines to print after the adb check, in
//                              any mode (flood mode defaults to 52428800)
//   ORVAN_STANDIN_SIGNAL       signal for the signal mode and ORVAN_STANDIN_END=signal, as a
//                              number or a name (default 11, SIGSEGV; no core file is left)
//   ORVAN_STANDIN_LIFETIME_MS  after readiness, end after this long (default: never)
//   ORVAN_STANDIN_END          how the lifetime ends: exit<N> (default exit0) or signal
//   ORVAN_STANDIN_WATCH_MS     after readiness, re-check get-state this often; when the target
//                              is no longer "device": "WARN: Device disconnected", exit 2
//   ORVAN_STANDIN_LOG          file to append JSON lines to: "start" (argv, env, cwd, mode,
//                              run), "adb-state", "flood", "window", "ready" (signal,
//                              elapsedMs), "signal", "exit" (status, reason); each line also
//                              has "pid" and "timeUs" (system clock, microseconds)
// A bad control value is refused with "scrcpy-standin: ..." and exit status 2; a bad scrcpy
// argument with "ERROR: ..." and exit status 1.

#include "StandinConfig.h"
#include "StandinRun.h"

#include <csignal>
#include <cstdio>
#include <exception>

extern char** environ;

namespace {

void printHelp() {
    std::puts("Usage: scrcpy [options]\n"
              "Test stand-in for scrcpy: see tools/scrcpy-standin/README.md for the options it\n"
              "plays and the ORVAN_STANDIN_* variables that script it.");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orvan::standin;
    // A reader that goes away must not kill us mid-line; writes then just stop.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> arguments(argv, argv + argc);
    try {
        const auto options = parseScrcpyArguments({arguments.begin() + 1, arguments.end()});
        if (options.showVersion) {
            std::printf("%s\n\nDependencies (compiled / linked):\n - none: a test stand-in\n",
                        versionBanner(environmentFrom(environ)).c_str());
            return 0;
        }
        if (options.showHelp) {
            printHelp();
            return 0;
        }
        auto environment = environmentFrom(environ);
        auto behaviour = parseBehaviour(environment);
        StandinRun run(arguments, options, std::move(behaviour), std::move(environment));
        return run.execute();
    } catch (const UsageError& error) {
        std::fprintf(stdout, "ERROR: %s\n", error.what());
        return 1;
    } catch (const ConfigError& error) {
        std::fprintf(stderr, "scrcpy-standin: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "scrcpy-standin: unexpected failure: %s\n", error.what());
        return 2;
    }
}
