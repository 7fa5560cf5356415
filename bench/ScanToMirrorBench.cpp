// Scan to mirror: from a READY handed to the scan-session coordinator (as the callback server
// does) until the acknowledgement state of its key reads "RUNNING", against simulated glasses and
// the scrcpy stand-in. Next to it, in the same run, the bare sequence the flow cannot avoid:
// `adb connect`, one `adb shell echo`, and the stand-in's own time from start to readiness.
// bench/scan_to_mirror.sh sets up the world.
//
//   bench_scan_to_mirror <tool folder> <private port> <iterations> <ip> <port> <stand-in log>
//
// Prints "run <scan ms> <bare ms>" per run. Each run starts from a disconnected target (on both
// servers) and a new session, so every run connects and launches a window anew.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "mirror/MirrorService.h"
#include "pairing/ScanConnectionEngine.h"
#include "pairing/ScanMirrorTask.h"
#include "pairing/ScanSessionCoordinator.h"

namespace {

using Steady = std::chrono::steady_clock;

double millisecondsSince(Steady::time_point start) {
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

double lastReadyMilliseconds(const std::string& logPath) {
    double elapsed = -1;
    std::ifstream in(logPath);
    for (std::string line; std::getline(in, line);) {
        auto event = nlohmann::json::parse(line, nullptr, false);
        if (!event.is_discarded() && event.value("event", "") == "ready") elapsed = event.value("elapsedMs", -1.0);
    }
    return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orvan;
    using namespace std::chrono_literals;
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s <tool folder> <private port> <iterations> <ip> <port> <stand-in log>\n",
                     argv[0]);
        return 2;
    }
    auto main = std::make_shared<ManualMainQueue>();
    MirrorServiceOptions options;
    options.tools = ToolLocation::inToolFolder(argv[1]);
    options.privatePort = std::atoi(argv[2]);
    options.mainQueue = main;
    const int iterations = std::atoi(argv[3]);
    const std::string ip = argv[4];
    const int port = std::atoi(argv[5]);
    const std::string target = ip + ":" + std::to_string(port);
    MirrorService service(std::move(options));
    service.privateAdbServer().preferredScanAdbServerScope();  // the app prepares it at launch
    MirrorServiceScanEngine engine(service);
    ScanSessionHooks hooks;
    hooks.isMirroring = [&](const ConnectedAdbDevice& device) { return service.isMirroring(device); };
    std::shared_ptr<ScanMirrorTask> task;
    hooks.startWirelessMirrorFromCallback = [&](const ScanMirrorRequest& request) {
        task->startWirelessMirrorFromCallback(request);
    };
    ScanSessionCoordinator coordinator(*main, hooks);
    task = std::make_shared<ScanMirrorTask>(engine, coordinator, *main, SystemClock::shared(), ScanTaskHooks{});

    auto reset = [&] {
        service.mirrorOrchestrator().stopMirror();
        while (!service.scrcpyLauncher().launchedChildrenNotEnded().empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        service.mirrorOrchestrator().disconnectWirelessAdb(ip, port);
    };
    for (int i = 0; i < iterations; ++i) {
        reset();
        const std::string session = "BENCH-" + std::to_string(i);
        coordinator.sessionChanged("", session);
        WirelessAdbCallback ready{
            .type = "ORVAN_WIRELESS_ADB_STATUS",
            .version = 1,
            .action = "ENABLE",
            .sessionId = session,
            .status = "READY",
            .device = WirelessAdbCallbackDevice{.ip = ip, .adbPort = port, .adbEnabled = true, .tcpPortOpen = true}};
        const std::string key = WirelessAdbCallbackBook::callbackConsumptionKey(session, target);
        auto started = Steady::now();
        coordinator.handleWirelessAdbCallback(ready);
        std::string status;
        while ((status = coordinator.book().ackState(key).mirrorStatus) == "STARTING") {
            main->runPending();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        const double scan = millisecondsSince(started);
        if (status != "RUNNING") {
            std::fprintf(stderr, "scan run %d ended %s\n", i, status.c_str());
            return 1;
        }
        const double standin = lastReadyMilliseconds(argv[6]);

        reset();
        started = Steady::now();
        auto& runner = service.adbRunner();
        runner.runAdb({"connect", target}, {.timeout = 8s, .check = true});
        runner.runAdb({"shell", "echo", "x"}, {.timeout = 8s, .check = true, .serial = target});
        std::printf("run %.3f %.3f\n", scan, millisecondsSince(started) + standin);
        std::fflush(stdout);
    }
    reset();
    service.stopForTermination();
    return 0;
}
