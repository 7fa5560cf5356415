#include "RunCounter.h"

#include "StandinConfig.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace orvan::standin {
namespace {

class LockedFile {
public:
    explicit LockedFile(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ < 0) fail(path, "open");
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) fail(path, "lock");
        }
    }
    ~LockedFile() { ::close(fd_); }  // closing drops the lock
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    int fd() const { return fd_; }

    [[noreturn]] static void fail(const std::string& path, const char* what) {
        throw ConfigError("ORVAN_STANDIN_STATE: cannot " + std::string(what) + " " + path + ": " + std::strerror(errno));
    }

private:
    int fd_;
};

}  // namespace

std::uint64_t claimRunIndex(const std::string& statePath) {
    if (statePath.empty()) return 0;
    LockedFile file(statePath);
    char buffer[32] = {};
    const auto length = ::pread(file.fd(), buffer, sizeof buffer - 1, 0);
    if (length < 0) LockedFile::fail(statePath, "read");
    std::uint64_t index = 0;
    const std::string_view text(buffer, static_cast<std::size_t>(length));
    const auto digits = text.substr(0, text.find_first_not_of("0123456789"));
    if (!digits.empty() && std::from_chars(digits.data(), digits.data() + digits.size(), index).ec != std::errc{}) {
        throw ConfigError("ORVAN_STANDIN_STATE: " + statePath + " does not hold a run count");
    }
    if (digits.empty() && !text.empty() && text.find_first_not_of(" \n") != std::string_view::npos) {
        throw ConfigError("ORVAN_STANDIN_STATE: " + statePath + " does not hold a run count");
    }
    const auto next = std::to_string(index + 1) + "\n";
    if (::ftruncate(file.fd(), 0) != 0 ||
        ::pwrite(file.fd(), next.data(), next.size(), 0) != static_cast<ssize_t>(next.size())) {
        LockedFile::fail(statePath, "write");
    }
    return index;
}

}  // namespace orvan::standin
