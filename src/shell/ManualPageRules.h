#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "adb/ConnectedAdbDevice.h"

namespace orvan {

// The values of the page's status rows.
struct StatusRows {
    std::string adb, model, deviceId, computerWifi, ip, status;
    bool operator==(const StatusRows&) const = default;
};

StatusRows statusRowsFor(const std::optional<ConnectedAdbDevice>& selected, bool mirroring, const std::string& computerWifiName);

// The mirrors the page shows as running, one per pair of glasses, keyed by display device id
// (or display name when the glasses have no id).
class ActiveMirrors {
public:
    // Replaces any entry of the same glasses.
    void registerMirror(const ConnectedAdbDevice& device);
    void remove(const std::string& key);
    // Keeps only the mirrors for which `stillRunning` holds.
    template <typename Predicate>
    void retain(Predicate stillRunning) {
        std::erase_if(devices_, [&](const auto& entry) { return !stillRunning(entry.second); });
    }
    bool contains(const ConnectedAdbDevice& device) const;
    std::optional<std::string> keyOf(const ConnectedAdbDevice& device) const;
    size_t size() const { return devices_.size(); }
    bool empty() const { return devices_.empty(); }
    const std::map<std::string, ConnectedAdbDevice>& devices() const { return devices_; }

    static std::string keyFor(const ConnectedAdbDevice& device);
    // Display device id, else model, else address, else serial.
    static std::string displayName(const ConnectedAdbDevice& device);

private:
    std::map<std::string, ConnectedAdbDevice> devices_;
};

// The device an action applies to: the selection when it is connected; else the first connected
// device detected (`switched` tells the page to select it and log the switch); else the
// selection itself, connected or not.
struct ActionDevice {
    std::optional<ConnectedAdbDevice> device;
    bool switched = false;
};
ActionDevice currentConnectedDeviceForAction(const std::optional<ConnectedAdbDevice>& selected,
                                             const std::vector<ConnectedAdbDevice>& detected);

// Which glasses an export reads from, and what the export button says.
struct ExportTarget {
    std::optional<ConnectedAdbDevice> device;
    std::string tooltip;
    std::string unavailableMessage;  // the error when the user exports without a target
};
ExportTarget mediaExportTargetDevice(const std::optional<ConnectedAdbDevice>& selected, const ActiveMirrors& mirrors,
                                     const std::vector<ConnectedAdbDevice>& detected);

// The audio checkbox: the service's switch unless mirrors run, which lock it.
struct AudioToggleOutcome {
    bool accepted = false;
    bool value = false;       // what the checkbox and the service show afterwards
    std::string logMessage;   // when accepted
    std::string alertMessage; // when refused
};
AudioToggleOutcome audioForwardingChanged(bool requested, bool current, bool mirrorsRunning);
std::string audioTooltip(bool mirrorsRunning);

}  // namespace orvan
