#include "adb/ListeningSocketOwner.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

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

const fs::path kRealProcRoot = "/proc";
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

// One sock_diag dump of the TCP listeners of `family`, the ones on `port` appended to `result`.
// False when the kernel cannot be asked or answers out of shape.
bool askKernelForListeners(int family, int port, std::vector<ListeningSocket>& result) {
    int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0) return false;
    timeval timeout{1, 0};  // the kernel answers at once; this only bounds a broken one
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));

    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof(message);
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.request.sdiag_family = static_cast<std::uint8_t>(family);
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = 1u << TCP_LISTEN;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    bool done = false;
    bool ok = sendto(fd, &message, sizeof(message), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof(kernel)) ==
              static_cast<ssize_t>(sizeof(message));
    alignas(nlmsghdr) char buffer[16384];
    while (ok && !done) {
        ssize_t received = recv(fd, buffer, sizeof(buffer), 0);
        if (received <= 0) {
            ok = false;
            break;
        }
        size_t offset = 0;
        while (offset + sizeof(nlmsghdr) <= static_cast<size_t>(received)) {
            const auto* header = reinterpret_cast<const nlmsghdr*>(buffer + offset);
            if (header->nlmsg_len < sizeof(nlmsghdr) || offset + header->nlmsg_len > static_cast<size_t>(received)) {
                ok = false;
                break;
            }
            if (header->nlmsg_type == NLMSG_DONE) {
                done = true;
                break;
            }
            if (header->nlmsg_type == NLMSG_ERROR || header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                ok = false;
                break;
            }
            const auto* socketInfo = reinterpret_cast<const inet_diag_msg*>(buffer + offset + NLMSG_HDRLEN);
            if (ntohs(socketInfo->id.idiag_sport) == port && socketInfo->idiag_inode != 0) {
                result.push_back(ListeningSocket{socketInfo->idiag_inode, socketInfo->idiag_uid});
            }
            offset += NLMSG_ALIGN(header->nlmsg_len);
        }
    }
    close(fd);
    return ok && done;
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
    if (procRoot_ == kRealProcRoot) {
        if (auto sockets = listeningSocketsFromKernel(port)) return *sockets;
    }
    return listeningSocketsFromTables(port);
}

std::optional<std::vector<ListeningSocket>> ListeningSocketOwner::listeningSocketsFromKernel(int port) {
    std::vector<ListeningSocket> result;
    for (int family : {AF_INET, AF_INET6}) {
        if (!askKernelForListeners(family, port, result)) return std::nullopt;
    }
    return result;
}

std::vector<ListeningSocket> ListeningSocketOwner::listeningSocketsFromTables(int port) const {
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
