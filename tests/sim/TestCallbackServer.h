#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace orvan::testing {

// A tiny stand-in for the computer's callback server: one POST per connection, a JSON reply
// from the test's handler, every request kept for assertions.
class TestCallbackServer {
public:
    struct Request {
        std::string requestLine;
        std::string host;
        nlohmann::json body;
    };
    using Handler = std::function<nlohmann::json(const nlohmann::json&)>;

    explicit TestCallbackServer(Handler handler) : handler_(std::move(handler)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd_, 8) != 0) {
            throw std::runtime_error("callback server cannot listen");
        }
        socklen_t length = sizeof sa;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &length);
        port_ = ntohs(sa.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~TestCallbackServer() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }

    int port() const { return port_; }
    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    bool waitFor(const std::function<bool(const std::vector<Request>&)>& condition, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return condition(requests_); });
    }

private:
    void serve() {
        while (!stop_) {
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0) continue;
            const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            handle(client);
            ::close(client);
        }
    }
    void handle(int client) {
        std::string data;
        char buffer[8192];
        std::size_t expected = std::string::npos;
        while (data.size() < expected) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            data.append(buffer, static_cast<std::size_t>(n));
            const std::size_t end = data.find("\r\n\r\n");
            if (end != std::string::npos && expected == std::string::npos) {
                const std::size_t at = data.find("Content-Length: ");
                expected = end + 4 + (at == std::string::npos ? 0 : std::stoul(data.substr(at + 16)));
            }
        }
        Request request;
        request.requestLine = data.substr(0, data.find("\r\n"));
        const std::size_t hostAt = data.find("\r\nHost: ");
        if (hostAt != std::string::npos)
            request.host = data.substr(hostAt + 8, data.find("\r\n", hostAt + 8) - hostAt - 8);
        const std::size_t end = data.find("\r\n\r\n");
        std::string reply;
        try {
            request.body = nlohmann::json::parse(data.substr(end + 4));
            reply = handler_(request.body).dump();
        } catch (const std::exception&) {
            reply = R"({"ok":false})";
        }
        const std::string response =
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(reply.size()) +
            "\r\nConnection: close\r\n\r\n" + reply;
        ::send(client, response.data(), response.size(), MSG_NOSIGNAL);
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
        changed_.notify_all();
    }

    Handler handler_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Request> requests_;
};

}  // namespace orvan::testing
