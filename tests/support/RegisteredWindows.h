#pragma once

#include <map>
#include <string>

#include "mirror/ScrcpyLauncher.h"

namespace orvan::testing {

// The launcher's registered windows as plain values, keyed by process key.
inline std::map<std::string, pid_t> registeredPids(ScrcpyLauncher& launcher, bool adopted = false) {
    std::map<std::string, pid_t> pids;
    for (const auto& [key, entry] : launcher.registry().entries())
        if (entry.handle.isExternal() == adopted) pids[key] = entry.handle.pid();
    return pids;
}

inline std::map<std::string, std::string> registeredIdentities(ScrcpyLauncher& launcher) {
    std::map<std::string, std::string> identities;
    for (const auto& [key, entry] : launcher.registry().entries()) identities[key] = entry.identity;
    return identities;
}

}  // namespace orvan::testing
