#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <thread>
#include <vector>

#include "glasses-sim/Glasses.h"
#include "glasses-sim/Log.h"
#include "glasses-sim/Scheduler.h"

namespace orvan::sim {

// All simulated glasses of one process and the control commands that script them.
// Every command line gets exactly one reply line: "ok <json>" or "error <text>".
class Simulator {
public:
    // `stateDir` holds each pair's storage (<stateDir>/<name>) unless its configuration names one.
    Simulator(Log& log, std::string stateDir);
    ~Simulator();

    // Adds and starts one pair; returns its description. Throws std::invalid_argument.
    nlohmann::json add(const nlohmann::json& config);
    nlohmann::json describeAll() const;
    std::string execute(const std::string& line);
    // Stops scans, timers and every pair.
    void shutdown();
    bool quitRequested() const { return quit_; }

private:
    Glasses& find(const std::string& name);
    std::string startScan(Glasses& glasses, const std::vector<std::string>& options, const std::string& payloadText);

    Log& log_;
    std::string stateDir_;
    Scheduler scheduler_;
    mutable std::mutex mutex_;
    std::map<std::string, std::unique_ptr<Glasses>> glasses_;
    std::vector<std::thread> scans_;
    std::atomic<bool> cancelled_{false};
    std::atomic<int> nextScanId_{1};
    bool quit_ = false;
};

}  // namespace orvan::sim
