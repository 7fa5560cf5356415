// What the shared-server guard adds to each shared-scope command, against the command itself:
//  1. the check when no server listens on the shared port (two socket-table reads);
//  2. the check while the same server keeps serving it (tables + a look at that process's files);
//  3. the full look after the server changed (every process's open files scanned), version runs
//     excluded;
//  4. baseline: runAdb of `<adb> version`, the cheapest real adb command.
// The "server" of 2 and 3 is a loopback listener of this process.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "adb/AdbRunner.h"
#include "adb/ListeningSocketOwner.h"
#include "adb/SharedAdbServerGuard.h"

namespace {

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Work>
double medianOf(int rounds, Work work) {
    std::vector<double> costs;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        work();
        costs.push_back(micros(Clock::now() - start));
    }
    return median(costs);
}

// A loopback port with a listener of this process on it; with `keep` false the listener is closed
// again, leaving a port where nobody listens.
int loopbackPort(bool keep) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    listen(fd, 1);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    if (!keep) close(fd);
    return ntohs(address.sin_port);
}

orvan::EnvironmentLookup portVariable(int port) {
    return [port](const std::string& name) -> std::optional<std::string> {
        if (name == "ANDROID_ADB_SERVER_PORT") return std::to_string(port);
        return std::nullopt;
    };
}

}  // namespace

int main(int argc, char** argv) {
    std::string adb = argc > 1 ? argv[1] : "/usr/bin/adb";
    int quietPort = loopbackPort(false);
    int serverPort = loopbackPort(true);

    orvan::SharedAdbServerGuard idle(adb, nullptr, {"/proc", orvan::Seconds(2.0), portVariable(quietPort)});
    double none = medianOf(2000, [&] { idle.check(); });

    orvan::SharedAdbServerGuard guard(adb, nullptr, {"/proc", orvan::Seconds(2.0), portVariable(serverPort)});
    guard.check();
    double cached = medianOf(2000, [&] { guard.check(); });

    orvan::ListeningSocketOwner owner;
    auto sockets = owner.listeningSockets(serverPort);
    double scan = medianOf(200, [&] { owner.ownerOf(sockets); });
    size_t processes = 0, files = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        ++processes;
        std::error_code error;
        for (std::filesystem::directory_iterator fd(entry.path() / "fd", error), end; !error && fd != end;
             fd.increment(error))
            ++files;
    }

    orvan::AdbRunner runner(adb, 15037, nullptr);
    double command = medianOf(100, [&] {
        runner.runAdb(
            {"version"},
            {.timeout = std::chrono::seconds(10), .check = false, .scope = orvan::AdbServerScope::privateMirroring});
    });

    std::printf("guard check, no server: median %.1f us\n", none);
    std::printf("guard check, same server (cached): median %.1f us\n", cached);
    std::printf("full look after a server change: median %.0f us over %zu processes, %zu open files\n", scan, processes,
                files);
    std::printf("runAdb(%s version): median %.0f us; the cached check is %.2f%% of it\n", adb.c_str(), command,
                100.0 * cached / command);
    return 0;
}
