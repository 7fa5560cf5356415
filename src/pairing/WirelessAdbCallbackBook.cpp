#include "pairing/WirelessAdbCallbackBook.h"

#include "foundation/Text.h"

namespace orvan {

namespace {

template <typename Container, typename Predicate>
bool eraseWhere(Container& container, Predicate predicate) {
    return std::erase_if(container, predicate) > 0;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::string WirelessAdbCallbackBook::callbackConsumptionKey(const std::string& sessionId,
                                                            const std::optional<std::string>& target) {
    return sessionId + "|" + (target ? text::lowercased(*target) : std::string("missing"));
}

void WirelessAdbCallbackBook::changeSession(const std::string& sessionId) {
    std::lock_guard lock(mutex_);
    activeSessionId_ = sessionId;
    pending_.clear();
    consumed_.clear();
    connected_.clear();
    statuses_.clear();
}

std::string WirelessAdbCallbackBook::activeSessionId() const {
    std::lock_guard lock(mutex_);
    return activeSessionId_;
}

bool WirelessAdbCallbackBook::isActiveSession(const std::string& sessionId) const {
    std::lock_guard lock(mutex_);
    return activeSessionId_ == sessionId;
}

void WirelessAdbCallbackBook::changeDisableSession(const std::string& sessionId) {
    std::lock_guard lock(mutex_);
    disableSessionId_ = sessionId;
}

bool WirelessAdbCallbackBook::isCurrentDisableSession(const std::string& sessionId) const {
    std::lock_guard lock(mutex_);
    return !disableSessionId_ || *disableSessionId_ == sessionId;
}

WirelessAdbCallbackBook::AckState WirelessAdbCallbackBook::ackState(const std::string& key) const {
    std::lock_guard lock(mutex_);
    AckState state;
    state.connected = connected_.contains(key);
    if (auto found = statuses_.find(key); found != statuses_.end()) state.mirrorStatus = found->second;
    return state;
}

WirelessAdbCallbackBook::Admission WirelessAdbCallbackBook::admitReady(const std::string& sessionId,
                                                                       const std::string& key, bool alreadyMirroring) {
    std::lock_guard lock(mutex_);
    Admission admission;
    // A late worker of a replaced session must not touch the new session's keys.
    if (activeSessionId_ != sessionId) {
        admission.sessionActive = false;
        return admission;
    }
    if (alreadyMirroring) {
        statuses_[key] = "RUNNING";
        return admission;
    }
    const std::string prefix = sessionId + "|";
    auto otherSession = [&](const std::string& k) { return !k.starts_with(prefix); };
    eraseWhere(pending_, otherSession);
    eraseWhere(consumed_, otherSession);
    eraseWhere(connected_, otherSession);
    eraseWhere(statuses_, [&](const auto& entry) { return otherSession(entry.first); });

    if (!pending_.contains(key) && consumed_.contains(key)) {
        // Not pending but consumed: either the mirror it announced is not running (stale), or the
        // last attempt failed. Both may be tried again: the glasses only repeat READY when the
        // user scans again after seeing the failure.
        auto status = statuses_.find(key);
        admission.staleCleared = status == statuses_.end() || status->second != "FAILED";
        consumed_.erase(key);
        connected_.erase(key);
        statuses_.erase(key);
    }
    if (pending_.contains(key) || consumed_.contains(key)) return admission;
    pending_.insert(key);
    consumed_.insert(key);
    statuses_[key] = "STARTING";
    admission.process = true;
    return admission;
}

void WirelessAdbCallbackBook::setMirrorStatus(const std::string& key, const std::string& status) {
    std::lock_guard lock(mutex_);
    statuses_[key] = status;
}

void WirelessAdbCallbackBook::markConnected(const std::string& key) {
    std::lock_guard lock(mutex_);
    connected_.insert(key);
}

void WirelessAdbCallbackBook::markRunning(const std::string& key) {
    std::lock_guard lock(mutex_);
    pending_.erase(key);
    consumed_.insert(key);
}

bool WirelessAdbCallbackBook::releaseAfterFailure(const std::string& key, bool forget) {
    std::lock_guard lock(mutex_);
    bool removed = pending_.erase(key) > 0;
    removed = connected_.erase(key) > 0 || removed;
    if (forget) {
        removed = consumed_.erase(key) > 0 || removed;
        removed = statuses_.erase(key) > 0 || removed;
    }
    return removed;
}

bool WirelessAdbCallbackBook::releaseTarget(const std::string& target) {
    const std::string suffix = "|" + text::lowercased(target);
    auto matches = [&](const std::string& k) { return endsWith(k, suffix); };
    std::lock_guard lock(mutex_);
    bool removed = eraseWhere(pending_, matches);
    removed = eraseWhere(consumed_, matches) || removed;
    removed = eraseWhere(connected_, matches) || removed;
    removed = eraseWhere(statuses_, [&](const auto& entry) { return matches(entry.first); }) || removed;
    return removed;
}

}  // namespace orvan
