#pragma once

#include <filesystem>
#include <string>

namespace orvan {

// The per-user folders (XDG base directories) and the app's installed resources.
// A relative or empty XDG value is ignored, as the XDG rules say (Qt 6.4 does not).
namespace paths {

std::filesystem::path home();
std::filesystem::path stateHome();  // $XDG_STATE_HOME or ~/.local/state
std::filesystem::path dataHome();   // $XDG_DATA_HOME or ~/.local/share
std::filesystem::path cacheHome();  // $XDG_CACHE_HOME or ~/.cache

inline constexpr const char* kAppFolderName = "OrvanMirror";
std::filesystem::path appStateFolder();  // logs
std::filesystem::path appDataFolder();   // recent devices
std::filesystem::path appCacheFolder();  // previews

// <bindir>/../share/orvan-mirror of the running (built or installed) executable when it
// exists, else the current working directory.
std::filesystem::path resourcesFolder();
// The machine architecture as `uname -m` prints it (x86_64, aarch64, ...).
std::string machineArchitecture();

}  // namespace paths
}  // namespace orvan
