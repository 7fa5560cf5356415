#include "network/WirelessAdbWifiCredentialError.h"

#include <string>

#include "platform/SecretStore.h"

namespace orvan {

WirelessAdbWifiCredentialError::WirelessAdbWifiCredentialError(int32_t status)
    : std::runtime_error("系统密钥环操作失败（" + secretStatusText(status).value_or("未知错误") + "）"),
      status_(status) {}

}  // namespace orvan
