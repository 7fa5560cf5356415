#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orvan {

// What every text about getting scrcpy says: Debian 12 packages none.
inline constexpr const char* kScrcpyInstallHint =
    "Debian 12 没有 scrcpy 软件包：请从 scrcpy 项目的发布页下载 Linux (x86_64) 版本，或安装发行版提供的 scrcpy。";

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

    // The device-side server that belongs to this client: the file beside the real path of
    // `scrcpy` (its own build or release archive). A link elsewhere to some other scrcpy-server
    // would mismatch; a distribution's client finds its own.
    std::filesystem::path scrcpyServer() const;

    // Throws MirrorError (kind toolMissing) "缺少工具文件: " + the missing paths (adb first) when
    // a tool is absent. Any file-system entry counts as present; whether it runs is the launch's
    // business. After a lookup the message names the tools, where they were looked for and how to
    // get them. Mirror starts check both tools; checkAdb serves everything that only runs adb
    // (detection, the private server, connecting, media export), which works without scrcpy.
    void checkTools() const;
    void checkAdb() const;
};

}  // namespace orvan
