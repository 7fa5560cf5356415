#pragma once

#include <functional>
#include <optional>
#include <string>

#include "glasses-sim/ByteChannel.h"
#include "glasses-sim/DeviceStorage.h"
#include "glasses-sim/SyncProtocol.h"

namespace orvan::sim {

// The device side of "sync:" (pull, push, ls): reads requests from the channel until QUIT, the
// host closing, or a protocol error, answering from the storage. Returns a short description
// of how it ended, for the log.
class SyncService {
public:
    using Logger = std::function<void(const std::string&)>;

    SyncService(ByteChannel& channel, const DeviceStorage& storage, Logger log);
    std::string run();

private:
    bool handleList(const std::string& path, bool v2);
    bool handleReceive(const std::string& path);
    // Reads DATA records until DONE; returns false when the stream ended or broke.
    bool handleSend(const std::string& payload, std::string& outcome);
    // The next complete request, reading from the channel as needed; nothing when the stream
    // ended or a record could not be parsed (then parser_.error() says why).
    std::optional<sync::Request> nextRequest();

    ByteChannel& channel_;
    sync::RequestParser parser_;
    const DeviceStorage& storage_;
    Logger log_;
};

}  // namespace orvan::sim
