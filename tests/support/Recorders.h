#pragma once

// Small recorders for process tests: the log lines a component wrote, and every adb command an
// AdbRunner started with the time-out and scope its caller chose. Thread-safe.

#include <mutex>
#include <string>
#include <vector>

#include "adb/AdbRunner.h"
#include "foundation/LogSink.h"
#include "foundation/Text.h"

namespace orvan::testing {

class LogRecorder {
public:
    void attach(LogSink& sink) {
        sink.set([this](const std::string& line) {
            std::lock_guard guard(mutex_);
            lines_.push_back(line);
        });
    }
    std::vector<std::string> lines() const {
        std::lock_guard guard(mutex_);
        return lines_;
    }
    // Whether exactly this line was logged.
    bool contains(const std::string& line) const {
        std::lock_guard guard(mutex_);
        for (const auto& l : lines_)
            if (l == line) return true;
        return false;
    }
    void clear() {
        std::lock_guard guard(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

struct RecordedInvocation {
    std::string arguments;  // the arguments after the binary, joined with blanks
    double timeout = 0;
    bool check = false;
    bool logCommand = false;
    AdbServerScope scope = AdbServerScope::sharedDevelopment;
};

class InvocationRecorder {
public:
    void attach(AdbRunner& runner) {
        runner.setInvocationObserver([this](const orvan::AdbInvocation& invocation) {
            std::vector<std::string> arguments(invocation.command.begin() + 1, invocation.command.end());
            std::lock_guard guard(mutex_);
            invocations_.push_back({text::joined(arguments, " "), invocation.timeout, invocation.check,
                                    invocation.logCommand, invocation.scope});
        });
    }
    std::vector<RecordedInvocation> invocations() const {
        std::lock_guard guard(mutex_);
        return invocations_;
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        for (const auto& invocation : invocations()) result.push_back(invocation.arguments);
        return result;
    }
    std::vector<double> timeouts() const {
        std::vector<double> result;
        for (const auto& invocation : invocations()) result.push_back(invocation.timeout);
        return result;
    }
    void clear() {
        std::lock_guard guard(mutex_);
        invocations_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<RecordedInvocation> invocations_;
};

}  // namespace orvan::testing
