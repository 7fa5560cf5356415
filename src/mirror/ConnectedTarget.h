#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace orvan {

// The wireless target ("ip:port") the service last made into a live transport. Written by the
// connect operations on background threads and read by the start paths; hence the lock.
class ConnectedTarget {
public:
    void set(std::optional<std::string> target) {
        std::lock_guard guard(mutex_);
        target_ = std::move(target);
    }
    std::optional<std::string> get() const {
        std::lock_guard guard(mutex_);
        return target_;
    }

private:
    mutable std::mutex mutex_;
    std::optional<std::string> target_;
};

}  // namespace orvan
