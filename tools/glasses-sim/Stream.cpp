#include "glasses-sim/Stream.h"

#include <utility>

#include "glasses-sim/AdbMessage.h"

namespace orvan::sim {

Stream::Stream(std::uint32_t localId, std::uint32_t remoteId, std::size_t maxPayload, Sender sender)
    : localId_(localId), remoteId_(remoteId), maxPayload_(maxPayload), send_(std::move(sender)) {}

void Stream::onHostWrite(std::string_view data) {
    bool ackNow = false;
    {
        std::lock_guard lock(mutex_);
        if (hostClosed_ || finished_) return;
        inbox_.append(data);
        // Acknowledge at once unless the service lags far behind; then the OKAY waits for its
        // next read, which holds the host back (a push cannot fill our memory).
        if (inbox_.size() <= kInboxLimit)
            ackNow = true;
        else
            okayOwed_ = true;
        changed_.notify_all();
    }
    if (ackNow) send_(kOkay, localId_, remoteId_, {});
}

void Stream::onHostOkay() {
    std::lock_guard lock(mutex_);
    peerReady_ = true;
    changed_.notify_all();
}

void Stream::onHostClose() {
    std::lock_guard lock(mutex_);
    hostClosed_ = true;
    changed_.notify_all();
}

bool Stream::closedByHost() const {
    std::lock_guard lock(mutex_);
    return hostClosed_;
}

bool Stream::read(std::string& out) {
    bool ack = false;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !inbox_.empty() || hostClosed_; });
        if (inbox_.empty()) return false;
        out.append(inbox_);
        inbox_.clear();
        ack = std::exchange(okayOwed_, false);
    }
    if (ack) send_(kOkay, localId_, remoteId_, {});
    return true;
}

bool Stream::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::string_view chunk = bytes.substr(0, maxPayload_);
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return peerReady_ || hostClosed_; });
            if (hostClosed_) return false;
            peerReady_ = false;
        }
        if (!send_(kWrte, localId_, remoteId_, chunk)) return false;
        bytes.remove_prefix(chunk.size());
    }
    return true;
}

bool Stream::sleepFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, duration, [&] { return hostClosed_; });
}

void Stream::waitForHostClose() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return hostClosed_; });
}

void Stream::finish() {
    {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        finished_ = true;
        if (hostClosed_) return;
    }
    send_(kClse, localId_, remoteId_, {});
}

}  // namespace orvan::sim
