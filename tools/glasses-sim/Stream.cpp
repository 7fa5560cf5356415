#include "glasses-sim/Stream.h"

#include <functional>
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

void Stream::onHostClose(bool connectionLost) {
    std::function<void(bool)> listener;
    {
        std::lock_guard lock(mutex_);
        if (hostClosed_) return;
        hostClosed_ = true;
        connectionLost_ = connectionLost;
        listener = std::move(hostCloseListener_);
        changed_.notify_all();
    }
    if (listener) listener(connectionLost);
}

void Stream::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
}

void Stream::setHostCloseListener(std::function<void(bool)> listener) {
    bool lost;
    {
        std::lock_guard lock(mutex_);
        if (!hostClosed_) {
            hostCloseListener_ = std::move(listener);
            return;
        }
        lost = connectionLost_;
    }
    listener(lost);  // closed before anyone listened
}

bool Stream::closedByHost() const {
    std::lock_guard lock(mutex_);
    return hostClosed_;
}

bool Stream::read(std::string& out) {
    bool ack = false;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !inbox_.empty() || hostClosed_ || cancelled_; });
        if (inbox_.empty() || cancelled_) return false;
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
            changed_.wait(lock, [&] { return peerReady_ || hostClosed_ || cancelled_; });
            if (hostClosed_ || cancelled_) return false;
            peerReady_ = false;
        }
        if (!send_(kWrte, localId_, remoteId_, chunk)) return false;
        bytes.remove_prefix(chunk.size());
    }
    return true;
}

bool Stream::sleepFor(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, duration, [&] { return hostClosed_ || cancelled_; });
}

void Stream::waitForHostClose() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return hostClosed_ || cancelled_; });
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
