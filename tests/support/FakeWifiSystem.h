#pragma once

#include <mutex>

#include "platform/WifiSystem.h"

namespace orvan {

// A Wi-Fi whose answers the test sets; counts the name reads.
class FakeWifiSystem final : public WifiSystem {
public:
    void set(std::optional<std::string> ssid, std::optional<std::string> security = "WPA",
             std::vector<std::string> interfaces = {"wlan0"}) {
        std::lock_guard lock(mutex_);
        ssid_ = std::move(ssid);
        security_ = std::move(security);
        interfaces_ = std::move(interfaces);
    }
    int ssidReads() const {
        std::lock_guard lock(mutex_);
        return ssidReads_;
    }

    std::optional<std::string> currentSsid() override {
        std::lock_guard lock(mutex_);
        ++ssidReads_;
        return ssid_;
    }
    std::optional<std::string> currentSecurityType() override {
        std::lock_guard lock(mutex_);
        return security_;
    }
    std::vector<std::string> wifiInterfaceNames() override {
        std::lock_guard lock(mutex_);
        return interfaces_;
    }

private:
    mutable std::mutex mutex_;
    std::optional<std::string> ssid_;
    std::optional<std::string> security_ = "WPA";
    std::vector<std::string> interfaces_{"wlan0"};
    int ssidReads_ = 0;
};

}  // namespace orvan
