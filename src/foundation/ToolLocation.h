#pragma once

#include <filesystem>

namespace orvan {

// Where the app's own copies of `adb`, `scrcpy` and `scrcpy-server` live: the resources folder,
// then "tools/linux-" + the machine architecture. The locations never change after creation.
struct ToolLocation {
    std::filesystem::path toolFolder;
    std::filesystem::path adb;
    std::filesystem::path scrcpy;

    static ToolLocation inToolFolder(const std::filesystem::path& folder);
    static ToolLocation forResources(const std::filesystem::path& resourcesFolder);
    // The running app's tool folder.
    static ToolLocation standard();

    std::filesystem::path scrcpyServer() const { return scrcpy.parent_path() / "scrcpy-server"; }

    // Throws MirrorError "缺少工具文件: " + the missing paths (adb first) when a tool is absent.
    // Any file-system entry counts as present; whether it runs is the launch's business.
    void checkTools() const;
};

}  // namespace orvan
