// The port probe against real loopback sockets: a listener, a closed port, a listener too busy to
// answer, and texts that are no address or no port.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <tuple>
#include <vector>

#include "mirror/LocalNetworkProbe.h"

namespace orvan {
namespace {

using Outcome = LocalNetworkProbeOutcome;

// A TCP socket bound to 127.0.0.1 on a free port; listening or not.
class LoopbackSocket {
public:
    explicit LoopbackSocket(int backlog = -1) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (backlog >= 0) listen(fd_, backlog);
    }
    ~LoopbackSocket() {
        for (int fd : clients_) close(fd);
        close(fd_);
    }
    int port() const { return port_; }

    // Fills the accept queue of a listener (backlog 0) that never accepts, so the next SYN goes
    // unanswered: the first connect blocks until the queue holds it, the rest only add SYNs.
    void fillAcceptQueue() {
        for (int i = 0; i < 4; ++i) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (i > 0 ? SOCK_NONBLOCK : 0), 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(static_cast<uint16_t>(port_));
            connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            clients_.push_back(fd);
        }
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> clients_;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(LocalNetworkProbe, SilentPortTimesOutWithItsOwnText) {
    LoopbackSocket busy(0);
    busy.fillAcceptQueue();
    LocalNetworkProbe probe;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(probe.probeLocalNetworkAccess("127.0.0.1", busy.port(), 0.3), Outcome::unavailable("TCP 连接预检超时"));
    EXPECT_GE(secondsSince(start), 0.29);
}

// A closed port gives the system's text: a refusal is an answer, with no waiting for the time-out.
// Ports outside the TCP range open no connection; texts that are no numeric address fail with the
// resolver's text, never after a DNS look-up.
TEST(LocalNetworkProbe, ClosedOrBadPortsAndAddressesFailAtOnce) {
    LocalNetworkProbe probe;
    const std::string noName = gai_strerror(EAI_NONAME);
    const int closed = LoopbackSocket().port();  // bound, then released: nothing listens there now
    const std::vector<std::tuple<std::string, long long, std::string>> cases{
        {"127.0.0.1", closed, "Connection refused"},
        {"127.0.0.1", 65536, "无效端口: 65536"},
        {"127.0.0.1", -1, "无效端口: -1"},
        {"127.0.0.1", 4294967296LL, "无效端口: 4294967296"},
        {"not-an-ip", 5555, noName},
        {"127.0.0.1:5555", 5555, noName},
        {"localhost", 5555, noName},
        {std::string(100000, '1'), 5555, noName}};
    for (const auto& [ip, port, text] : cases) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(probe.probeLocalNetworkAccess(ip, port, 30.0), Outcome::unavailable(text)) << ip.substr(0, 20);
        EXPECT_LT(secondsSince(start), 10.0) << ip.substr(0, 20);
    }
    // 0 is a valid port number; nothing ever listens there.
    EXPECT_EQ(probe.probeLocalNetworkAccess("127.0.0.1", 0, 1.0).kind, Outcome::Kind::unavailable);
}

TEST(LocalNetworkProbe, ConcurrentProbesEachKeepTheirOwnDeadline) {
    LoopbackSocket listener(64);
    LoopbackSocket busy(0);
    busy.fillAcceptQueue();
    LocalNetworkProbe probe;
    std::atomic<int> silentStarted{0};
    std::vector<std::future<Outcome>> silent;
    for (int i = 0; i < 3; ++i)
        silent.push_back(std::async(std::launch::async, [&] {
            ++silentStarted;
            return probe.probeLocalNetworkAccess("127.0.0.1", busy.port(), 4.0);
        }));
    while (silentStarted < 3) std::this_thread::yield();
    // Probes behind silent hosts must not eat this one's time-out: its port answers.
    EXPECT_EQ(probe.probeLocalNetworkAccess("127.0.0.1", listener.port(), 2.0), Outcome::reachable());
    for (auto& outcome : silent) EXPECT_EQ(outcome.get(), Outcome::unavailable("TCP 连接预检超时"));
}

}  // namespace
}  // namespace orvan
