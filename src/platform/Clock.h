#pragma once

#include <chrono>
#include <mutex>
#include <vector>

namespace orvan {

class StopToken;

using SteadyTime = std::chrono::steady_clock::time_point;
using Seconds = std::chrono::duration<double>;

// Time as the waits and retry ladders see it. Injected so that a test can run a ladder of
// 0.4/1/2/4 s delays without waiting, while child processes keep using real time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual SteadyTime now() const = 0;
    virtual std::chrono::system_clock::time_point wallNow() const = 0;
    virtual void sleepFor(Seconds duration) = 0;
    // As sleepFor, ended early by the stop; true when stopped.
    virtual bool waitFor(Seconds duration, const StopToken& stop);
};

class SystemClock final : public Clock {
public:
    SteadyTime now() const override { return std::chrono::steady_clock::now(); }
    std::chrono::system_clock::time_point wallNow() const override { return std::chrono::system_clock::now(); }
    void sleepFor(Seconds duration) override;
    bool waitFor(Seconds duration, const StopToken& stop) override;

    static SystemClock& shared();
};

// Virtual time for tests: sleeping advances the clock at once and records the request.
class FakeClock final : public Clock {
public:
    SteadyTime now() const override;
    std::chrono::system_clock::time_point wallNow() const override;
    void sleepFor(Seconds duration) override;
    void advance(Seconds duration);
    std::vector<double> sleeps() const;

private:
    mutable std::mutex mutex_;
    std::chrono::steady_clock::duration offset_{};
    std::vector<double> sleeps_;
    SteadyTime origin_ = std::chrono::steady_clock::now();
    std::chrono::system_clock::time_point wallOrigin_ = std::chrono::system_clock::now();
};

inline SteadyTime deadlineAfter(const Clock& clock, Seconds duration) {
    return clock.now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(duration);
}

}  // namespace orvan
