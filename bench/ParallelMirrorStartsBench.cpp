// Twenty simulated pairs scanning at once: each pair's mirror start goes through
// MirrorOrchestrator::startVerifiedWirelessMirror on its own thread, all released together,
// against the scrcpy stand-in (told to signal readiness 200 ms after it starts). Measured in
// the same run: one start alone (the baseline), then the time until the last of the parallel
// starts returned, and meanwhile the longest a main-queue style registry call (isMirroring)
// took. Prints the figures; the last line is "ratio <parallel / single>".
//
//   bench_parallel_mirror_starts [pairs]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "mirror/MirrorService.h"
#include "support/FakeWindowSystem.h"
#include "support/AdbWorld.h"
#include "support/ScopedEnvironment.h"

using namespace std::chrono;
using orvan::testing::AdbWorld;
using orvan::testing::SimulatedGlasses;

namespace {

double millisecondsSince(steady_clock::time_point start) {
    return duration<double, std::milli>(steady_clock::now() - start).count();
}

orvan::ConnectedAdbDevice wirelessDevice(const SimulatedGlasses& glasses) {
    orvan::ConnectedAdbDevice device;
    device.serial = glasses.wifiSerial();
    device.connectionKind = orvan::connection_kind::kWireless;
    device.ip = glasses.wlanAddress();
    device.hasWireless = true;
    return device;
}

bool start(orvan::MirrorService& service, const orvan::ConnectedAdbDevice& device) {
    try {
        service.mirrorOrchestrator().startVerifiedWirelessMirror(device, nullptr, nullptr,
                                                                 orvan::AdbServerScope::sharedDevelopment);
        return true;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "start of %s failed: %s\n", device.serial.c_str(), error.what());
        return false;
    }
}

void closeAll(orvan::MirrorService& service) {
    service.mirrorOrchestrator().stopMirror();
    auto deadline = steady_clock::now() + seconds(10);
    while (!service.scrcpyLauncher().registry().launchedChildrenNotEnded().empty() && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
}

}  // namespace

int main(int argc, char** argv) {
    const int pairCount = argc > 1 ? std::atoi(argv[1]) : 20;
    if (!AdbWorld::available() || !AdbWorld::scrcpyStandinPath()) {
        std::fprintf(stderr, "adb, glasses-sim or the scrcpy stand-in missing\n");
        return 1;
    }
    AdbWorld world;
    orvan::testing::ScopedEnvironment env;
    env.set("ORVAN_STANDIN_DELAY_MS", "200");
    env.unset("DISPLAY");  // readiness rests on the stand-in's line, as on a machine without X11

    std::vector<SimulatedGlasses*> pairs;
    for (int i = 0; i < pairCount; ++i) pairs.push_back(&world.startGlasses({.media = false}));
    for (auto* pair : pairs) world.connectWifi(*pair);
    for (auto* pair : pairs) {
        if (!world.waitForState(pair->wifiSerial(), "device", seconds(20))) {
            std::fprintf(stderr, "pair %s did not come up\n", pair->wifiSerial().c_str());
            return 1;
        }
    }

    orvan::MirrorServiceOptions options;
    options.tools = orvan::ToolLocation::inToolFolder(world.toolFolder());
    options.privatePort = world.privateServerPort();
    options.windows = std::make_shared<orvan::FakeWindowSystem>();
    options.mainQueue = std::make_shared<orvan::ManualMainQueue>();  // raising windows is not part of a start
    orvan::MirrorService service(std::move(options));

    // Baseline: one start alone, in this run.
    auto begin = steady_clock::now();
    if (!start(service, wirelessDevice(*pairs.front()))) return 1;
    const double single = millisecondsSince(begin);
    closeAll(service);

    // All pairs at once, while a main-queue stand-in asks the registry as the page does.
    std::atomic<bool> go{false}, done{false};
    std::atomic<int> failures{0};
    double longestRegistryWait = 0;
    std::thread mainQueue([&] {
        const auto device = wirelessDevice(*pairs.back());
        while (!done) {
            auto asked = steady_clock::now();
            (void)service.isMirroring(device);
            longestRegistryWait = std::max(longestRegistryWait, millisecondsSince(asked));
            std::this_thread::sleep_for(milliseconds(2));
        }
    });
    std::vector<std::thread> starts;
    for (auto* pair : pairs) {
        starts.emplace_back([&, device = wirelessDevice(*pair)] {
            while (!go) std::this_thread::yield();
            if (!start(service, device)) ++failures;
        });
    }
    begin = steady_clock::now();
    go = true;
    for (auto& thread : starts) thread.join();
    const double parallel = millisecondsSince(begin);
    done = true;
    mainQueue.join();
    closeAll(service);
    if (failures > 0) return 1;

    std::printf("mirror starts of %d simulated pairs at once (stand-in ready after 200 ms):\n", pairCount);
    std::printf("  one start alone                         %.0f ms\n", single);
    std::printf("  all %d at once, until the last is ready  %.0f ms\n", pairCount, parallel);
    std::printf("  longest main-queue registry call        %.2f ms (target < 20)\n", longestRegistryWait);
    std::printf("ratio %.2f\n", parallel / single);
    return 0;
}
