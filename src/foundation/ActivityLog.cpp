#include "foundation/ActivityLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>

namespace orvan {

ActivityLog::ActivityLog(std::filesystem::path folder) : file_(folder / kFileName) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
}

void ActivityLog::setScreenSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(sinkMutex_);
    screenSink_ = std::move(sink);
}

std::string ActivityLog::formatLine(const std::string& message, std::chrono::system_clock::time_point when) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    return "[" + std::string(stamp) + "] " + message;
}

void ActivityLog::appendLog(const std::string& message) {
    std::string line = formatLine(message, std::chrono::system_clock::now());
    {
        std::function<void(const std::string&)> sink;
        {
            std::lock_guard lock(sinkMutex_);
            sink = screenSink_;
        }
        if (sink) sink(line);
    }
    appendToFile(line + "\n");
}

void ActivityLog::appendToFile(const std::string& bytes) {
    std::lock_guard lock(fileMutex_);
    // Opened per line so that a deleted or cleared file is simply recreated by the next line.
    int fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;  // a log error never interrupts the operation that logs
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        data += written;
        left -= static_cast<size_t>(written);
    }
    ::close(fd);
}

bool ActivityLog::clearLogFile() {
    std::lock_guard lock(fileMutex_);
    auto temporary = file_;
    temporary += ".clearing";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    if (::rename(temporary.c_str(), file_.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace orvan
