#include "adb/AdbServerScope.h"

namespace orvan {

std::optional<int> scopePort(AdbServerScope scope, int privatePort) {
    if (scope == AdbServerScope::privateMirroring) return privatePort;
    return std::nullopt;
}

std::string scopeDisplayName(AdbServerScope scope, int privatePort) {
    if (scope == AdbServerScope::privateMirroring) return "投屏专用 " + std::to_string(privatePort);
    return "共享 5037";
}

std::optional<std::string> scopeScrcpyServerSocket(AdbServerScope scope, int privatePort) {
    if (scope == AdbServerScope::privateMirroring) return "tcp:127.0.0.1:" + std::to_string(privatePort);
    return std::nullopt;
}

}  // namespace orvan
