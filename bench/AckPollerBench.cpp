// Acknowledgement polling against the callback server, for bench/ack_pollers.sh.
//   bench_ack_pollers serve              starts our server on loopback, prints "port N", runs until stdin closes
//   bench_ack_pollers load PORT POLLERS SECONDS IDLE PAUSE_MS
//                                        holds IDLE idle connections, runs POLLERS clients that each
//                                        post an ACK query, pause PAUSE_MS, and again (the glasses
//                                        poll on a timer); prints latency percentiles
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pairing/WirelessAdbCallbackServer.h"

namespace {

using Clock = std::chrono::steady_clock;

int connectLoopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

const std::string kBody =
    R"({"type":"ORVAN_WIRELESS_ADB_ACK","version":1,"action":"QUERY","sessionId":"0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9",)"
    R"("status":"WAITING","device":{"ip":"192.168.1.57","adbPort":5555,"adbEnabled":true,"tcpPortOpen":true}})";
const std::string kRequest =
    "POST /orvan/wireless-adb/callback HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
    "application/json\r\nContent-Length: " +
    std::to_string(kBody.size()) + "\r\n\r\n" + kBody;

// One query: connect, send, read to EOF. Nothing on failure.
bool query(int port) {
    int fd = connectLoopback(port);
    if (fd < 0) return false;
    bool ok = ::send(fd, kRequest.data(), kRequest.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(kRequest.size());
    char buffer[2048];
    std::string reply;
    for (ssize_t n; ok && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return ok && reply.starts_with("HTTP/1.1 200");
}

int serve() {
    orvan::WirelessAdbCallbackServer server(
        "/orvan/wireless-adb/callback", [](const std::string&) {},
        [](const orvan::WirelessAdbCallback& callback) {
            return orvan::WirelessAdbCallbackResponse{.adbConnected = true, .sessionId = callback.sessionId};
        },
        {.bindAddress = "127.0.0.1"});
    std::cout << "port " << server.start(0) << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

int load(int port, int pollers, double seconds, int idleCount, int pauseMs) {
    std::vector<int> idle;
    for (int i = 0; i < idleCount; ++i) idle.push_back(connectLoopback(port));
    std::mutex mutex;
    std::vector<double> latencies;
    std::atomic<int> failures{0};
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    std::vector<std::thread> threads;
    for (int p = 0; p < pollers; ++p) {
        threads.emplace_back([&] {
            std::vector<double> mine;
            while (Clock::now() < end) {
                auto start = Clock::now();
                if (!query(port)) ++failures;
                mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
            std::lock_guard lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
        });
    }
    for (auto& thread : threads) thread.join();
    for (int fd : idle) {
        if (fd >= 0) ::close(fd);
    }
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) {
        return latencies.empty() ? 0.0 : latencies[static_cast<size_t>(q * (latencies.size() - 1))];
    };
    std::printf("queries %zu failures %d p50_ms %.3f p99_ms %.3f max_ms %.3f\n", latencies.size(), failures.load(),
                at(0.5), at(0.99), at(1.0));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "serve") return serve();
    if (args.size() == 6 && args[0] == "load") {
        return load(std::stoi(args[1]), std::stoi(args[2]), std::stod(args[3]), std::stoi(args[4]), std::stoi(args[5]));
    }
    std::cerr << "usage: bench_ack_pollers serve | load PORT POLLERS SECONDS IDLE PAUSE_MS\n";
    return 2;
}
