#pragma once

#include <algorithm>

#include "foundation/MirrorError.h"
#include "platform/Clock.h"
#include "platform/TaskScope.h"

namespace orvan {

// A clock whose waits end when its owner stops: a wait then throws the cancellation kind, so a
// retry ladder or a readiness poll unwinds at its next wait instead of sleeping it out. The time
// itself is the inner clock's (a test's fake clock included).
class StoppableClock final : public Clock {
public:
    StoppableClock(Clock& inner, StopToken stop) : inner_(inner), stop_(std::move(stop)) {}

    SteadyTime now() const override { return inner_.now(); }
    std::chrono::system_clock::time_point wallNow() const override { return inner_.wallNow(); }
    void sleepFor(Seconds duration) override {
        if (inner_.waitFor(duration, stop_)) throw MirrorError::cancelled();
    }
    // Either stop ends the wait: the owner's throws, the caller's returns true. The inner wait
    // follows one token, so the caller's is looked at between slices of a twentieth of a second.
    bool waitFor(Seconds duration, const StopToken& stop) override {
        const SteadyTime end = inner_.now() + std::chrono::duration_cast<SteadyTime::duration>(duration);
        while (!stop.stopRequested()) {
            const Seconds left = end - inner_.now();
            if (left <= Seconds(0)) return false;
            sleepFor(std::min(left, kCallerStopSlice));
        }
        return true;
    }

private:
    static constexpr Seconds kCallerStopSlice{0.05};
    Clock& inner_;
    StopToken stop_;
};

}  // namespace orvan
