// Connecting a reachable pair of glasses with the whole wireless connect (port probe, state
// check, connect, wait for the echo), timed in-process; bench/connect.sh sets up the simulated
// glasses and compares it with `adb connect` + `adb -s T shell echo` run back to back by a shell
// script.
//
//   bench_wireless_connect <tool folder> <iterations> <ip> <port>
//
// Before each run the target is disconnected (not timed), so every run is a fresh connect on the
// shared server of the environment. Prints one line per run: "run <milliseconds>". Exits 1 when a
// run does not connect (a benchmark of a failing connect measures nothing).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "adb/AdbRunner.h"
#include "adb/AdbTargetProbe.h"
#include "adb/PrivateAdbServer.h"
#include "mirror/ConnectedTarget.h"
#include "mirror/LocalNetworkProbe.h"
#include "mirror/TargetReadiness.h"
#include "mirror/WirelessAdbConnector.h"

int main(int argc, char** argv) {
    using namespace orvan;
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <tool folder> <iterations> <ip> <port>\n", argv[0]);
        return 2;
    }
    auto tools = ToolLocation::inToolFolder(argv[1]);
    int iterations = std::atoi(argv[2]);
    std::string ip = argv[3];
    int port = std::atoi(argv[4]);
    std::string target = ip + ":" + std::to_string(port);

    // The private port is never used here (every command is on the shared scope).
    AdbRunner runner(tools.adb, kPrivateMirroringPort, nullptr);
    AdbTargetProbe probe(runner);
    TargetReadiness readiness(runner, probe, SystemClock::shared());
    LocalNetworkProbe network;
    PrivateAdbServer privateServer(runner, tools, SystemClock::shared());
    ConnectedTarget connected;
    WirelessAdbConnector connector(runner, tools, SystemClock::shared(), probe, readiness, network, privateServer,
                                   connected);

    // ORVAN_BENCH_TRACE=1 prints when each command of a run started, to see where the time goes.
    bool trace = std::getenv("ORVAN_BENCH_TRACE") != nullptr;
    auto runStart = std::chrono::steady_clock::now();
    if (trace) {
        runner.setInvocationObserver([&](const AdbInvocation& invocation) {
            double at = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - runStart).count();
            std::string line;
            for (size_t k = 1; k < invocation.command.size(); ++k) line += " " + invocation.command[k];
            std::fprintf(stderr, "  %8.3f ms%s\n", at, line.c_str());
        });
    }
    for (int i = 0; i < iterations; ++i) {
        runner.runAdb({"disconnect", target}, {.timeout = std::chrono::seconds(5), .check = false});
        std::string failure;
        auto started = std::chrono::steady_clock::now();
        runStart = started;
        bool ok = connector.tryConnectWirelessAdb(
            ip, port, {.logging = Logging::silent, .onFailure = [&](const WirelessConnectFailure& f) { failure = f.text; }});
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        if (!ok) {
            std::fprintf(stderr, "connect failed: %s\n", failure.c_str());
            return 1;
        }
        std::printf("run %.3f\n", ms);
        if (trace) std::fprintf(stderr, "  %8.3f ms end\n", ms);
    }
    return 0;
}
