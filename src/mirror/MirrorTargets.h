#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace orvan {

// Which wireless target mirrors which device (a USB serial maps to the address:5555 target made
// for it, a wireless serial to itself, a recent device to its reconnected target), and the
// device chosen last. Written by the start and stop paths on background threads and read by the
// mirroring queries; hence the lock, held only for each short access.
class MirrorTargets {
public:
    void setMirrorTarget(const std::string& source, const std::string& target) {
        std::lock_guard guard(mutex_);
        mirrorTargetsBySource_[source] = target;
    }
    std::optional<std::string> mirrorTarget(const std::string& source) const {
        std::lock_guard guard(mutex_);
        auto found = mirrorTargetsBySource_.find(source);
        if (found == mirrorTargetsBySource_.end()) return std::nullopt;
        return found->second;
    }
    void removeMirrorTarget(const std::string& source) {
        std::lock_guard guard(mutex_);
        mirrorTargetsBySource_.erase(source);
    }
    void removeAllMirrorTargets() {
        std::lock_guard guard(mutex_);
        mirrorTargetsBySource_.clear();
    }
    std::map<std::string, std::string> mirrorTargetsBySource() const {
        std::lock_guard guard(mutex_);
        return mirrorTargetsBySource_;
    }

    void setPreferredDeviceSerial(std::optional<std::string> serial) {
        std::lock_guard guard(mutex_);
        preferredDeviceSerial_ = std::move(serial);
    }
    std::optional<std::string> preferredDeviceSerial() const {
        std::lock_guard guard(mutex_);
        return preferredDeviceSerial_;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> mirrorTargetsBySource_;
    std::optional<std::string> preferredDeviceSerial_;
};

}  // namespace orvan
