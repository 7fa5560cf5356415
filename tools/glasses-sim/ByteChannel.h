#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvan::sim {

// A service's view of its stream: a byte pipe in each direction with no message boundaries.
// Implemented by the ADB stream (flow-controlled WRTEs) and by in-memory channels in tests.
class ByteChannel {
public:
    virtual ~ByteChannel() = default;
    // Waits for bytes from the host and appends them to `out`. False once the stream is closed
    // and nothing more will come.
    virtual bool read(std::string& out) = 0;
    // Hands the bytes to the host, waiting for flow control as needed. False if the stream
    // closed first.
    virtual bool write(std::string_view bytes) = 0;
    // The largest write that goes out as one WRTE; services pack their records up to this.
    virtual std::size_t maxWriteSize() const = 0;
};

}  // namespace orvan::sim
