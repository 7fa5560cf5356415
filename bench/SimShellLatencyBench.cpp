// Many simulated pairs at once: 20 pairs, 4 concurrent shell streams each, every stream running
// `echo` in a loop. Two views of the same load:
//   client  - the real `adb -s SERIAL shell echo ...` process per call (what the app pays);
//   socket  - the same request straight to the adb server's smart socket (server + simulator
//             only, without starting an adb client process per call).
// Prints p50/p90/p99/max per view. Usage: bench_sim_shell_latency [pairs] [streams] [rounds]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/AdbWorld.h"

using namespace std::chrono;
using orvan::testing::AdbWorld;
using orvan::testing::SimulatedGlasses;

namespace {

bool sendAll(int fd, const std::string& data) {
    return ::send(fd, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
}

std::string request(const std::string& text) {
    char prefix[5];
    std::snprintf(prefix, sizeof prefix, "%04x", static_cast<unsigned>(text.size()));
    return prefix + text;
}

bool readOkay(int fd) {
    char status[4];
    return ::recv(fd, status, 4, MSG_WAITALL) == 4 && std::string(status, 4) == "OKAY";
}

// One `shell,v2,raw:echo` through the server's smart socket; true when the marker came back
// with exit status 0.
bool socketEcho(int serverPort, const std::string& serial, const std::string& marker) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(serverPort));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 &&
              sendAll(fd, request("host:transport:" + serial)) && readOkay(fd) &&
              sendAll(fd, request("shell,v2,raw:echo " + marker)) && readOkay(fd);
    std::string data;
    char buffer[4096];
    ssize_t n;
    while (ok && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) data.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    // stdout packet (1, len, marker\n) then exit packet (3, 1, 0).
    return ok && data.find(marker + "\n") != std::string::npos && data.size() >= 6 &&
           data.substr(data.size() - 6) == std::string("\x03\x01\x00\x00\x00\x00", 6);
}

// CPU seconds (user + system) the simulators have used so far, from /proc.
double simulatorCpuSeconds(const std::vector<SimulatedGlasses*>& pairs) {
    double total = 0;
    for (const auto* pair : pairs) {
        std::FILE* file = std::fopen(("/proc/" + std::to_string(pair->pid()) + "/stat").c_str(), "r");
        if (!file) continue;
        char text[1024] = {};
        const std::size_t n = std::fread(text, 1, sizeof text - 1, file);
        std::fclose(file);
        // Fields 14 and 15 (utime, stime) follow the ')' that ends the command name.
        const char* rest = std::strrchr(text, ')');
        if (!rest || n == 0) continue;
        unsigned long utime = 0, stime = 0;
        std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
        total += static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return total;
}

struct Stats {
    std::vector<double> millis;
    int failures = 0;
};

void report(const char* view, Stats& stats) {
    auto& v = stats.millis;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) {
        return v.empty() ? 0.0 : v[std::min(v.size() - 1, static_cast<std::size_t>(q * v.size()))];
    };
    std::printf("%-21s calls=%zu failures=%d p50=%.1f ms p90=%.1f ms p99=%.1f ms max=%.1f ms\n", view, v.size(),
                stats.failures, at(0.50), at(0.90), at(0.99), v.empty() ? 0.0 : v.back());
}

template <typename Call>
Stats run(std::vector<SimulatedGlasses*>& pairs, int streams, int rounds, Call call) {
    Stats stats;
    std::mutex mutex;
    std::vector<std::thread> workers;
    for (auto* pair : pairs) {
        for (int s = 0; s < streams; ++s) {
            workers.emplace_back([&, pair, s] {
                for (int r = 0; r < rounds; ++r) {
                    const std::string marker = "m" + std::to_string(s) + "_" + std::to_string(r);
                    const auto start = steady_clock::now();
                    const bool ok = call(*pair, marker);
                    const double ms = duration<double, std::milli>(steady_clock::now() - start).count();
                    std::lock_guard lock(mutex);
                    stats.millis.push_back(ms);
                    if (!ok) ++stats.failures;
                }
            });
        }
    }
    for (auto& worker : workers) worker.join();
    return stats;
}

}  // namespace

int main(int argc, char** argv) {
    const int pairCount = argc > 1 ? std::atoi(argv[1]) : 20;
    const int streams = argc > 2 ? std::atoi(argv[2]) : 4;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 25;
    if (!AdbWorld::available()) {
        std::fprintf(stderr, "adb or glasses-sim missing\n");
        return 1;
    }
    AdbWorld world;
    std::vector<SimulatedGlasses*> pairs;
    for (int i = 0; i < pairCount; ++i) pairs.push_back(&world.startGlasses({.media = false}));
    for (auto* pair : pairs) world.connectWifi(*pair);
    for (auto* pair : pairs) {
        if (!world.waitForState(pair->wifiSerial(), "device", seconds(10))) {
            std::fprintf(stderr, "%s did not come online\n", pair->wifiSerial().c_str());
            return 1;
        }
    }
    std::printf("%d pairs x %d concurrent shell streams x %d rounds (%u cores)\n", pairCount, streams, rounds,
                std::thread::hardware_concurrency());
    const std::string adb = AdbWorld::realAdb().string();
    const int port = world.adbServerPort();
    auto viaSocket = [&](SimulatedGlasses& pair, const std::string& marker) {
        return socketEcho(port, pair.wifiSerial(), marker);
    };
    auto viaClient = [&](SimulatedGlasses& pair, const std::string& marker) {
        const auto result =
            orvan::testing::runCommand({adb, "-s", pair.wifiSerial(), "shell", "echo", marker}, seconds(20));
        return result.exitCode == 0 && result.out == marker + "\n";
    };
    std::vector<SimulatedGlasses*> one = {pairs.front()};
    Stats single = run(one, 1, 50, viaSocket);
    report("socket, one stream:", single);
    single = run(one, 1, 50, viaClient);
    report("client, one stream:", single);

    double cpu = simulatorCpuSeconds(pairs);
    auto start = steady_clock::now();
    Stats socket = run(pairs, streams, rounds, viaSocket);
    double wall = duration<double>(steady_clock::now() - start).count();
    report("socket, all streams:", socket);
    std::printf("  %.2f s wall, simulators used %.2f s CPU\n", wall, simulatorCpuSeconds(pairs) - cpu);
    cpu = simulatorCpuSeconds(pairs);
    start = steady_clock::now();
    Stats client = run(pairs, streams, rounds, viaClient);
    wall = duration<double>(steady_clock::now() - start).count();
    report("client, all streams:", client);
    std::printf("  %.2f s wall, simulators used %.2f s CPU\n", wall, simulatorCpuSeconds(pairs) - cpu);
    return socket.failures + client.failures == 0 ? 0 : 1;
}
