#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace orvan {

// A TCP socket in state LISTEN, as the kernel's socket tables list it.
struct ListeningSocket {
    std::uint64_t inode = 0;
    uid_t uid = 0;  // the user that created it
};

// Which local process listens on a TCP port, read from the proc file system: the LISTEN sockets
// on the port (net/tcp, net/tcp6, or the kernel's socket diagnostics), their inodes, the process holding such an inode
// among its open files ("socket:[inode]" under <pid>/fd), and that process's executable. The root is injectable so that
// tests can build a tree of their own. Nothing here throws: unreadable entries (another user's processes, a process
// that just ended) are skipped.
class ListeningSocketOwner {
public:
    explicit ListeningSocketOwner(std::filesystem::path procRoot = "/proc") : procRoot_(std::move(procRoot)) {}

    // The LISTEN sockets on `port` over IPv4 and IPv6, any local address. On the real proc file
    // system the kernel is asked directly (sock_diag), which costs tens of microseconds where the
    // tables, which walk every connection of the machine, cost milliseconds; the tables remain
    // the fallback and the only source under another root.
    std::vector<ListeningSocket> listeningSockets(int port) const;
    // The same from net/tcp and net/tcp6 under the root.
    std::vector<ListeningSocket> listeningSocketsFromTables(int port) const;
    // The same from the kernel's socket diagnostics; nothing when they cannot be asked.
    static std::optional<std::vector<ListeningSocket>> listeningSocketsFromKernel(int port);
    // The first process (by ascending pid) that holds one of the inodes; scans every process.
    std::optional<pid_t> ownerOf(const std::vector<ListeningSocket>& sockets) const;
    // Whether `pid` still holds one of the inodes: the cheap re-check of a known owner.
    bool holds(pid_t pid, const std::vector<ListeningSocket>& sockets) const;
    // The target of <pid>/exe, with the kernel's " (deleted)" mark kept; nothing when unreadable.
    std::optional<std::filesystem::path> executableOf(pid_t pid) const;

    const std::filesystem::path& procRoot() const { return procRoot_; }

    // One socket table (the text of net/tcp or net/tcp6): the LISTEN entries on `port`. Lines
    // that do not have the table's shape are skipped.
    static std::vector<ListeningSocket> parseListeningSockets(std::string_view table, int port);

private:
    std::filesystem::path procRoot_;
};

}  // namespace orvan
