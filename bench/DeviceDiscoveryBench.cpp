// Full device discovery (listing, validation of the wireless transport, details of every
// device) timed in-process; bench/discovery.sh sets up the simulated glasses and compares it
// with the same adb commands run back to back by a shell script.
//
//   bench_device_discovery <tool folder> <iterations> <usb serial> <wireless serial>
//
// Prints one line per run: "run <milliseconds>". Exits 1 when a run does not find both
// transports with their details (a benchmark of a failing discovery measures nothing).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "adb/AdbRunner.h"
#include "adb/DeviceDiscovery.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <tool folder> <iterations> <usb serial> <wireless serial>\n", argv[0]);
        return 2;
    }
    auto tools = orvan::ToolLocation::inToolFolder(argv[1]);
    int iterations = std::atoi(argv[2]);
    std::string usb = argv[3];
    std::string wireless = argv[4];

    orvan::AdbRunner runner(tools.adb, orvan::kPrivateMirroringPort, nullptr);
    orvan::DeviceDiscovery discovery(runner, tools);
    for (int i = 0; i < iterations; ++i) {
        auto started = std::chrono::steady_clock::now();
        orvan::AdbDevices devices;
        try {
            devices = discovery.detectAdbDevices(true);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "discovery failed: %s\n", error.what());
            return 1;
        }
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        bool complete = devices.usb == std::vector<std::string>{usb} &&
                        devices.wireless == std::vector<std::string>{wireless} && devices.models.size() == 2 &&
                        devices.deviceIds.size() == 2 && devices.ips.size() == 2 && devices.wifiNames.size() == 2;
        if (!complete) {
            std::fprintf(stderr, "discovery did not find both transports with their details\n");
            return 1;
        }
        std::printf("run %.3f\n", ms);
    }
    return 0;
}
