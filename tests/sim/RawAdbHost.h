#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

#include "glasses-sim/AdbMessage.h"

namespace orvan::sim::test {

// The host side of the transport, written by hand so that tests can send what a real adb
// server never would (bad magic, oversized payloads, truncated messages).
class RawAdbHost {
public:
    RawAdbHost(const std::string& address, int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
            throw std::runtime_error("cannot connect to " + address + ":" + std::to_string(port));
        }
    }
    ~RawAdbHost() { ::close(fd_); }
    RawAdbHost(const RawAdbHost&) = delete;
    RawAdbHost& operator=(const RawAdbHost&) = delete;

    void sendRaw(const std::string& bytes) {
        if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
            throw std::runtime_error("send failed");
        }
    }
    void send(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, const std::string& payload = {}) {
        sendRaw(encodeMessage({command, arg0, arg1, payload}, true));
    }
    void connect(std::uint32_t maxData = kMaxPayload) {
        send(kCnxn, kVersionSkipChecksum, maxData, "host::features=shell_v2,cmd,stat_v2,ls_v2");
    }

    // The next message, or nothing when none arrives in time or the peer closed (see closed()).
    std::optional<AdbMessage> receive(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            if (auto message = decoder_.next()) return message;
            if (closed_) return std::nullopt;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[65536];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closed_ = true;
                continue;
            }
            decoder_.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
    }
    // Waits for the peer to close the connection (reading and discarding anything else).
    bool waitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!closed_ && std::chrono::steady_clock::now() < deadline) {
            receive(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
        }
        return closed_;
    }
    bool closed() const { return closed_; }

private:
    int fd_ = -1;
    MessageDecoder decoder_;
    bool closed_ = false;
};

}  // namespace orvan::sim::test
