#pragma once

#include <cstdint>
#include <stdexcept>

namespace orvan {

// A secret-store operation that failed, with the store's result code (platform/SecretStore.h).
// what() is the user-facing text: "系统密钥环操作失败（" + the code's text + "）".
class WirelessAdbWifiCredentialError : public std::runtime_error {
public:
    explicit WirelessAdbWifiCredentialError(int32_t status);
    int32_t status() const { return status_; }

private:
    int32_t status_;
};

}  // namespace orvan
