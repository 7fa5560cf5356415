#include "platform/Paths.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#ifndef ORVAN_BIN_TO_DATA
#define ORVAN_BIN_TO_DATA "../share/orvan-mirror"
#endif

namespace orvan::paths {
namespace fs = std::filesystem;

namespace {

fs::path xdgFolder(const char* variable, const char* fallbackBelowHome) {
    const char* value = std::getenv(variable);
    if (value && *value && fs::path(value).is_absolute()) return fs::path(value);
    return home() / fallbackBelowHome;
}

}  // namespace

fs::path home() {
    const char* value = std::getenv("HOME");
    if (value && *value) return fs::path(value);
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return fs::path(entry->pw_dir);
    return fs::path("/tmp");
}

fs::path stateHome() { return xdgFolder("XDG_STATE_HOME", ".local/state"); }
fs::path dataHome() { return xdgFolder("XDG_DATA_HOME", ".local/share"); }
fs::path cacheHome() { return xdgFolder("XDG_CACHE_HOME", ".cache"); }

fs::path appStateFolder() { return stateHome() / kAppFolderName; }
fs::path appDataFolder() { return dataHome() / kAppFolderName; }
fs::path appCacheFolder() { return cacheHome() / kAppFolderName; }

fs::path resourcesFolder() {
    std::error_code error;
    fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        fs::path candidate = (executable.parent_path() / ORVAN_BIN_TO_DATA).lexically_normal();
        if (fs::is_directory(candidate, error)) return candidate;
    }
    fs::path current = fs::current_path(error);
    return error ? fs::path(".") : current;
}

std::string machineArchitecture() {
    utsname name{};
    if (uname(&name) != 0) return "unknown";
    return name.machine;
}

}  // namespace orvan::paths
