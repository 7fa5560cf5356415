#pragma once

#include <optional>

namespace orvan::standin {

// SIGTERM, SIGINT and SIGHUP ask the stand-in to stop, as they ask scrcpy to close its window.
// They are blocked and read from a signalfd, so every wait (for adb, for a full pipe, for the
// next step) can watch for them next to its own descriptors and no write is cut in half.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    int fd() const { return fd_; }
    // Consumes pending signals without blocking; true once any stop signal has arrived.
    bool stopRequested();
    std::optional<int> received() const { return received_; }

    // Dies of `signal` as a crashing client would: no core file, no handler in the way.
    [[noreturn]] static void dieOf(int signal);

private:
    int fd_ = -1;
    std::optional<int> received_;
};

}  // namespace orvan::standin
