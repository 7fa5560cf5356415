#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/UniqueFd.h"

namespace orvan::sim {

// What the sync protocol and `ls` report about one file.
struct FileInfo {
    std::uint32_t mode = 0;  // including the S_IFMT bits
    std::uint64_t size = 0;
    std::int64_t atime = 0;
    std::int64_t mtime = 0;
    std::int64_t ctime = 0;
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    std::uint32_t nlink = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
};

struct DirectoryEntry {
    std::string name;
    FileInfo info;
    std::string linkTarget;  // for symbolic links
};

// The glasses' file system: a host folder that stands for "/". Every lookup is resolved inside
// that folder by the kernel (RESOLVE_IN_ROOT), so absolute symbolic links such as
// /sdcard -> /storage/emulated/0 work as on the device and nothing can reach outside it.
// Errors are Linux errno values, which is also what the sync protocol carries on the wire.
class DeviceStorage {
public:
    explicit DeviceStorage(std::string hostRoot);

    const std::string& hostRoot() const { return hostRoot_; }
    // The host path that a device path names, without resolving links (for tests that drop
    // files in place or compare pulled bytes).
    std::string hostPath(std::string_view devicePath) const;

    int stat(std::string_view devicePath, bool followLinks, FileInfo& info) const;
    int readLink(std::string_view devicePath, std::string& target) const;
    // Entries of a directory, "." and ".." included like the device's own listing.
    int list(std::string_view devicePath, std::vector<DirectoryEntry>& entries) const;
    UniqueFd openForRead(std::string_view devicePath, int& error) const;
    // Creates or truncates a file, creating missing parent directories like adbd does.
    UniqueFd createFile(std::string_view devicePath, std::uint32_t permissions, int& error) const;
    int setModificationTime(int fd, std::int64_t mtime) const;
    int makeDirectories(std::string_view devicePath) const;
    int remove(std::string_view devicePath) const;
    int rename(std::string_view from, std::string_view to) const;
    int writeWholeFile(std::string_view devicePath, std::string_view bytes, std::int64_t mtime) const;

private:
    UniqueFd resolve(std::string_view devicePath, int flags, int& error) const;
    // Opens the parent directory of a path and returns the last component in `name`.
    UniqueFd openParent(std::string_view devicePath, std::string& name, int& error) const;

    std::string hostRoot_;
    UniqueFd rootFd_;
};

// Lexically normalised absolute device path: "/a//b/./c/" -> "/a/b/c". ".." never climbs above "/".
std::string normalizeDevicePath(std::string_view path);

}  // namespace orvan::sim
