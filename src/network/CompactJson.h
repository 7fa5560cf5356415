#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace orvan {

// The compact JSON text the glasses read from QR codes: no white space, object keys in ascending
// order at every level (nlohmann's default map), UTF-8 written as is, and every solidus written as
// "\/" as the glasses' reference encoder does. Nothing when the value holds invalid UTF-8.
std::optional<std::string> compactJsonWithEscapedSlashes(const nlohmann::json& value);

}  // namespace orvan
