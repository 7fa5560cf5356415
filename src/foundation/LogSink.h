#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace orvan {

using LogFunction = std::function<void(const std::string&)>;

// The `onLog` of a component: set by the app after creation, called from any thread. A sink
// with no function reports nothing. Shared by the components of one service so that one
// assignment reaches them all.
class LogSink {
public:
    void set(LogFunction function) {
        std::lock_guard lock(mutex_);
        function_ = std::move(function);
    }
    void operator()(const std::string& message) const {
        LogFunction function;
        {
            std::lock_guard lock(mutex_);
            function = function_;
        }
        if (function) function(message);
    }

private:
    mutable std::mutex mutex_;
    LogFunction function_;
};

using SharedLogSink = std::shared_ptr<LogSink>;

// Whether an operation writes its log lines and command echoes: a background refresh is silent.
enum class Logging { logged, silent };

}  // namespace orvan
