#pragma once

#include <map>
#include <ostream>
#include <string>

#include "mirror/ScrcpyLauncher.h"

namespace orvan {

inline void PrintTo(const MirrorKey& key, std::ostream* out) {
    *out << key.target << (key.isGlassShell() ? " (glasses shell)" : "");
}

}  // namespace orvan

namespace orvan::testing {

// The launcher's registered windows as plain values, by key.
inline std::map<MirrorKey, pid_t> registeredPids(ScrcpyLauncher& launcher, bool adopted = false) {
    std::map<MirrorKey, pid_t> pids;
    for (const auto& [key, entry] : launcher.registry().entries())
        if (entry.handle.isExternal() == adopted) pids[key] = entry.handle.pid();
    return pids;
}

inline std::map<MirrorKey, std::string> registeredIdentities(ScrcpyLauncher& launcher) {
    std::map<MirrorKey, std::string> identities;
    for (const auto& [key, entry] : launcher.registry().entries()) identities[key] = entry.identity;
    return identities;
}

}  // namespace orvan::testing
