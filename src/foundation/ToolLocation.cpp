#include "foundation/ToolLocation.h"

#include <string>
#include <system_error>
#include <vector>

#include "foundation/MirrorError.h"
#include "foundation/Text.h"
#include "platform/Paths.h"

namespace orvan {
namespace fs = std::filesystem;

ToolLocation ToolLocation::inToolFolder(const fs::path& folder) { return ToolLocation{folder, folder / "adb", folder / "scrcpy"}; }

ToolLocation ToolLocation::forResources(const fs::path& resourcesFolder) {
    return inToolFolder(resourcesFolder / "tools" / ("linux-" + paths::machineArchitecture()));
}

ToolLocation ToolLocation::standard() { return forResources(paths::resourcesFolder()); }

void ToolLocation::checkTools() const {
    std::vector<std::string> missing;
    for (const fs::path& tool : {adb, scrcpy}) {
        std::error_code error;
        // The tool folder holds links to the system's tools: a link whose target is gone is as
        // missing as no entry at all.
        if (!fs::exists(tool, error)) missing.push_back(tool.string());
    }
    if (!missing.empty()) throw MirrorError::message("缺少工具文件: " + text::joined(missing, ", "));
}

}  // namespace orvan
