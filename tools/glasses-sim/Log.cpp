#include "glasses-sim/Log.h"

#include <chrono>
#include <ctime>

namespace orvan::sim {

void Log::openFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    file_ = std::fopen(path.c_str(), "a");
}

void Log::info(std::string_view device, std::string_view text) {
    const auto now = std::chrono::system_clock::now();
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
    std::lock_guard lock(mutex_);
    for (std::FILE* out : {stderr, file_}) {
        if (!out) continue;
        std::fprintf(out, "%s.%03d glasses-sim [%.*s] %.*s\n", stamp, static_cast<int>(millis % 1000),
                     static_cast<int>(device.size()), device.data(), static_cast<int>(text.size()), text.data());
        std::fflush(out);
    }
}

void Log::event(const std::string& json) {
    reply("event " + json);
}

void Log::reply(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace orvan::sim
