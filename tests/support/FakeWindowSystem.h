#pragma once

#include "platform/WindowSystem.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace orvan {

// A scripted window list for tests: set the windows, then look at what was raised.
class FakeWindowSystem final : public WindowSystem {
public:
    void setWindows(std::vector<WindowInfo> windows) {
        std::lock_guard lock(mutex_);
        windows_ = std::move(windows);
    }
    void addWindow(const WindowInfo& window) {
        std::lock_guard lock(mutex_);
        windows_.push_back(window);
    }
    void removeWindowsOf(pid_t pid) {
        std::lock_guard lock(mutex_);
        std::erase_if(windows_, [pid](const WindowInfo& window) { return window.pid == pid; });
    }

    std::vector<WindowInfo> visibleTopLevelWindows() override {
        std::lock_guard lock(mutex_);
        ++listCount_;
        return windows_;
    }

    // Like the real one: a pid with a window is raised (and recorded), the rest give false.
    bool raiseWindowsOf(pid_t pid) override {
        std::lock_guard lock(mutex_);
        raiseRequests_.push_back(pid);
        const bool found = pid > 0 && std::any_of(windows_.begin(), windows_.end(),
                                                  [pid](const WindowInfo& window) { return window.pid == pid; });
        if (found) raisedPids_.push_back(pid);
        return found;
    }

    // Every pid asked for, in order, and those that had a window to raise.
    std::vector<pid_t> raiseRequests() const {
        std::lock_guard lock(mutex_);
        return raiseRequests_;
    }
    std::vector<pid_t> raisedPids() const {
        std::lock_guard lock(mutex_);
        return raisedPids_;
    }
    int listCount() const {
        std::lock_guard lock(mutex_);
        return listCount_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<WindowInfo> windows_;
    std::vector<pid_t> raiseRequests_;
    std::vector<pid_t> raisedPids_;
    int listCount_ = 0;
};

}  // namespace orvan
