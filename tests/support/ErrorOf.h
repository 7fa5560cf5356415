#pragma once

// The error text of a call that must fail, so a test compares it as one value.

#include <exception>
#include <functional>
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

}  // namespace orvan::testing
