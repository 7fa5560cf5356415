// The media core timed in-process against the simulated glasses; bench/export_throughput.sh
// and bench/media_listing.sh set up the glasses and time plain adb beside it.
//
//   bench_media list <tool folder> <serial> <remote folder> <runs>
//   bench_media export <tool folder> <serial> <remote folder> <local folder>
//
// "list" prints "run <milliseconds>" per listing (adb ls -la, parsing and natural sort) and the
// entry count; "export" exports every file of the folder and prints "export <milliseconds>
// <files>". Exits 1 when the work fails or finds nothing (that would measure nothing).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "media/MediaExporter.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s list|export <tool folder> <serial> <remote folder> <runs|local folder>\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const auto tools = orvan::ToolLocation::inToolFolder(argv[2]);
    const std::string serial = argv[3];
    const std::string folder = argv[4];
    orvan::AdbRunner runner(tools.adb, orvan::kPrivateMirroringPort, nullptr);
    orvan::DeviceDiscovery discovery(runner, tools);
    orvan::MediaBrowser browser(runner, discovery);
    orvan::MediaExporter exporter(browser, orvan::SystemClock::shared());
    auto millisecondsSince = [](std::chrono::steady_clock::time_point start) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    try {
        if (mode == "list") {
            for (int i = 0, runs = std::atoi(argv[5]); i < runs; ++i) {
                const auto start = std::chrono::steady_clock::now();
                const auto items = browser.loadDirectory(serial, folder);
                const double ms = millisecondsSince(start);
                if (items.empty()) throw std::runtime_error("the folder listed nothing");
                std::printf("run %.3f %zu\n", ms, items.size());
            }
            return 0;
        }
        const auto items = browser.loadDirectory(serial, folder);
        const auto start = std::chrono::steady_clock::now();
        const auto result = exporter.exportSelectedMedia(serial, items, argv[5]);
        const double ms = millisecondsSince(start);
        if (result.exportedCount != static_cast<int>(items.size())) throw std::runtime_error("files were skipped");
        std::printf("export %.3f %d\n", ms, result.exportedCount);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_media: %s\n", error.what());
        return 1;
    }
}
