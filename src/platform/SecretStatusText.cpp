#include "platform/SecretStore.h"

namespace orvan {

std::optional<std::string> secretStatusText(int32_t status) {
    switch (status) {
        case secret_status::success:
            return "操作成功";
        case secret_status::serviceUnavailable:
            return "没有可用的密钥环服务";
        case secret_status::timedOut:
            return "密钥环服务响应超时";
        case secret_status::failed:
            return "密钥环服务返回了错误";
        case secret_status::itemNotFound:
            return "在密钥环中找不到指定的项目";
        case secret_status::interactionNotAllowed:
            return "密钥环已锁定，且不允许用户交互";
        case secret_status::decodeFailed:
            return "无法解码所提供的数据";
        default:
            return std::nullopt;
    }
}

}  // namespace orvan
