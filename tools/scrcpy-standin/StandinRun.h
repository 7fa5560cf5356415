#pragma once

#include "OutputChannel.h"
#include "StandinConfig.h"
#include "StandinLog.h"
#include "StandinWindow.h"
#include "StopSignals.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvan::standin {

// One run of the stand-in, from the adb check to the exit status it returns.
class StandinRun {
public:
    StandinRun(std::vector<std::string> argv, ScrcpyOptions options, Behaviour behaviour, Environment environment);
    int execute();

private:
    using Clock = std::chrono::steady_clock;
    enum class WaitEnd { reached, stopped, windowClosed };

    int checkDevice();
    int playMode(Mode mode);
    int becomeReady(Mode mode);
    int stayAlive();
    int endOf(WaitEnd end);
    void mapWindow();
    WaitEnd waitUntil(Clock::time_point deadline, const std::function<bool()>& done = {});
    WaitEnd waitFor(std::chrono::milliseconds delay) { return waitUntil(start_ + delay); }
    double elapsedMs() const;

    std::vector<std::string> argv_;
    ScrcpyOptions options_;
    Behaviour behaviour_;
    Environment environment_;
    StopSignals signals_;
    OutputChannel out_;
    StandinLog log_;
    std::unique_ptr<StandinWindow> window_;
    Clock::time_point start_ = Clock::now();
};

}  // namespace orvan::standin
