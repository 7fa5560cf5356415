#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace orvan {

// Lets at most `limit` rejection lines a minute through, so that a peer flooding the callback
// port cannot grow the log without bound; the lines left out are counted and said in one line
// when the next minute's first line passes, or at flush(). Single-threaded: the server's event
// loop owns it.
class RejectionLogLimiter {
public:
    using Clock = std::chrono::steady_clock;
    // `what` names the lines in the count: what + "过多，已省略 N 条。".
    RejectionLogLimiter(std::function<void(const std::string&)> log, size_t limit = 20,
                        Clock::duration window = std::chrono::minutes(1), std::string what = "无线 ADB 回调拒绝记录");

    void log(const std::string& line, Clock::time_point now = Clock::now());
    // Writes the count of lines left out, if any.
    void flush();

private:
    std::function<void(const std::string&)> log_;
    size_t limit_;
    Clock::duration window_;
    std::string what_;
    std::optional<Clock::time_point> windowStart_;
    size_t passed_ = 0;
    size_t omitted_ = 0;
};

}  // namespace orvan
