// Starting a mirror with a real scrcpy client, timed in-process: from the call of
// startVerifiedWirelessMirror to its return (the mirror is ready), and on to the moment the
// client's window is on the X server (its first decoded frame). bench/real_mirror_start.sh sets
// up the simulated glasses, the X server and the client, and times the client on its own.
//
//   bench_real_mirror_start <tool folder> <iterations> <target>
//
// Prints one line per run: "run <ready milliseconds> <window milliseconds>". Exits 1 when a start
// fails or no window shows within 20 s.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "mirror/MirrorService.h"
#include "platform/X11WindowSystem.h"

int main(int argc, char** argv) {
    using namespace orvan;
    using Clock = std::chrono::steady_clock;
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <tool folder> <iterations> <target>\n", argv[0]);
        return 2;
    }
    auto windows = std::make_shared<X11WindowSystem>();
    MirrorServiceOptions options;
    options.tools = ToolLocation::inToolFolder(argv[1]);
    options.mainQueue = std::make_shared<ManualMainQueue>();  // raising windows is not part of the start
    options.windows = windows;
    const int iterations = std::atoi(argv[2]);
    const std::string target = argv[3];
    MirrorService service(std::move(options));
    service.setAudioForwardingEnabled(false);

    ConnectedAdbDevice device;
    device.serial = target;
    device.connectionKind = connection_kind::kWireless;
    device.ip = target.substr(0, target.find(':'));
    device.hasWireless = true;
    auto millisecondsSince = [](Clock::time_point start) {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };

    for (int i = 0; i < iterations; ++i) {
        const auto started = Clock::now();
        try {
            service.mirrorOrchestrator().startVerifiedWirelessMirror(device, nullptr, nullptr,
                                                                     AdbServerScope::sharedDevelopment);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "start failed: %s\n", error.what());
            return 1;
        }
        const double ready = millisecondsSince(started);
        auto handle = service.scrcpyLauncher().runningScrcpyHandle({target});
        const pid_t pid = handle ? handle->pid() : 0;
        double shown = -1;
        while (shown < 0 && millisecondsSince(started) < 20000) {
            for (const auto& window : windows->visibleTopLevelWindows())
                if (hasVisibleScrcpyWindow(window, pid)) shown = millisecondsSince(started);
            if (shown < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (shown < 0) {
            std::fprintf(stderr, "no window of the client within 20 s\n");
            return 1;
        }
        std::printf("run %.3f %.3f\n", ready, shown);
        std::fflush(stdout);

        service.mirrorOrchestrator().stopMirror();
        auto& launcher = service.scrcpyLauncher();
        while (!launcher.registry().launchedChildrenNotEnded().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}
