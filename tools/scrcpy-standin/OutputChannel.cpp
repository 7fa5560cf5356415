#include "OutputChannel.h"

#include "StopSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

namespace orvan::standin {

OutputChannel::OutputChannel(StopSignals& signals) : signals_(signals) {}

bool OutputChannel::line(std::string_view text) {
    std::string data(text);
    data += '\n';
    // Like the real clients from 2.0 on: errors and warnings on stderr, the rest on stdout.
    const bool problem = text.starts_with("ERROR") || text.starts_with("WARN") || text.starts_with("[server] ERROR") ||
                         text.starts_with("java.");
    return writeAll(data, problem ? STDERR_FILENO : STDOUT_FILENO);
}

bool OutputChannel::flood(std::uint64_t bytes) {
    // Numbered lines, so a test that keeps the tail can tell which part it kept.
    std::string chunk;
    std::uint64_t lineNumber = 0;
    while (bytes > 0) {
        chunk.clear();
        while (chunk.size() < 64 * 1024 && chunk.size() < bytes) {
            char text[128];
            const int length = std::snprintf(text, sizeof text, "DEBUG: flood line %012llu %s\n",
                                             static_cast<unsigned long long>(lineNumber++),
                                             "................................................");
            chunk.append(text, static_cast<std::size_t>(length));
        }
        chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), bytes)));
        if (!writeAll(chunk, STDOUT_FILENO)) return false;
        bytes -= chunk.size();
    }
    return true;
}

void OutputChannel::close() {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
    open_ = false;
}

bool OutputChannel::writeAll(std::string_view data, int fd) {
    while (!data.empty()) {
        if (!open_) return true;
        pollfd fds[] = {{fd, POLLOUT, 0}, {signals_.fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (signals_.stopRequested()) return false;
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0 && (fds[0].revents & POLLOUT) == 0) {
            open_ = false;  // nobody reads any more; carry on silently, as a GUI client would
            return true;
        }
        // A pipe that polls writable has room for at least one page, so this does not block.
        const auto size = std::min<std::size_t>(data.size(), 4096);
        const auto written = ::write(fd, data.data(), size);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            open_ = false;  // EPIPE and friends: the reader is gone
            return true;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace orvan::standin
