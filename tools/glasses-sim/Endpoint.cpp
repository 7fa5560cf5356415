#include "glasses-sim/Endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cerrno>
#include <random>
#include <system_error>

namespace orvan::sim {
namespace {

sockaddr_in makeAddress(const std::string& address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        throw std::system_error(EINVAL, std::generic_category(), "not an IPv4 address: " + address);
    }
    return sa;
}

}  // namespace

std::string stateName(Endpoint::State state) {
    switch (state) {
        case Endpoint::State::reserved:
            return "refusing";
        case Endpoint::State::listening:
            return "listening";
        case Endpoint::State::paused:
            return "paused";
    }
    return "?";
}

Endpoint::Endpoint(const std::string& address, std::uint16_t port, AcceptHandler onAccept)
    : address_(address), port_(port), onAccept_(std::move(onAccept)) {
    bindSocket();
}

Endpoint::~Endpoint() {
    stopAccepting();
}

void Endpoint::bindSocket() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) throw std::system_error(errno, std::generic_category(), "socket");
    const int one = 1;
    // Lets an address come back at once after a drop, while old connections sit in TIME_WAIT.
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in sa = makeAddress(address_, port_);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        throw std::system_error(errno, std::generic_category(), "bind " + address_ + ":" + std::to_string(port_));
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
    socket_ = std::move(fd);
}

Endpoint::State Endpoint::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void Endpoint::setState(State state) {
    std::lock_guard lock(mutex_);
    if (state == state_) return;
    if (state_ == State::listening) stopAccepting();
    if (state == State::reserved && state_ != State::reserved) {
        // A socket cannot stop listening; replace it by a merely bound one on the same port.
        socket_.reset();
        bindSocket();
    }
    if (state != State::reserved && state_ == State::reserved) {
        if (::listen(socket_.get(), 16) != 0) {
            throw std::system_error(errno, std::generic_category(), "listen " + address_);
        }
    }
    if (state == State::listening) startAccepting();
    state_ = state;
}

void Endpoint::startAccepting() {
    wake_.reset(::eventfd(0, EFD_CLOEXEC));
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

void Endpoint::stopAccepting() {
    if (!acceptThread_.joinable()) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_.get(), &one, sizeof one);
    acceptThread_.join();
    wake_.reset();
}

void Endpoint::acceptLoop() {
    const int listenFd = socket_.get();
    while (true) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        onAccept_(UniqueFd(fd), std::string(text) + ":" + std::to_string(ntohs(peer.sin_port)));
    }
}

std::string Endpoint::pickFreeLoopbackAddress(std::uint16_t port) {
    // Random aliases far from 127.0.0.1 (the emulator scan's address), so that simulators of
    // tests running side by side do not meet; the bind below settles any remaining clash.
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> high(20, 250), low(1, 254);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const std::string address = "127." + std::to_string(high(random)) + "." + std::to_string(low(random)) + "." +
                                    std::to_string(low(random));
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in sa = makeAddress(address, port);
        if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return address;
    }
    throw std::system_error(EADDRINUSE, std::generic_category(), "no free loopback address");
}

}  // namespace orvan::sim
