#pragma once

#include "platform/Clock.h"
#include "platform/SecretStore.h"

namespace orvan {

// The secret store over the desktop's Secret Service (GNOME Keyring, KWallet, ...) through
// libsecret's item API. It never calls the convenience password functions nor any unlocking call,
// which would show a prompt; a locked item or collection reads as interactionNotAllowed instead.
// Each call ends after `timeout` at the latest (the D-Bus default would be 25 s), so a stalled
// service cannot hang the caller. Not meant for concurrent calls: the caller serialises them.
class LibsecretSecretStore final : public SecretStore {
public:
    explicit LibsecretSecretStore(Seconds timeout = Seconds(5.0)) : timeout_(timeout) {}

    SecretLookup find(const std::string& service, const std::string& account) override;
    int32_t save(const std::string& service, const std::string& account, const std::string& label,
                 const std::string& data) override;
    int32_t remove(const std::string& service, const std::string& account) override;

private:
    Seconds timeout_;
};

}  // namespace orvan
