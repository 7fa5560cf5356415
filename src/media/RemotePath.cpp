#include "media/RemotePath.h"

#include <filesystem>

#include "foundation/Text.h"

namespace orvan {

namespace {

std::string_view strippedSlashes(std::string_view text) {
    const auto first = text.find_first_not_of('/');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of('/') - first + 1);
}

}  // namespace

std::string normalizeRemoteDirectory(std::string_view path) {
    std::string value = text::trimmed(path);
    if (value.empty() || value == kDefaultMediaTitle) return "/sdcard";
    return value.starts_with('/') ? value : "/" + value;
}

std::string joinRemotePath(std::string_view directory, std::string_view name) {
    const std::string_view stripped = strippedSlashes(directory);
    if (stripped.empty()) return "/" + std::string(name);
    return "/" + std::string(stripped) + "/" + std::string(name);
}

std::string parentRemoteDirectory(std::string_view path) {
    const std::string normalized = normalizeRemoteDirectory(path);
    const std::string_view stripped = strippedSlashes(normalized);
    if (stripped.empty() || stripped == "sdcard") return "/sdcard";
    std::string parent = std::filesystem::path("/" + std::string(stripped)).parent_path().string();
    return parent.empty() ? "/sdcard" : parent;
}

std::string lastPathComponent(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string remoteFolderOf(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos || slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string remoteShellQuoted(std::string_view text) {
    // Inside single quotes nothing is special but the quote itself, which is closed, escaped
    // and reopened.
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

}  // namespace orvan
