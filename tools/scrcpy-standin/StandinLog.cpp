#include "StandinLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace orvan::standin {

StandinLog::StandinLog(std::string path) : path_(std::move(path)) {}

void StandinLog::write(const std::string& event, nlohmann::json fields) {
    if (path_.empty()) return;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    fields["event"] = event;
    fields["pid"] = ::getpid();
    fields["timeUs"] = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    // Arguments and environment come from outside: replace invalid UTF-8 rather than throw.
    const auto line = fields.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!written && !warned_) {
        warned_ = true;
        std::fprintf(stderr, "scrcpy-standin: cannot append to ORVAN_STANDIN_LOG %s: %s\n", path_.c_str(),
                     std::strerror(error));
    }
}

}  // namespace orvan::standin
