#include "pairing/WirelessAdbCallbackServer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <list>
#include <unordered_map>

#include "foundation/MirrorError.h"
#include "pairing/CallbackRequest.h"
#include "pairing/RejectionLogLimiter.h"
#include "platform/Dispatch.h"
#include "platform/UniqueFd.h"

namespace orvan {

struct WirelessAdbCallbackServer::Shared {
    std::string callbackPath;
    LogFunction onLog;
    Callback callback;
};

namespace {

using SteadyClock = std::chrono::steady_clock;
namespace request = callback_request;

// Sends the whole reply; on failure the log line (with the bytes that did go out).
std::optional<std::string> sendAll(int fd, int status, const std::string& bytes) {
    size_t sent = 0;
    std::string detail;
    while (sent < bytes.size() && detail.empty()) {
        // MSG_NOSIGNAL: a peer that went away gives EPIPE here instead of killing the app.
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n == 0) {
            detail = "连接已关闭";
        } else if (errno != EINTR) {
            detail = strerror(errno);
        }
    }
    if (detail.empty()) return std::nullopt;
    return "无线 ADB 回调响应发送失败: status=" + std::to_string(status) + ", sent=" + std::to_string(sent) + "/" +
           std::to_string(bytes.size()) + ", detail=" + detail;
}

// Answers one decoded callback on a worker thread: the callback may block (key preparation).
void answerCallback(const std::shared_ptr<WirelessAdbCallbackServer::Shared>& shared, const UniqueFd& socket,
                    const WirelessAdbCallback& callback) {
    int fd = socket.get();
    int status = 200;
    std::string body;
    try {
        body = shared->callback ? shared->callback(callback).jsonBody() : WirelessAdbCallbackResponse{}.jsonBody();
    } catch (const std::exception& error) {
        // A failing handler must not end the app from a worker thread; the glasses may retry.
        if (shared->onLog) shared->onLog(std::string("无线 ADB 回调处理失败: ") + error.what());
        status = 400;
        body = R"({"ok":false})";
    }
    std::string bytes = request::responseBytes(status, body);
    // Back to blocking, with a bound: a peer that stops reading cannot hold the worker.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    timeval bound{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    if (auto failure = sendAll(fd, status, bytes)) {
        if (shared->onLog) shared->onLog(*failure);
    }
}

struct Connection {
    UniqueFd socket;
    SteadyClock::time_point deadline;
    std::string bytes;
};

// The event loop's state: owned by the loop thread alone, so it needs no lock.
class EventLoop {
public:
    EventLoop(std::shared_ptr<WirelessAdbCallbackServer::Shared> shared, const CallbackServerLimits& limits,
              int listenFd, int wakeFd)
        : shared_(std::move(shared)),
          limits_(limits),
          listenFd_(listenFd),
          wakeFd_(wakeFd),
          rejections_([log = shared_->onLog](const std::string& line) {
              if (log) log(line);
          }) {}

    ~EventLoop() { rejections_.flush(); }

    void run() {
        epoll_.reset(::epoll_create1(EPOLL_CLOEXEC));
        if (!epoll_ || !watch(listenFd_) || !watch(wakeFd_)) return;
        epoll_event events[64];
        for (;;) {
            int count = ::epoll_wait(epoll_.get(), events, 64, waitMilliseconds());
            if (count < 0 && errno != EINTR) return;
            for (int i = 0; i < count; ++i) {
                int fd = events[i].data.fd;
                if (fd == wakeFd_) return;
                if (fd == listenFd_) {
                    acceptAll();
                } else {
                    readFrom(fd);
                }
            }
            expire();
        }
    }

private:
    using Iterator = std::list<Connection>::iterator;

