#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace orvan {

// The per-session bookkeeping that makes a READY act once and that acknowledgement queries
// report: pending, consumed and connected callback keys, the mirror status per key and the
// active session id. Every operation takes the one lock for a short read or update only; none
// runs a command, waits or calls out while holding it.
class WirelessAdbCallbackBook {
public:
    // What a READY that passed the checks may do.
    struct Admission {
        bool sessionActive = true;  // false: the session changed before the decision; nothing changed
        bool process = false;
        bool staleCleared = false;  // a placeholder whose mirror is not running was cleared
    };
    struct AckState {
        bool connected = false;
        std::string mirrorStatus = "STARTING";
    };

    // The callback key: session id, "|", then the lower-cased "ip:port" (or "missing").
    static std::string callbackConsumptionKey(const std::string& sessionId, const std::optional<std::string>& target);

    // A new enable code: the new id, and every key of the old session forgotten.
    void changeSession(const std::string& sessionId);
    std::string activeSessionId() const;
    bool isActiveSession(const std::string& sessionId) const;
    // The session of the disable code on show. Until one is told, every disable session counts
    // as current (the disable processing checks it again).
    void changeDisableSession(const std::string& sessionId);
    bool isCurrentDisableSession(const std::string& sessionId) const;

    AckState ackState(const std::string& key) const;
    // The decision for a usable READY of `sessionId`. The session is checked again here, because
    // it may have changed since the caller's check while isMirroring ran.
    Admission admitReady(const std::string& sessionId, const std::string& key, bool alreadyMirroring);

    void setMirrorStatus(const std::string& key, const std::string& status);
    void markConnected(const std::string& key);
    // After a verified start: no longer pending, consumed.
    void markRunning(const std::string& key);
    // After a failed task: pending and connected marks go; with `forget` (the user closed the
    // window) also consumed and the status. Returns whether anything was removed.
    bool releaseAfterFailure(const std::string& key, bool forget);
    // Every key of this target ("|" + lower-cased target at its end), in any set or the map.
    bool releaseTarget(const std::string& target);

private:
    mutable std::mutex mutex_;
    std::set<std::string> pending_;
    std::set<std::string> consumed_;
    std::set<std::string> connected_;
    std::map<std::string, std::string> statuses_;
    std::string activeSessionId_;
    std::optional<std::string> disableSessionId_;
};

}  // namespace orvan
