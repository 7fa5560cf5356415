#pragma once

#include <cstdint>
#include <string_view>

namespace orvan::standin {

class StopSignals;

// scrcpy's standard output and error, which the app reads through one pipe. Writes wait for
// room in the pipe while still watching for stop signals, so a reader that stalls cannot keep
// the stand-in from ending when it is told to.
class OutputChannel {
public:
    explicit OutputChannel(StopSignals& signals);

    // Writes a whole line (a newline is added): ERROR and WARN lines to standard error, the
    // rest to standard output. False when a stop signal cut it short.
    bool line(std::string_view text);
    // Writes `bytes` bytes of log-like lines. False when a stop signal cut it short.
    bool flood(std::uint64_t bytes);
    // Points standard output and error at /dev/null, so the reader sees end of file.
    void close();

private:
    bool writeAll(std::string_view data, int fd);

    StopSignals& signals_;
    bool open_ = true;
};

}  // namespace orvan::standin
