// Starting a mirror window for a verified wireless target, timed in-process from the call of
// startVerifiedWirelessMirror to its return, next to the window process's own time from its start
// to its readiness line (read from the scrcpy stand-in's log). bench/mirror_start.sh sets up the
// simulated glasses and the stand-in.
//
//   bench_mirror_start <tool folder> <iterations> <target> <stand-in log>
//
// After each run the window is closed and awaited (not timed), so every run launches a new one.
// Prints one line per run: "run <our milliseconds> <stand-in milliseconds>". Exits 1 when a start
// fails (a benchmark of a failing start measures nothing).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "StandinReadyTime.h"
#include "mirror/MirrorService.h"

int main(int argc, char** argv) {
    using namespace orvan;
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <tool folder> <iterations> <target> <stand-in log>\n", argv[0]);
        return 2;
    }
    MirrorServiceOptions options;
    options.tools = ToolLocation::inToolFolder(argv[1]);
    options.mainQueue = std::make_shared<ManualMainQueue>();  // raising windows is not part of the start
    int iterations = std::atoi(argv[2]);
    std::string target = argv[3];
    std::string logPath = argv[4];
    MirrorService service(std::move(options));

    ConnectedAdbDevice device;
    device.serial = target;
    device.connectionKind = connection_kind::kWireless;
    device.ip = target.substr(0, target.find(':'));
    device.hasWireless = true;

    for (int i = 0; i < iterations; ++i) {
        auto started = std::chrono::steady_clock::now();
        try {
            service.mirrorOrchestrator().startVerifiedWirelessMirror(device, nullptr, nullptr,
                                                                     AdbServerScope::sharedDevelopment);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "start failed: %s\n", error.what());
            return 1;
        }
        double ours = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        std::printf("run %.3f %.3f\n", ours, bench::lastReadyMilliseconds(logPath));
        std::fflush(stdout);

        service.mirrorOrchestrator().stopMirror();
        auto& launcher = service.scrcpyLauncher();
        while (!launcher.registry().launchedChildrenNotEnded().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}
