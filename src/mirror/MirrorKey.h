#pragma once

#include <compare>
#include <string>
#include <utility>

namespace orvan {

// One target can have a plain mirror window and a glasses-shell window (kept on top, with the
// overlay beside it).
enum class MirrorWindowKind { standard, glassShell };

// The key of one mirror window in the launcher's registry: its target ("ip:port" or a USB
// serial) and its kind.
struct MirrorKey {
    std::string target;
    MirrorWindowKind kind = MirrorWindowKind::standard;

    static MirrorKey of(std::string target, bool glassShell) {
        return {std::move(target), glassShell ? MirrorWindowKind::glassShell : MirrorWindowKind::standard};
    }
    bool isGlassShell() const { return kind == MirrorWindowKind::glassShell; }

    friend bool operator==(const MirrorKey&, const MirrorKey&) = default;
    friend auto operator<=>(const MirrorKey&, const MirrorKey&) = default;
};

}  // namespace orvan
