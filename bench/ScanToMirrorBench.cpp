// Scan to mirror: from a READY handed to the scan-session coordinator (as the callback server
// does) until the acknowledgement state of its key reads "RUNNING", against simulated glasses and
// the scrcpy stand-in. Next to it, in the same run, the bare sequence the flow cannot avoid:
// `adb connect`, one `adb shell echo`, and the stand-in's own time from start to readiness.
// bench/scan_to_mirror.sh sets up the world.
//
//   bench_scan_to_mirror <tool folder> <private port> <iterations> <stand-in log> <ip:port>...
//
// With one target it prints "run <scan ms> <bare ms>" per run; with several (the classroom,
// bench/classroom.sh) "run <all pairs ms> <one pair ms>", every READY posted at once. Each scan
// starts from disconnected targets (on both servers) and a new session, so every run connects
// and launches windows anew.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "StandinReadyTime.h"
#include "mirror/MirrorService.h"
#include "pairing/ScanConnectionEngine.h"
#include "pairing/ScanMirrorTask.h"
#include "pairing/ScanSessionCoordinator.h"

namespace {

// The scan page's status: not measured here.
struct NoStatus final : orvan::ScanStatusSink {
    void showStatus(const orvan::ScanStatus&) override {}
    void showLocalNetworkFailure(const std::string&) override {}
};

using Steady = std::chrono::steady_clock;

double millisecondsSince(Steady::time_point start) {
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orvan;
    using namespace std::chrono_literals;
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s <tool folder> <private port> <iterations> <stand-in log> <ip:port>...\n",
                     argv[0]);
        return 2;
    }
    auto main = std::make_shared<ManualMainQueue>();
    MirrorServiceOptions options;
    options.tools = ToolLocation::inToolFolder(argv[1]);
    options.privatePort = std::atoi(argv[2]);
    options.mainQueue = main;
    const int iterations = std::atoi(argv[3]);
    const std::string standinLog = argv[4];
    const std::vector<std::string> targets(argv + 5, argv + argc);
    MirrorService service(std::move(options));
    const auto began = Steady::now();
    if (std::getenv("ORVAN_BENCH_TRACE"))
        service.setOnLog([&](const std::string& line) {
            std::fprintf(stderr, "%9.3f %s\n", millisecondsSince(began), line.c_str());
        });
    if (std::getenv("ORVAN_BENCH_TRACE"))
        service.adbRunner().setInvocationObserver([&](const AdbInvocation& call) {
            std::string line;
            for (const auto& word : call.command) line += word + " ";
            std::fprintf(stderr, "%9.3f ADB %s\n", millisecondsSince(began), line.c_str());
        });
    service.privateAdbServer().preferredScanAdbServerScope();  // the app prepares it at launch
    MirrorServiceScanEngine engine(service);
    ScanSessionHooks hooks;
    hooks.isMirroring = [&](const ConnectedAdbDevice& device) { return service.isMirroring(device); };
    std::shared_ptr<ScanMirrorTask> task;
    hooks.startWirelessMirrorFromCallback = [&](const ScanMirrorRequest& request) {
        task->startWirelessMirrorFromCallback(request);
    };
    NoStatus pageStatus;
    ScanSessionCoordinator coordinator(*main, pageStatus, hooks);
    task = std::make_shared<ScanMirrorTask>(engine, coordinator, *main, SystemClock::shared(), pageStatus,
                                            ScanTaskHooks{});

    auto split = [](const std::string& target) {
        auto colon = target.rfind(':');
        return std::pair(target.substr(0, colon), std::atoi(target.c_str() + colon + 1));
    };
    auto reset = [&] {
        service.mirrorOrchestrator().stopMirror();
        while (!service.scrcpyLauncher().registry().launchedChildrenNotEnded().empty()) std::this_thread::sleep_for(5ms);
        for (const auto& target : targets) {
            auto [ip, port] = split(target);
            service.mirrorOrchestrator().disconnectWirelessAdb(ip, port);
        }
    };
    int sessions = 0;
    // All READYs of `count` pairs at once, each on its own thread as the server's workers
    // would; returns the milliseconds until every key reads RUNNING, or -1.
    auto scan = [&](size_t count) {
        reset();
        const std::string session = "BENCH-" + std::to_string(++sessions);
        coordinator.sessionChanged("", session);
        std::vector<std::string> keys;
        std::vector<std::thread> posts;
        const auto started = Steady::now();
        for (size_t i = 0; i < count; ++i) {
            auto [ip, port] = split(targets[i]);
            keys.push_back(WirelessAdbCallbackBook::callbackConsumptionKey(session, targets[i]));
            WirelessAdbCallback ready{.type = "ORVAN_WIRELESS_ADB_STATUS",
                                      .version = 1,
                                      .action = "ENABLE",
                                      .sessionId = session,
                                      .status = "READY",
                                      .device = WirelessAdbCallbackDevice{
                                          .ip = ip, .adbPort = port, .adbEnabled = true, .tcpPortOpen = true}};
            posts.emplace_back([&coordinator, ready] { coordinator.handleWirelessAdbCallback(ready); });
        }
        for (auto& post : posts) post.join();
        for (size_t done = 0; done < keys.size();) {
            main->runPending();
            const auto status = coordinator.book().ackState(keys[done]).mirrorStatus;
            if (status == "FAILED") return -1.0;
            if (status == "RUNNING")
                ++done;
            else
                std::this_thread::sleep_for(500us);
        }
        return millisecondsSince(started);
    };
    for (int i = 0; i < iterations; ++i) {
        const double one = scan(1);
        const double standin = bench::lastReadyMilliseconds(standinLog);
        if (one < 0) {
            std::fprintf(stderr, "scan run %d failed\n", i);
            return 1;
        }
        if (targets.size() > 1) {
            const double all = scan(targets.size());
            if (all < 0) {
                std::fprintf(stderr, "classroom run %d failed\n", i);
                return 1;
            }
            std::printf("run %.3f %.3f\n", all, one);
        } else {
            reset();
            const auto started = Steady::now();
            auto& runner = service.adbRunner();
            runner.runAdb({"connect", targets[0]}, {.timeout = 8s, .check = true});
            runner.runAdb({"shell", "echo", "x"}, {.timeout = 8s, .check = true, .serial = targets[0]});
            std::printf("run %.3f %.3f\n", one, millisecondsSince(started) + standin);
        }
        std::fflush(stdout);
    }
    reset();
    service.stopForTermination();
    return 0;
}
