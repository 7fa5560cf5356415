#pragma once

#include <functional>
#include <mutex>

namespace orvan {

// Permission to read the Wi-Fi name. Linux has no such permission: its provider is always
// authorised and never calls back. The fake drives the other states for the flows built on it.
enum class LocationAuthorization { notDetermined, restricted, denied, authorizedAlways, authorizedWhenInUse };

inline bool isAuthorized(LocationAuthorization state) {
    return state == LocationAuthorization::authorizedAlways || state == LocationAuthorization::authorizedWhenInUse;
}

class LocationProvider {
public:
    virtual ~LocationProvider() = default;
    virtual LocationAuthorization authorization() = 0;
    // Asks for permission; the answer arrives through the change callback, if ever.
    virtual void requestWhenInUseAuthorization() = 0;
    virtual void setOnAuthorizationChange(std::function<void(LocationAuthorization)> callback) = 0;
};

class LinuxLocationProvider final : public LocationProvider {
public:
    LocationAuthorization authorization() override { return LocationAuthorization::authorizedAlways; }
    void requestWhenInUseAuthorization() override {}  // nothing to ask: already authorised
    void setOnAuthorizationChange(std::function<void(LocationAuthorization)>) override {}
};

class FakeLocationProvider final : public LocationProvider {
public:
    explicit FakeLocationProvider(LocationAuthorization state) : state_(state) {}
    // Moves to a state and tells the observer, as the system's change callback would.
    void change(LocationAuthorization state) {
        std::function<void(LocationAuthorization)> callback;
        {
            std::lock_guard lock(mutex_);
            state_ = state;
            callback = callback_;
        }
        if (callback) callback(state);
    }
    int requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    LocationAuthorization authorization() override {
        std::lock_guard lock(mutex_);
        return state_;
    }
    void requestWhenInUseAuthorization() override {
        std::lock_guard lock(mutex_);
        ++requests_;
    }
    void setOnAuthorizationChange(std::function<void(LocationAuthorization)> callback) override {
        std::lock_guard lock(mutex_);
        callback_ = std::move(callback);
    }

private:
    mutable std::mutex mutex_;
    LocationAuthorization state_;
    std::function<void(LocationAuthorization)> callback_;
    int requests_ = 0;
};

}  // namespace orvan
