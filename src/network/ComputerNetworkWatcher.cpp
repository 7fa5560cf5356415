#include "network/ComputerNetworkWatcher.h"

#include "platform/Dispatch.h"

namespace orvan {
namespace {

constexpr Seconds kCheckInterval{2.0};
constexpr Seconds kWifiNameLifetime{5.0};

bool olderThan(const std::optional<SteadyTime>& time, SteadyTime now, Seconds age) {
    return !time || now - *time >= std::chrono::duration_cast<std::chrono::steady_clock::duration>(age);
}

}  // namespace

ComputerNetworkWatcher::ComputerNetworkWatcher(Sources sources, Hooks hooks, Clock& clock)
    : sources_(std::move(sources)), hooks_(std::move(hooks)), clock_(clock) {}

std::string ComputerNetworkWatcher::identityText(const std::optional<std::string>& wifiName,
                                                 const std::optional<LanInterfaceAddress>& lan) {
    std::string name = wifiName && !wifiName->empty() ? *wifiName : "-";
    if (!lan) return name + "|-|-";
    return name + "|" + lan->interfaceName + "|" + lan->address;
}

void ComputerNetworkWatcher::checkIfNeeded(bool setBaselineOnly) {
    if (checkInProgress_) return;
    auto now = clock_.now();
    if (!setBaselineOnly && !olderThan(lastCheck_, now, kCheckInterval)) return;
    checkInProgress_ = true;
    lastCheck_ = now;
    std::weak_ptr<ComputerNetworkWatcher> weak = weak_from_this();
    auto sources = sources_;
    Dispatch::async(
        [weak, sources, setBaselineOnly] {
            auto name = sources.wifiName();
            auto lan = sources.lanAddress();
            Dispatch::main().post([weak, name, lan, setBaselineOnly] {
                // A watcher that is gone stays "in progress": no further checks.
                if (auto self = weak.lock()) self->apply(name, lan, setBaselineOnly);
            });
        },
        QualityOfService::utility);
}

void ComputerNetworkWatcher::apply(const std::optional<std::string>& wifiName,
                                   const std::optional<LanInterfaceAddress>& lan, bool setBaselineOnly) {
    checkInProgress_ = false;
    lastWifiRefresh_ = clock_.now();
    // A name read that failed (a Wi-Fi tool that timed out) on an unchanged interface and address
    // says nothing about the network: keep the last identity rather than report a change to "-".
    bool nameUnknown = !wifiName || wifiName->empty();
    const bool sameLan = lastLan_ && *lastLan_ == lan;
    if (nameUnknown && lastIdentity_ && sameLan) return;
    // Likewise a name read at last on an unchanged interface and address (the first read at launch
    // failed): the network is the same, only now it has a name.
    const bool nameFilledIn = !nameUnknown && sameLan && lastIdentity_ && lastIdentity_->starts_with("-|");

    auto previous = lastIdentity_;
    lastIdentity_ = identityText(wifiName, lan);
    lastLan_ = lan;
    cachedWifiName_ = nameUnknown ? "-" : *wifiName;
    if (hooks_.showWifiName) hooks_.showWifiName(cachedWifiName_);
    if (setBaselineOnly || nameFilledIn || !previous || *previous == *lastIdentity_) return;
    if (hooks_.log) hooks_.log(kChangeLogLine);
    if (hooks_.networkChanged) hooks_.networkChanged();
}

std::string ComputerNetworkWatcher::cachedWifiName() {
    auto now = clock_.now();
    if (refreshInProgress_ || !olderThan(lastWifiRefresh_, now, kWifiNameLifetime)) return cachedWifiName_;
    lastWifiRefresh_ = now;
    refreshInProgress_ = true;
    std::weak_ptr<ComputerNetworkWatcher> weak = weak_from_this();
    auto read = sources_.wifiName;
    Dispatch::async(
        [weak, read] {
            auto name = read();
            Dispatch::main().post([weak, name] {
                auto self = weak.lock();
                if (!self) return;
                self->refreshInProgress_ = false;
                self->cachedWifiName_ = name && !name->empty() ? *name : "-";
                if (self->hooks_.showWifiName) self->hooks_.showWifiName(self->cachedWifiName_);
            });
        },
        QualityOfService::utility);
    return cachedWifiName_;
}

}  // namespace orvan
