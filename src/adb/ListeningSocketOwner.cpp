#include "adb/ListeningSocketOwner.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "foundation/Text.h"

namespace orvan {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kListenState = "0A";  // TCP_LISTEN in the kernel's tables

template <typename Number>
std::optional<Number> parseNumber(std::string_view digits, int base) {
    Number value{};
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) return std::nullopt;
    return value;
}

std::optional<std::string> readSmallFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return std::nullopt;
    std::ostringstream content;
    content << stream.rdbuf();
    if (stream.bad()) return std::nullopt;
    return content.str();
}

std::optional<std::string> readLink(const fs::path& path) {
    std::error_code error;
    fs::path target = fs::read_symlink(path, error);
    if (error) return std::nullopt;
    return target.string();
}

bool holdsAny(const fs::path& fdFolder, const std::vector<ListeningSocket>& sockets) {
    std::error_code error;
    for (fs::directory_iterator it(fdFolder, error), end; !error && it != end; it.increment(error)) {
        auto target = readLink(it->path());
        if (!target || !target->starts_with("socket:[") || !target->ends_with("]")) continue;
        auto inode = parseNumber<std::uint64_t>(std::string_view(*target).substr(8, target->size() - 9), 10);
        if (!inode) continue;
        for (const auto& socket : sockets) {
            if (socket.inode == *inode) return true;
        }
    }
    return false;
}

}  // namespace

std::vector<ListeningSocket> ListeningSocketOwner::parseListeningSockets(std::string_view table, int port) {
    std::vector<ListeningSocket> result;
    // "sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ..."; the first
    // line is the header, which fails the checks below like any other odd line.
    for (const auto& line : text::splitLines(table)) {
        auto parts = text::splitFields(line);
        if (parts.size() < 10 || !parts[0].ends_with(":")) continue;
        std::string_view local(parts[1]);
        auto colon = local.rfind(':');
        if (colon == std::string_view::npos) continue;
        auto localPort = parseNumber<unsigned>(local.substr(colon + 1), 16);
        if (!localPort || static_cast<int>(*localPort) != port || parts[3] != kListenState) continue;
        auto uid = parseNumber<uid_t>(parts[7], 10);
        auto inode = parseNumber<std::uint64_t>(parts[9], 10);
        // Inode 0 is a socket on its way out: nobody holds it any more.
        if (!uid || !inode || *inode == 0) continue;
        result.push_back(ListeningSocket{*inode, *uid});
    }
    return result;
}

std::vector<ListeningSocket> ListeningSocketOwner::listeningSockets(int port) const {
    std::vector<ListeningSocket> result;
    for (const char* table : {"tcp", "tcp6"}) {
        // A kernel without IPv6 has no tcp6 table; that is no error.
        if (auto text = readSmallFile(procRoot_ / "net" / table)) {
            auto found = parseListeningSockets(*text, port);
            result.insert(result.end(), found.begin(), found.end());
        }
    }
    return result;
}

std::optional<pid_t> ListeningSocketOwner::ownerOf(const std::vector<ListeningSocket>& sockets) const {
    if (sockets.empty()) return std::nullopt;
    std::vector<pid_t> pids;
    std::error_code error;
    for (fs::directory_iterator it(procRoot_, error), end; !error && it != end; it.increment(error)) {
        if (auto pid = parseNumber<pid_t>(it->path().filename().string(), 10); pid && *pid > 0) pids.push_back(*pid);
    }
    std::sort(pids.begin(), pids.end());
    for (pid_t pid : pids) {
        if (holds(pid, sockets)) return pid;
    }
    return std::nullopt;
}

bool ListeningSocketOwner::holds(pid_t pid, const std::vector<ListeningSocket>& sockets) const {
    return holdsAny(procRoot_ / std::to_string(pid) / "fd", sockets);
}

std::optional<fs::path> ListeningSocketOwner::executableOf(pid_t pid) const {
    auto target = readLink(procRoot_ / std::to_string(pid) / "exe");
    if (!target || target->empty()) return std::nullopt;
    return fs::path(*target);
}

}  // namespace orvan
