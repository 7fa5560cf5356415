#pragma once

#include <optional>
#include <string>

namespace orvan {

// Which adb server a command talks to: the developer's shared one (the adb default, 5037, also
// used by the IDE) or the app's own mirroring server on 127.0.0.1.
enum class AdbServerScope { sharedDevelopment, privateMirroring };

inline constexpr int kPrivateMirroringPort = 15037;

// The private server's port is fixed in the app and injected by tests.
std::optional<int> scopePort(AdbServerScope scope, int privatePort = kPrivateMirroringPort);
std::string scopeDisplayName(AdbServerScope scope, int privatePort = kPrivateMirroringPort);
// What scrcpy gets as ADB_SERVER_SOCKET: "tcp:127.0.0.1:<port>" for the private server.
std::optional<std::string> scopeScrcpyServerSocket(AdbServerScope scope, int privatePort = kPrivateMirroringPort);

}  // namespace orvan
