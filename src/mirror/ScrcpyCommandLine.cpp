#include "mirror/ScrcpyCommandLine.h"

#include <system_error>

#include "foundation/Text.h"

namespace orvan {

std::string defaultMirrorIdentity(const std::string& target) {
    return "target:" + text::lowercased(target);
}

std::vector<std::string> scrcpyArguments(const ScrcpyLaunchRequest& request) {
    std::vector<std::string> arguments{"-s", request.target};
    const bool knowsAudio = !request.clientVersion || request.clientVersion->hasAudioForwarding();
    if (!request.audioForwarding && knowsAudio) arguments.push_back("--no-audio");
    if (request.glassShell) {
        arguments.insert(arguments.end(), {"--window-title", kGlassShellWindowTitle, "--window-width=720",
                                           "--window-height=720", "--window-borderless", "--always-on-top"});
    }
    return arguments;
}

ProcessSpec scrcpyProcessSpec(const ToolLocation& tools, int privatePort, const ScrcpyLaunchRequest& request,
                              const std::optional<std::string>& inheritedPath,
                              const std::optional<std::filesystem::path>& adb) {
    std::string folder = tools.scrcpy.parent_path().string();
    ProcessSpec spec;
    spec.executable = tools.scrcpy.string();
    spec.arguments = scrcpyArguments(request);
    spec.workingDirectory = folder;
    spec.outputOnTerminal = true;
    spec.environmentChanges["ADB"] = adb.value_or(tools.adb).string();
    spec.environmentChanges["PATH"] = folder + ":" + inheritedPath.value_or("");
    spec.environmentChanges["ADB_SERVER_SOCKET"] = scopeScrcpyServerSocket(request.serverScope, privatePort);
    std::error_code error;
    if (std::filesystem::exists(tools.scrcpyServer(), error))
        spec.environmentChanges["SCRCPY_SERVER_PATH"] = tools.scrcpyServer().string();
    return spec;
}

}  // namespace orvan
