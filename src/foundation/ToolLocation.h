#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orvan {

// Where the app finds `adb`, `scrcpy` and `scrcpy-server`. Run from its build folder, the app uses
// the build's tool folder: the resources folder, then "tools/linux-" + the machine architecture
// (scripts/setup fills it). Installed, it looks where a Linux user keeps them: the Android SDK's
// platform-tools, then PATH. The locations never change after creation.
struct ToolLocation {
    std::filesystem::path toolFolder;
    std::filesystem::path adb;     // empty when the lookup found none
    std::filesystem::path scrcpy;  // empty when the lookup found none
    // The folders the lookup searched, in order; empty for a tool folder.
    std::vector<std::filesystem::path> searchedFolders = {};

    // What the installed app's lookup reads from its environment.
    struct Search {
        std::string androidHome;     // $ANDROID_HOME
        std::string androidSdkRoot;  // $ANDROID_SDK_ROOT
        std::string path;            // $PATH
    };

    static ToolLocation inToolFolder(const std::filesystem::path& folder);
    static ToolLocation forResources(const std::filesystem::path& resourcesFolder);
    // Each tool: the first executable file in the SDK's platform-tools, then in PATH.
    static ToolLocation lookUp(const Search& search);
    // The build's tool folder when the app runs from its build folder, else the lookup.
    static ToolLocation standard();

    std::filesystem::path scrcpyServer() const { return scrcpy.parent_path() / "scrcpy-server"; }

    // Throws MirrorError "缺少工具文件: " + the missing paths (adb first) when a tool is absent.
    // Any file-system entry counts as present; whether it runs is the launch's business. After a
    // lookup the message names the tools, where they were looked for and how to get them.
    void checkTools() const;
};

}  // namespace orvan
