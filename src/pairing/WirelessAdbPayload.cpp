#include "pairing/WirelessAdbPayload.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "foundation/MirrorError.h"
#include "network/CompactJson.h"

namespace orvan {

std::string makeWirelessAdbPayload(const std::string& type, const std::string& sessionId,
                                   const std::string& callbackUrl, int port,
                                   const std::optional<WirelessAdbWifiProfile>& wifiProfile) {
    nlohmann::json payload = {{"T", type}, {"SID", sessionId}, {"U", callbackUrl}, {"PORT", port}};
    if (type == kEnableWirelessAdbPayload) {
        if (!wifiProfile) throw MirrorError::message("未取得当前 Wi-Fi 配置。");
        nlohmann::json wifi = {
            {"S", wifiProfile->ssid}, {"P", wifiProfile->password}, {"T", wifiProfile->securityType}};
        std::string security = wifiProfile->securityType;
        std::transform(security.begin(), security.end(), security.begin(),
                       [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
        if (security == "EAP") {
            wifi["I"] = wifiProfile->enterpriseIdentity;
            wifi["EAP"] = wifiProfile->eapMethod;
            wifi["PH2"] = wifiProfile->phase2Method;
        }
        payload["PERSIST"] = false;
        payload["WIFI"] = std::move(wifi);
    }
    auto text = compactJsonWithEscapedSlashes(payload);
    if (!text) throw MirrorError::message("二维码生成失败。");
    return *text;
}

}  // namespace orvan
