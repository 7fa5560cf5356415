#pragma once

#include <optional>
#include <string>
#include <vector>

#include "adb/AdbServerScope.h"
#include "foundation/ToolLocation.h"
#include "mirror/ScrcpyVersion.h"
#include "platform/Process.h"

namespace orvan {

inline constexpr const char* kGlassShellWindowTitle = "Orvan Glass Shell";

// What one mirror window needs to know to be launched.
struct ScrcpyLaunchRequest {
    std::string target;
    bool glassShell = false;
    bool audioForwarding = true;
    AdbServerScope serverScope = AdbServerScope::sharedDevelopment;
    // The client's version: decides the options it is given (none: a current client).
    std::optional<ScrcpyVersion> clientVersion = std::nullopt;
};

// The identity of the glasses when the caller names none.
std::string defaultMirrorIdentity(const std::string& target);

std::vector<std::string> scrcpyArguments(const ScrcpyLaunchRequest& request);

// How scrcpy is run: from its own folder, with our adb first on PATH, the server socket of the
// chosen adb server (or none, so that an inherited one cannot redirect it to the wrong server),
// the device-side server file beside its real path when there is one, and its output on a
// terminal (a client flushes its log per line only there). `adb` is the client scrcpy
// talks to that server with (ADB): ours, unless the shared server belongs to another adb version
// that a client of ours would kill. `inheritedPath` is this process's PATH, if any.
ProcessSpec scrcpyProcessSpec(const ToolLocation& tools, int privatePort, const ScrcpyLaunchRequest& request,
                              const std::optional<std::string>& inheritedPath,
                              const std::optional<std::filesystem::path>& adb = std::nullopt);

}  // namespace orvan
