#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace orvan::standin {

// Appends one JSON object per line to ORVAN_STANDIN_LOG, so a test can assert on how the app
// started scrcpy (arguments, environment, working folder) and on when it became ready.
// Each line is written with a single write() on an O_APPEND descriptor, so the lines of
// concurrent stand-ins never interleave. Without a path nothing is written.
class StandinLog {
public:
    explicit StandinLog(std::string path);

    // Adds "event", "pid" and "timeUs" (microseconds of CLOCK_REALTIME, comparable with
    // std::chrono::system_clock) to `fields` and appends the line. Failures to write are
    // reported once on stderr and otherwise ignored: the log must not change the behaviour.
    void write(const std::string& event, nlohmann::json fields = nlohmann::json::object());

private:
    std::string path_;
    bool warned_ = false;
};

}  // namespace orvan::standin
