#pragma once
// What the scrcpy stand-in says about itself, for the benches that compare against it.

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

namespace orvan::bench {

// elapsedMs of the stand-in's latest "ready" event.
inline double lastReadyMilliseconds(const std::string& logPath) {
    double elapsed = -1;
    std::ifstream in(logPath);
    for (std::string line; std::getline(in, line);) {
        auto event = nlohmann::json::parse(line, nullptr, false);
        if (!event.is_discarded() && event.value("event", "") == "ready") elapsed = event.value("elapsedMs", -1.0);
    }
    return elapsed;
}

}  // namespace orvan::bench
