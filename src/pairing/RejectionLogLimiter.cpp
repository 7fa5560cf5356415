#include "pairing/RejectionLogLimiter.h"

namespace orvan {

RejectionLogLimiter::RejectionLogLimiter(std::function<void(const std::string&)> log, size_t limit,
                                         Clock::duration window, std::string what)
    : log_(std::move(log)), limit_(limit), window_(window), what_(std::move(what)) {}

void RejectionLogLimiter::log(const std::string& line, Clock::time_point now) {
    if (!windowStart_ || now - *windowStart_ >= window_) {
        flush();
        windowStart_ = now;
        passed_ = 0;
    }
    if (passed_ >= limit_) {
        ++omitted_;
        return;
    }
    ++passed_;
    if (log_) log_(line);
}

void RejectionLogLimiter::flush() {
    if (omitted_ == 0) return;
    if (log_) log_(what_ + "过多，已省略 " + std::to_string(omitted_) + " 条。");
    omitted_ = 0;
}

}  // namespace orvan