    bool watch(int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        return ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) == 0;
    }

    int waitMilliseconds() const {
        if (connections_.empty()) return -1;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(connections_.front().deadline - SteadyClock::now());
        return static_cast<int>(std::max<int64_t>(0, left.count()));
    }

    void acceptAll() {
        for (;;) {
            UniqueFd socket(::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (!socket) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                // Out of descriptors: make room by dropping the oldest unfinished connection,
                // else the ready listening socket would spin the loop.
                if ((errno == EMFILE || errno == ENFILE) && !connections_.empty()) {
                    drop(connections_.begin());
                    continue;
                }
                return;
            }
            if (connections_.size() >= limits_.maxConnections) drop(connections_.begin());
            int fd = socket.get();
            if (!watch(fd)) continue;
            connections_.push_back({std::move(socket), SteadyClock::now() + limits_.requestTimeout, {}});
            byFd_[fd] = std::prev(connections_.end());
        }
    }

    void readFrom(int fd) {
        auto found = byFd_.find(fd);
        if (found == byFd_.end()) return;
        Connection& connection = *found->second;
        char chunk[request::kChunkSize];
        for (;;) {
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n > 0) {
                connection.bytes.append(chunk, static_cast<size_t>(n));
                if (request::isComplete(connection.bytes)) return finish(found->second, "");
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            return finish(found->second, "无线 ADB 回调请求为空。");  // closed early, or a reset
        }
    }

    void expire() {
        auto now = SteadyClock::now();
        while (!connections_.empty() && connections_.front().deadline <= now) {
            finish(connections_.begin(), "无线 ADB 回调请求超时。");
        }
    }

    void drop(Iterator connection) {
        byFd_.erase(connection->socket.get());
        connections_.erase(connection);  // closing also leaves the epoll set
    }

    // Reading is over: reject at once, or hand the decoded callback to a worker.
    void finish(Iterator connection, const char* emptyText) {
        auto socket = std::make_shared<UniqueFd>(std::move(connection->socket));
        int fd = socket->get();
        std::string bytes = std::move(connection->bytes);
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
        byFd_.erase(fd);
        connections_.erase(connection);
        auto outcome = request::interpret(bytes, shared_->callbackPath, emptyText);
        if (outcome.status == 200) {
            // The worker closes the socket when it has answered (or when it is dropped unrun).
            Dispatch::async([shared = shared_, socket, callback = std::move(*outcome.callback)] {
                answerCallback(shared, *socket, callback);
            });
            return;
        }
        rejections_.log(outcome.logLine);
        // The error reply is a few dozen bytes: it fits the socket buffer, so this never blocks.
        std::string reply = request::responseBytes(outcome.status, R"({"ok":false})");
        if (auto failure = sendAll(fd, outcome.status, reply)) rejections_.log(*failure);
    }

    std::shared_ptr<WirelessAdbCallbackServer::Shared> shared_;
    CallbackServerLimits limits_;
    int listenFd_;
    int wakeFd_;
    UniqueFd epoll_;
    RejectionLogLimiter rejections_;
    std::list<Connection> connections_;  // oldest first; all share one time-out
    std::unordered_map<int, Iterator> byFd_;
};

}  // namespace

WirelessAdbCallbackServer::WirelessAdbCallbackServer(std::string callbackPath, LogFunction onLog, Callback callback,
                                                     CallbackServerLimits limits)
    : shared_(std::make_shared<Shared>(Shared{std::move(callbackPath), std::move(onLog), std::move(callback)})),
      limits_(std::move(limits)) {}

WirelessAdbCallbackServer::~WirelessAdbCallbackServer() {
    stop();
}

int WirelessAdbCallbackServer::start(int preferredPort) {
    stop();
    std::optional<MirrorError> lastError;
    // Port 0 (tests, benchmarks) takes one port the system picks.
    int attempts = preferredPort == 0 ? 1 : kPortAttempts;
    for (int port = preferredPort; port < preferredPort + attempts; ++port) {
        try {
            UniqueFd listening = bindPort(port);
            if (port == 0) {
                sockaddr_in bound{};
                socklen_t size = sizeof bound;
                ::getsockname(listening.get(), reinterpret_cast<sockaddr*>(&bound), &size);
                port = ntohs(bound.sin_port);
            }
            UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
            if (!wake) throw MirrorError::message("无法创建无线 ADB 回调监听。");
            listenFd_ = std::move(listening);
            wakeFd_ = std::move(wake);
            port_ = port;
            loop_ = std::thread([shared = shared_, limits = limits_, fds = std::pair(listenFd_.get(), wakeFd_.get())] {
                EventLoop(shared, limits, fds.first, fds.second).run();
            });
            return port;
        } catch (const MirrorError& error) {
            lastError = error;
        }
    }
    throw *lastError;
}

UniqueFd WirelessAdbCallbackServer::bindPort(int port) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    int fd = socket.get();
    if (!socket) throw MirrorError::message("无法创建无线 ADB 回调监听。");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool parsed = ::inet_pton(AF_INET, limits_.bindAddress.c_str(), &address.sin_addr) == 1;
    // The system's largest backlog, not 8: a burst of connections must not be dropped at the door
    // (a dropped SYN costs the peer a one-second retransmission); the loop accepts them at once.
    if (!parsed || port < 0 || port > 65535 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        throw MirrorError::message("端口 " + std::to_string(port) + " 已被占用。");
    }
    return socket;
}

void WirelessAdbCallbackServer::stop() {
    if (loop_.joinable()) {
        // close() alone would not wake a thread waiting on the socket and would keep the port
        // bound: shut the socket down, and wake the loop through its event descriptor.
        ::shutdown(listenFd_.get(), SHUT_RDWR);
        uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(wakeFd_.get(), &one, sizeof one);
        loop_.join();
    }
    listenFd_.reset();
    wakeFd_.reset();
    port_ = 0;
}

}  // namespace orvan
