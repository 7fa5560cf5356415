#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace orvan::sim {

// Where the simulator reports: human-readable log lines (stderr and an optional file) and
// machine-readable event lines for the controlling test (stdout, prefixed "event ").
class Log {
public:
    void openFile(const std::string& path);
    void info(std::string_view device, std::string_view text);
    void event(const std::string& json);
    // Replies to control commands share stdout with events, so both go through one lock.
    void reply(const std::string& line);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

}  // namespace orvan::sim
