#pragma once

// Waiting in tests: poll for the event itself, never sleep a fixed time and hope. Deadlines are
// generous because only a failing test waits one out, and a loaded 2-core machine is slow.

#include <chrono>
#include <functional>
#include <thread>

namespace orvan::testing {

inline constexpr std::chrono::milliseconds kGenerousDeadline{20'000};

// Whether `condition` held before `deadline` passed; it is checked once more at the end.
inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = kGenerousDeadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

}  // namespace orvan::testing
