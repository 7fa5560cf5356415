#include "adb/AdbTargetProbe.h"

#include <exception>

#include "adb/AdbDevices.h"
#include "foundation/Text.h"

namespace orvan {

std::optional<std::string> AdbTargetProbe::stateInListing(const std::string& listing, const std::string& target) {
    for (auto& transport : listedTransports(listing))
        if (transport.serial == target) return std::move(transport.state);
    return std::nullopt;
}

namespace {

bool isNotFoundAnswer(const std::string& lowercasedOutput, const std::string& target) {
    return lowercasedOutput == "error: device '" + text::lowercased(target) + "' not found";
}

}  // namespace

std::optional<AdbTargetState> AdbTargetProbe::adbTargetState(const std::string& target, AdbServerScope scope) const {
    try {
        auto result = runner_.runAdb(
            {"get-state"}, {.timeout = Seconds(kStateQueryTimeout), .check = false, .serial = target, .scope = scope});
        auto state = text::lowercased(text::trimmed(result.output));
        if (parseAdbTransportState(state) != AdbTransportState::other) return AdbTargetState::of(state);
        // "error: device '<serial>' not found": the server has no such transport, so its listing
        // cannot name it either. Skipping the listing saves a command on every fresh connect.
        if (result.status != 0 && isNotFoundAnswer(state, target)) return std::nullopt;
    } catch (const std::exception&) {
        // A hung or unlaunchable get-state: the listing below may still know the target.
    }
    try {
        auto listing =
            runner_.runAdb({"devices"}, {.timeout = Seconds(kStateQueryTimeout), .check = false, .scope = scope});
        if (auto state = stateInListing(listing.output, target)) return AdbTargetState::of(*state);
        return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool AdbTargetProbe::echoesReadyMarker(const std::string& target, double timeout, AdbServerScope scope) const {
    try {
        auto result = runner_.runAdb({"shell", "echo", kAdbReadyMarker},
                                     {.timeout = Seconds(timeout), .check = false, .serial = target, .scope = scope});
        return result.status == 0 && result.output.find(kAdbReadyMarker) != std::string::npos;
    } catch (const std::exception&) {
        return false;
    }
}

bool AdbTargetProbe::isAdbTargetResponsive(const std::string& target, double timeout, AdbServerScope scope) const {
    if (adbTargetState(target, scope) != AdbTransportState::device) return false;
    return echoesReadyMarker(target, timeout, scope);
}

}  // namespace orvan
