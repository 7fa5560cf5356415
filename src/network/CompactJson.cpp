#include "network/CompactJson.h"

namespace orvan {

std::optional<std::string> compactJsonWithEscapedSlashes(const nlohmann::json& value) {
    std::string text;
    try {
        text = value.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;  // a string that is not UTF-8
    }
    // A '/' can only stand inside a string in JSON text, and the writer never escapes it.
    std::string escaped;
    escaped.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '/') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

}  // namespace orvan
