#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvan {

// The transport states the code decides on. Every other state adb names ("authorizing", "host",
// "bootloader", "no permissions ...") is `other`; its words stay in the text for the messages.
enum class AdbTransportState { device, offline, unauthorized, other };

// The one reading of a state word from `get-state` or from a listing's state column, in any
// letter case.
inline AdbTransportState parseAdbTransportState(std::string_view text) {
    auto is = [text](std::string_view word) {
        if (text.size() != word.size()) return false;
        for (size_t i = 0; i < word.size(); ++i) {
            char c = text[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != word[i]) return false;
        }
        return true;
    };
    if (is("device")) return AdbTransportState::device;
    if (is("offline")) return AdbTransportState::offline;
    if (is("unauthorized")) return AdbTransportState::unauthorized;
    return AdbTransportState::other;
}

// A target's state as adb gave it: the kind decisions rest on, and the words for log lines.
struct AdbTargetState {
    AdbTransportState kind = AdbTransportState::other;
    std::string text;

    static AdbTargetState of(std::string text) { return {parseAdbTransportState(text), std::move(text)}; }
    friend bool operator==(const AdbTargetState& state, AdbTransportState kind) { return state.kind == kind; }
};

// The words of a state for a log line; "missing" when adb does not name the target.
inline std::string stateText(const std::optional<AdbTargetState>& state) {
    return state ? state->text : "missing";
}

}  // namespace orvan
