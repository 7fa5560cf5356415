#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "glasses-sim/ByteChannel.h"

namespace orvan::sim {

// One ADB stream seen from the device: data from the host is buffered for the service's
// reads and acknowledged with OKAY; the service's writes go out as WRTEs, one at a time, each
// waiting for the host's OKAY.
class Stream : public ByteChannel {
public:
    // Sends one transport message (command, arg0, arg1, payload); false when the connection is gone.
    using Sender = std::function<bool(std::uint32_t, std::uint32_t, std::uint32_t, std::string_view)>;

    Stream(std::uint32_t localId, std::uint32_t remoteId, std::size_t maxPayload, Sender sender);

    std::uint32_t localId() const { return localId_; }
    std::uint32_t remoteId() const { return remoteId_; }

    // Called by the connection's reader.
    void onHostWrite(std::string_view data);
    void onHostOkay();
    // `connectionLost`: the whole connection ended rather than this stream being closed.
    void onHostClose(bool connectionLost = false);

    // ByteChannel, called by the service thread.
    bool read(std::string& out) override;
    bool write(std::string_view bytes) override;
    std::size_t maxWriteSize() const override { return maxPayload_; }

    // Waits up to `duration`; false if the host closed the stream meanwhile.
    bool sleepFor(std::chrono::milliseconds duration);
    // Waits until the host closes the stream (a command that never answers).
    void waitForHostClose();
    // The device ends the stream on its own (the service behind it went away): blocked reads,
    // writes and waits return as if the host had closed; finish() then sends the CLSE.
    void cancel();
    // Called once, from the connection's reader, when the host closes the stream (with
    // `connectionLost` as above).
    void setHostCloseListener(std::function<void(bool)> listener);
    // The service is done: send CLSE unless the host closed first (a CLSE is never answered).
    void finish();
    bool closedByHost() const;

private:
    static constexpr std::size_t kInboxLimit = 4 * 1024 * 1024;

    const std::uint32_t localId_;
    const std::uint32_t remoteId_;
    const std::size_t maxPayload_;
    Sender send_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string inbox_;
    bool hostClosed_ = false;
    bool cancelled_ = false;
    std::function<void(bool)> hostCloseListener_;
    bool connectionLost_ = false;
    bool finished_ = false;
    bool peerReady_ = true;  // the accepted OPEN counts as the host being ready for one WRTE
    bool okayOwed_ = false;
};

}  // namespace orvan::sim
