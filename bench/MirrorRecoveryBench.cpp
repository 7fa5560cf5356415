// A mirror coming back by itself: from the moment its simulated pair answers again to the moment
// the supervisor reports the mirror running, next to a fresh start of the same pair in the same
// run (the wireless connect on the private server, then the scan path's window start: the steps
// a recovery repeats). bench/mirror_recovery.sh sets up the world and the scrcpy stand-in.
//
//   bench_mirror_recovery <tool folder> <private port> <iterations> <simulator control> <pair> <ip:port>
//
// Each run: a fresh start (timed), supervision, then the pair refuses connections and drops its
// transport; its window ends, the mirror recovers, and after an absence of 1.5 to 4.5 s (so that
// the pair's return falls anywhere between the supervisor's probes) the pair accepts connections
// again. Prints "run <recovery ms> <fresh start ms>" per run; exits 1 when a start or a recovery
// fails.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "mirror/MirrorService.h"

namespace {

using Steady = std::chrono::steady_clock;

double millisecondsSince(Steady::time_point start) {
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orvan;
    using namespace std::chrono_literals;
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s <tool folder> <private port> <iterations> <control> <pair> <ip:port>\n",
                     argv[0]);
        return 2;
    }
    MirrorServiceOptions options;
    options.tools = ToolLocation::inToolFolder(argv[1]);
    options.privatePort = std::atoi(argv[2]);
    auto main = std::make_shared<ManualMainQueue>();  // the window's end reaches us through it
    options.mainQueue = main;
    const int iterations = std::atoi(argv[3]);
    std::ofstream control(argv[4]);
    const std::string pair = argv[5];
    const std::string target = argv[6];
    const std::string ip = target.substr(0, target.rfind(':'));
    const int port = std::atoi(target.c_str() + target.rfind(':') + 1);
    auto tell = [&](const std::string& line) { control << line << std::endl; };

    MirrorService service(std::move(options));
    const AdbServerScope scope = service.privateAdbServer().preferredScanAdbServerScope();
    auto& supervisor = service.mirrorSupervisor();
    const auto began = Steady::now();
    service.setOnLog([&](const std::string& line) { std::fprintf(stderr, "%9.3f %s\n", millisecondsSince(began), line.c_str()); });
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<MirrorRecoveryEvent> last;
    Steady::time_point recoveredAt;
    supervisor.setOnEvent([&](const std::string&, const MirrorKey&, MirrorRecoveryEvent event, const std::string&) {
        std::lock_guard lock(mutex);
        last = event;
        if (event == MirrorRecoveryEvent::recovered) recoveredAt = Steady::now();
        changed.notify_all();
    });
    service.setOnScrcpyTerminated([&](const MirrorKey& key, const std::shared_ptr<ScrcpyChild>& child) {
        if (auto end = child ? child->exit() : std::nullopt) supervisor.mirrorEnded(key, *end, child->output().text());
    });
    auto awaitEvent = [&](MirrorRecoveryEvent wanted) {
        const auto end = Steady::now() + 120s;
        while (Steady::now() < end) {
            main->runPending();
            std::unique_lock lock(mutex);
            if (changed.wait_for(lock, 2ms, [&] { return last == wanted; })) return true;
        }
        return false;
    };

    ConnectedAdbDevice device;
    device.serial = target;
    device.connectionKind = connection_kind::kWireless;
    device.ip = ip;
    device.hasWireless = true;
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> absence(1500, 4500);

    for (int i = 0; i < iterations; ++i) {
        service.mirrorOrchestrator().disconnectWirelessAdb(ip, port);
        const auto started = Steady::now();
        try {
            std::string failure;
            if (!service.wirelessAdbConnector().tryConnectWirelessAdb(
                    ip, port, {.timeout = 4.0, .onFailure = [&](const WirelessConnectFailure& f) { failure = f.text; }, .scope = scope}))
                throw std::runtime_error(failure);
            service.mirrorOrchestrator().startVerifiedWirelessMirror(device, nullptr, nullptr, scope);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "start failed: %s\n", error.what());
            return 1;
        }
        const double fresh = millisecondsSince(started);
        {
            std::lock_guard lock(mutex);
            last.reset();
        }
        service.superviseMirror(device, target, false, pair, scope);

        tell("refuse " + pair + " wifi on");
        tell("drop " + pair + " wifi abrupt");
        if (!awaitEvent(MirrorRecoveryEvent::recovering)) {
            std::fprintf(stderr, "run %d: the mirror did not enter recovery\n", i);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(absence(random)));
        const auto back = Steady::now();
        std::fprintf(stderr, "%9.3f (the pair answers again)\n", millisecondsSince(began));
        tell("refuse " + pair + " wifi off");
        if (!awaitEvent(MirrorRecoveryEvent::recovered)) {
            std::fprintf(stderr, "run %d: the mirror did not come back\n", i);
            return 1;
        }
        std::printf("run %.3f %.3f\n", std::chrono::duration<double, std::milli>(recoveredAt - back).count(), fresh);
        std::fflush(stdout);

        service.mirrorOrchestrator().stopMirror();
        while (!service.scrcpyLauncher().registry().launchedChildrenNotEnded().empty()) std::this_thread::sleep_for(5ms);
    }
    service.stopForTermination();
    return 0;
}
