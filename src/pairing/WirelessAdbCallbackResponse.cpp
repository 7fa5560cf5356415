#include "pairing/WirelessAdbCallbackResponse.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace orvan {

std::string WirelessAdbCallbackResponse::jsonBody() const {
    nlohmann::json object = {{"ok", true},
                             {"alreadyMirroring", alreadyMirroring},
                             {"adbAckSupported", adbAckSupported},
                             {"adbConnected", adbConnected},
                             {"mirrorAckSupported", mirrorAckSupported},
                             {"mirrorStatus", mirrorStatus}};
    if (adbPublicKey && !adbPublicKey->empty()) object["adbPublicKey"] = *adbPublicKey;
    if (sessionId && !sessionId->empty()) object["sessionId"] = *sessionId;
    try {
        return object.dump();
    } catch (const nlohmann::json::exception&) {
        return R"({"ok":true,"alreadyMirroring":false})";  // a string that is not UTF-8
    }
}

WirelessAdbFailureText wirelessAdbFailureText(const std::optional<std::string>& errorCode) {
    static const std::string kLifeEdition =
        "\n如果使用生活版眼镜，请在手机 Orvan AI App 的“开发者”页面确认“眼镜 ADB 调试”已开启。";
    std::string code = errorCode.value_or("");
    std::transform(code.begin(), code.end(), code.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c); });
    if (code == "ADB_PORT_ENABLE_FAILED") return {"无线 ADB 启动超时，请重新扫码。" + kLifeEdition, false};
    if (code == "WIFI_IP_UNAVAILABLE") return {"眼镜尚未获得 WiFi IPv4 地址，请确认 WiFi 已连接后重新扫码。", false};
    if (code == "ADB_PROPERTY_WRITE_FAILED") {
        return {"眼镜未能应用无线 ADB 端口设置，请重新扫码；仍失败请查看日志。" + kLifeEdition, false};
    }
    if (code == "ADB_SETTING_ENABLE_FAILED")
        return {"眼镜未能开启 ADB 调试设置，请检查系统授权。" + kLifeEdition, true};
    if (code == "ADB_PERMISSION_DENIED") {
        return {"扫码投屏应用缺少无线 ADB 系统授权，请安装对应系统的平台授权版本。" + kLifeEdition, true};
    }
    if (code == "UNSUPPORTED_SYSTEM_VERSION") return {"眼镜端系统版本过低，请升级或使用手动连接。", true};
    return {"眼镜未能开启无线 ADB，请重新扫码并查看日志。" + kLifeEdition, false};
}

}  // namespace orvan
