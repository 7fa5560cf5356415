#include "platform/Clock.h"

#include <thread>

#include "platform/TaskScope.h"

namespace orvan {

void SystemClock::sleepFor(Seconds duration) {
    if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

bool Clock::waitFor(Seconds duration, const StopToken& stop) {
    if (stop.stopRequested()) return true;
    sleepFor(duration);
    return stop.stopRequested();
}

bool SystemClock::waitFor(Seconds duration, const StopToken& stop) {
    return stop.waitFor(duration);
}

SystemClock& SystemClock::shared() {
    static SystemClock clock;
    return clock;
}

SteadyTime FakeClock::now() const {
    std::lock_guard lock(mutex_);
    return origin_ + offset_;
}

std::chrono::system_clock::time_point FakeClock::wallNow() const {
    std::lock_guard lock(mutex_);
    return wallOrigin_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(offset_);
}

void FakeClock::sleepFor(Seconds duration) {
    std::lock_guard lock(mutex_);
    sleeps_.push_back(duration.count());
    if (duration.count() > 0) offset_ += std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration);
}

void FakeClock::advance(Seconds duration) {
    std::lock_guard lock(mutex_);
    offset_ += std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration);
}

std::vector<double> FakeClock::sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
}

}  // namespace orvan
