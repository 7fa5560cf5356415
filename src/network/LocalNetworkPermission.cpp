#include "network/LocalNetworkPermission.h"

#include "platform/Dispatch.h"

namespace orvan {

LocalNetworkPermission::LocalNetworkPermission(LocationProvider& location, Hooks hooks)
    : location_(location), hooks_(std::move(hooks)) {}

void LocalNetworkPermission::requestInitialAfterLocation() {
    if (hasRequestedInitial_) return;
    // Two system prompts never overlap: the location answer comes first (never pending on Linux).
    if (location_.authorization() == LocationAuthorization::notDetermined) {
        hooks_.log(kWaitingForLocationLine);
        return;
    }
    hasRequestedInitial_ = true;
    // At once rather than after a pause: there is no prompt here to keep apart from another.
    hooks_.log(kRequestingLine);
    requestRegistration();
}

void LocalNetworkPermission::requestRegistration() {
    hooks_.setConfirmed(true);
    hooks_.log(kReadyLine);
}

void LocalNetworkPermission::openPrivacySettings() {
    requestRegistration();
    std::weak_ptr<LocalNetworkPermission> weak = weak_from_this();
    Dispatch::main().postAfter(Seconds(1.0), [weak] {
        if (auto self = weak.lock()) self->navigateToPrivacySettings();
    });
}

void LocalNetworkPermission::navigateToPrivacySettings() {
    // Linux has no settings page for a permission it does not have: nothing to open.
    hooks_.log(kManualPathLine);
}

}  // namespace orvan
