// Callbacks of made-up sessions against the callback server and the scan coordinator, for
// bench/foreign_callbacks.sh. Prints the activity log's growth for FOREIGN such callbacks, and
// the acknowledgement latency of the active session alone (the baseline) and meanwhile; the last
// line is "ratio <max latency meanwhile / max latency alone>".
//   bench_foreign_callbacks [FOREIGN] [SENDERS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "foundation/ActivityLog.h"
#include "pairing/ScanSessionCoordinator.h"
#include "pairing/WirelessAdbCallbackServer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kSession = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9";

// The scan page's status: not measured here.
struct NoStatus final : orvan::ScanStatusSink {
    void showStatus(const orvan::ScanStatus&) override {}
    void showLocalNetworkFailure(const std::string&) override {}
};

std::string request(const std::string& body) {
    return "POST /orvan/wireless-adb/callback HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string callbackBody(const std::string& type, const std::string& session, const std::string& status,
                         const std::string& extra) {
    return R"({"type":")" + type + R"(","version":1,"action":")" +
           (type == "ORVAN_WIRELESS_ADB_ACK" ? "QUERY" : "ENABLE") + R"(","sessionId":")" + session +
           R"(","status":")" + status + R"(")" + extra +
           R"(,"device":{"ip":"192.168.1.57","adbPort":5555,"adbEnabled":true,"tcpPortOpen":true}})";
}

// One POST on its own connection, read to the end. False unless the reply is 200.
bool post(int port, const std::string& bytes) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    std::string reply;
    char buffer[2048];
    for (ssize_t n; ok && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return ok && reply.starts_with("HTTP/1.1 200");
}

// Acknowledgement queries of the active session, one after another, until `until` holds (and
// at least `minimum` of them); their latencies in milliseconds, sorted.
std::vector<double> poll(int port, size_t minimum, const std::function<bool()>& until) {
    const std::string ack = request(callbackBody("ORVAN_WIRELESS_ADB_ACK", kSession, "WAITING", ""));
    std::vector<double> latencies;
    while (latencies.size() < minimum || !until()) {
        auto start = Clock::now();
        if (!post(port, ack)) std::fprintf(stderr, "an acknowledgement failed\n");
        latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::sort(latencies.begin(), latencies.end());
    return latencies;
}

double at(const std::vector<double>& sorted, double q) {
    return sorted.empty() ? 0.0 : sorted[static_cast<size_t>(q * static_cast<double>(sorted.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    const int foreign = argc > 1 ? std::stoi(argv[1]) : 2000;
    const int senders = argc > 2 ? std::stoi(argv[2]) : 8;
    auto folder = std::filesystem::temp_directory_path() / ("orvan-foreign-bench-" + std::to_string(::getpid()));
    orvan::ActivityLog log(folder);
    orvan::ManualMainQueue main;
    orvan::ScanSessionHooks hooks;
    hooks.onLog = [&log](const std::string& line) { log.appendLog(line); };
    NoStatus status;
    orvan::ScanSessionCoordinator coordinator(main, status, hooks);
    coordinator.sessionChanged("", kSession);
    std::atomic<bool> done{false};
    std::thread mainThread([&] { main.runUntil([&] { return done.load(); }, orvan::Seconds(3600)); });
    orvan::WirelessAdbCallbackServer server(
        "/orvan/wireless-adb/callback", [&log](const std::string& line) { log.appendLog(line); },
        [&coordinator](const orvan::WirelessAdbCallback& callback) {
            return coordinator.handleWirelessAdbCallback(callback);
        },
        {.bindAddress = "127.0.0.1"});
    const int port = server.start(0);

    auto alone = poll(port, 300, [] { return true; });
    const auto sizeBefore = std::filesystem::file_size(log.file());
    std::atomic<int> sent{0};
    std::atomic<int> sendersDone{0};
    std::vector<std::thread> threads;
    const std::string message = R"(,"errorCode":"WIFI_CONNECT_FAILED","message":")" + std::string(2000, 'x') + "\"";
    for (int s = 0; s < senders; ++s) {
        threads.emplace_back([&, s] {
            for (int i = s; i < foreign; i += senders) {
                char session[40];
                std::snprintf(session, sizeof session, "DEADBEEF-0000-4000-8000-%012d", i);
                post(port, request(callbackBody("ORVAN_WIRELESS_ADB_STATUS", session, "FAILED", message)));
                ++sent;
            }
            ++sendersDone;
        });
    }
    auto meanwhile = poll(port, 50, [&] { return sendersDone.load() == senders; });
    for (auto& thread : threads) thread.join();
    server.stop();
    done = true;
    mainThread.join();
    const auto growth = std::filesystem::file_size(log.file()) - sizeBefore;
    std::filesystem::remove_all(folder);

    std::printf("foreign callbacks %d, log growth %ju bytes\n", sent.load(), static_cast<uintmax_t>(growth));
    std::printf("ack alone:     queries %zu p50_ms %.3f p99_ms %.3f max_ms %.3f\n", alone.size(), at(alone, 0.5),
                at(alone, 0.99), at(alone, 1.0));
    std::printf("ack meanwhile: queries %zu p50_ms %.3f p99_ms %.3f max_ms %.3f\n", meanwhile.size(),
                at(meanwhile, 0.5), at(meanwhile, 0.99), at(meanwhile, 1.0));
    std::printf("ratio %.3f\n", at(meanwhile, 1.0) / std::max(0.001, at(alone, 1.0)));
    return 0;
}
