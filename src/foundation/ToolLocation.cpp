#include "foundation/ToolLocation.h"

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "platform/Paths.h"

namespace orvan {
namespace fs = std::filesystem;

ToolLocation ToolLocation::inToolFolder(const fs::path& folder) {
    return ToolLocation{folder, folder / "adb", folder / "scrcpy", {}};
}

ToolLocation ToolLocation::forResources(const fs::path& resourcesFolder) {
    return inToolFolder(resourcesFolder / "tools" / ("linux-" + paths::machineArchitecture()));
}

namespace {

bool isExecutableFile(const fs::path& file) {
    std::error_code error;
    return fs::is_regular_file(file, error) && access(file.c_str(), X_OK) == 0;
}

}  // namespace

ToolLocation ToolLocation::lookUp(const Search& search) {
    ToolLocation tools;
    for (const std::string& sdk : {search.androidHome, search.androidSdkRoot})
        if (!sdk.empty()) tools.searchedFolders.push_back(fs::path(sdk) / "platform-tools");
    for (const auto& folder : text::splitFields(search.path, ":")) tools.searchedFolders.emplace_back(folder);
    for (auto [name, found] : {std::pair{"adb", &tools.adb}, std::pair{"scrcpy", &tools.scrcpy}}) {
        for (const auto& folder : tools.searchedFolders) {
            if (isExecutableFile(folder / name)) {
                *found = folder / name;
                break;
            }
        }
    }
    tools.toolFolder = tools.adb.parent_path();
    return tools;
}

ToolLocation ToolLocation::standard() {
    // Only a build folder has a CMake cache beside the folder of the executable.
    std::error_code error;
    fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error && fs::exists(executable.parent_path().parent_path() / "CMakeCache.txt", error))
        return forResources(paths::resourcesFolder());
    auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    return lookUp({variable("ANDROID_HOME"), variable("ANDROID_SDK_ROOT"), variable("PATH")});
}

fs::path ToolLocation::scrcpyServer() const {
    std::error_code error;
    fs::path real = fs::canonical(scrcpy, error);
    return (error ? scrcpy : real).parent_path() / "scrcpy-server";
}

namespace {

void checkPresent(const ToolLocation& tools, bool withScrcpy) {
    std::vector<std::string> missing;
    std::string hints;
    const auto& searchedFolders = tools.searchedFolders;
    std::vector<std::pair<const fs::path*, const char*>> wanted{{&tools.adb, "adb"}};
    if (withScrcpy) wanted.emplace_back(&tools.scrcpy, "scrcpy");
    for (auto [tool, name] : wanted) {
        std::error_code error;
        // The tool folder holds links to the system's tools: a link whose target is gone is as
        // missing as no entry at all.
        if (!tool->empty() && fs::exists(*tool, error)) continue;
        missing.push_back(tool->empty() ? name : tool->string());
        if (searchedFolders.empty()) continue;
        hints += std::string(name) == "adb"
                     ? "adb 可通过 sudo apt install adb 安装，或安装 Android SDK Platform-Tools 并设置 ANDROID_HOME。"
                     : std::string("scrcpy: ") + kScrcpyInstallHint;
    }
    if (missing.empty()) return;
    std::string message = "缺少工具文件: " + text::joined(missing, ", ");
    if (!searchedFolders.empty()) {
        std::vector<std::string> folders(searchedFolders.begin(), searchedFolders.end());
        message += "。已查找: " + text::joined(folders, "、") + "。" + hints;
    }
    throw MirrorError::of(MirrorError::Kind::toolMissing, message);
}

}  // namespace

void ToolLocation::checkTools() const {
    checkPresent(*this, true);
}

void ToolLocation::checkAdb() const {
    checkPresent(*this, false);
}

}  // namespace orvan
