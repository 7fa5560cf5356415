#pragma once

// The error text of a call that must fail, so a test compares it as one value.

#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace orvan::testing {

// What the call threw (any std::exception), or "(no failure)" when it returned.
inline std::string errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no failure)";
}

// The kind of the MirrorError a call threw; nothing when it threw another error or returned.
template <typename Error>
std::optional<typename Error::Kind> errorKindOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& error) {
        return error.kind();
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

}  // namespace orvan::testing
