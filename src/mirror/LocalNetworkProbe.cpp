#include "mirror/LocalNetworkProbe.h"

#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace orvan {

void LocalNetworkProbeState::finish(LocalNetworkProbeOutcome decided) {
    std::lock_guard guard(lock);
    if (outcome) return;
    outcome = std::move(decided);
    semaphore.release();
}

namespace {

// The connection behind one probe. The queue runs it; the prober cancels it when its wait ends,
// which wakes the poll at once through the event descriptor.
class TcpProbeConnection {
public:
    TcpProbeConnection(std::string ip, long long port, std::shared_ptr<LocalNetworkProbeState> state)
        : ip_(std::move(ip)),
          port_(port),
          state_(std::move(state)),
          cancelFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~TcpProbeConnection() {
        if (cancelFd_ >= 0) close(cancelFd_);
    }
    TcpProbeConnection(const TcpProbeConnection&) = delete;
    TcpProbeConnection& operator=(const TcpProbeConnection&) = delete;

    void cancel() {
        uint64_t one = 1;
        if (cancelFd_ >= 0 && write(cancelFd_, &one, sizeof one) < 0) {
            // Nothing to do: the run ends by its own poll deadline instead.
        }
    }

    // Connects and reports the outcome; returns early when cancelled.
    void run(std::chrono::steady_clock::time_point deadline) {
        if (isCancelled()) return;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        addrinfo* addresses = nullptr;
        int resolved = getaddrinfo(ip_.c_str(), std::to_string(port_).c_str(), &hints, &addresses);
        if (resolved != 0) {
            // A target is always a numeric address: a name is refused rather than resolved, so
            // the probe cannot hang in DNS beyond its time-out.
            state_->finish(LocalNetworkProbeOutcome::unavailable(gai_strerror(resolved)));
            return;
        }
        std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(addresses, freeaddrinfo);
        int fd = socket(addresses->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            state_->finish(LocalNetworkProbeOutcome::unavailable(std::strerror(errno)));
            return;
        }
        int error = connect(fd, addresses->ai_addr, addresses->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) error = awaitConnection(fd, deadline);
        close(fd);
        if (error == 0)
            state_->finish(LocalNetworkProbeOutcome::reachable());
        else if (error > 0)
            state_->finish(LocalNetworkProbeOutcome::unavailable(std::strerror(error)));
        // error < 0: cancelled or out of time; the prober decides.
    }

private:
    bool isCancelled() const {
        pollfd cancelled{cancelFd_, POLLIN, 0};
        return poll(&cancelled, 1, 0) > 0;
    }

    // 0 when connected, the socket error when it failed, -1 when cancelled or out of time.
    int awaitConnection(int fd, std::chrono::steady_clock::time_point deadline) {
        while (true) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() < 0) return -1;
            pollfd fds[2] = {{fd, POLLOUT, 0}, {cancelFd_, POLLIN, 0}};
            int ready = poll(fds, 2, static_cast<int>(left.count()) + 1);
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0 || (fds[1].revents & POLLIN)) return -1;
            int socketError = 0;
            socklen_t length = sizeof socketError;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &socketError, &length) != 0) return errno;
            return socketError;
        }
    }

    std::string ip_;
    long long port_;
    std::shared_ptr<LocalNetworkProbeState> state_;
    int cancelFd_;
};

}  // namespace

LocalNetworkProbe::LocalNetworkProbe() = default;
LocalNetworkProbe::~LocalNetworkProbe() = default;

LocalNetworkProbeOutcome LocalNetworkProbe::probeLocalNetworkAccess(const std::string& ip, long long port,
                                                                    double timeout) {
    if (port < 0 || port > 65535) return LocalNetworkProbeOutcome::unavailable("无效端口: " + std::to_string(port));

    auto state = std::make_shared<LocalNetworkProbeState>();
    auto connection = std::make_shared<TcpProbeConnection>(ip, port, state);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                           std::chrono::duration<double>(timeout));
    // Each probe connects on a pool thread of its own: on a shared queue a probe behind a
    // silent host would spend its whole time-out waiting and report a port that answers as
    // timed out.
    Dispatch::async([connection, deadline] { connection->run(deadline); });
    state->semaphore.try_acquire_until(deadline);

    LocalNetworkProbeOutcome result;
    {
        std::lock_guard guard(state->lock);
        if (state->outcome)
            result = *state->outcome;
        else if (state->sawLocalNetworkDenial)
            result = LocalNetworkProbeOutcome::denied();
        else
            result =
                LocalNetworkProbeOutcome::unavailable(state->lastError.empty() ? "TCP 连接预检超时" : state->lastError);
    }
    connection->cancel();
    return result;
}

void LocalNetworkProbe::setLocalNetworkPermissionConfirmed(bool confirmed) {
    std::lock_guard guard(localNetworkPermissionStateLock_);
    localNetworkPermissionConfirmed_ = confirmed;
}

bool LocalNetworkProbe::isLocalNetworkPermissionConfirmed() const {
    std::lock_guard guard(localNetworkPermissionStateLock_);
    return localNetworkPermissionConfirmed_;
}

}  // namespace orvan
