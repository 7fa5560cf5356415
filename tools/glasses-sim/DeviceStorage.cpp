#include "glasses-sim/DeviceStorage.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace orvan::sim {
namespace {

FileInfo toFileInfo(const struct stat& st) {
    FileInfo info;
    info.mode = st.st_mode;
    info.size = static_cast<std::uint64_t>(st.st_size);
    info.atime = st.st_atim.tv_sec;
    info.mtime = st.st_mtim.tv_sec;
    info.ctime = st.st_ctim.tv_sec;
    info.dev = st.st_dev;
    info.ino = st.st_ino;
    info.nlink = static_cast<std::uint32_t>(st.st_nlink);
    // Report the owners the glasses' shared storage has, not the simulator's.
    info.uid = S_ISDIR(st.st_mode) ? 0 : 10191;
    info.gid = 1015;
    return info;
}

std::string relativePart(std::string_view devicePath) {
    std::string normalized = normalizeDevicePath(devicePath);
    std::string relative = normalized == "/" ? std::string(".") : normalized.substr(1);
    // Keep a trailing slash: it makes the kernel follow a final symbolic link and insist on a
    // directory, exactly as it does on the device.
    if (devicePath.size() > 1 && devicePath.back() == '/' && relative != ".") relative += '/';
    return relative;
}

}  // namespace

std::string normalizeDevicePath(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        const std::size_t slash = path.find('/', pos);
        const std::string_view part =
            path.substr(pos, slash == std::string_view::npos ? std::string_view::npos : slash - pos);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (slash == std::string_view::npos) break;
        pos = slash + 1;
    }
    std::string out;
    for (const auto part : parts) {
        out += '/';
        out += part;
    }
    return out.empty() ? "/" : out;
}

DeviceStorage::DeviceStorage(std::string hostRoot) : hostRoot_(std::move(hostRoot)) {
    rootFd_.reset(::open(hostRoot_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd_) throw std::runtime_error("cannot open storage root " + hostRoot_);
}

std::string DeviceStorage::hostPath(std::string_view devicePath) const {
    // Follow links component by component the way the device would, absolute targets
    // meaning the glasses' "/", so that /sdcard/... names the real file under the root.
    std::string resolved = "/";
    std::string pending = normalizeDevicePath(devicePath);
    for (int links = 0; links < 40;) {
        const std::size_t start = pending.find_first_not_of('/');
        if (start == std::string::npos) break;
        const std::size_t end = pending.find('/', start);
        const std::string part = pending.substr(start, end == std::string::npos ? std::string::npos : end - start);
        pending = end == std::string::npos ? std::string() : pending.substr(end);
        const std::string candidate = normalizeDevicePath(resolved + "/" + part);
        char target[4096];
        const ssize_t size = ::readlink((hostRoot_ + candidate).c_str(), target, sizeof target);
        if (size <= 0) {
            resolved = candidate;
            continue;
        }
        ++links;
        const std::string link(target, static_cast<std::size_t>(size));
        pending = (link.front() == '/' ? link : resolved + "/" + link) + pending;
        resolved = "/";
    }
    resolved = normalizeDevicePath(resolved);
    return resolved == "/" ? hostRoot_ : hostRoot_ + resolved;
}

UniqueFd DeviceStorage::resolve(std::string_view devicePath, int flags, int& error) const {
    if (devicePath.empty() || devicePath.front() != '/') {
        error = ENOENT;
        return {};
    }
    const std::string relative = relativePart(devicePath);
    struct open_how how {};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, rootFd_.get(), relative.c_str(), &how, sizeof how);
    if (fd < 0) {
        error = errno;
        return {};
    }
    error = 0;
    return UniqueFd(static_cast<int>(fd));
}

UniqueFd DeviceStorage::openParent(std::string_view devicePath, std::string& name, int& error) const {
    const std::string normalized = normalizeDevicePath(devicePath);
    if (normalized == "/") {
        error = EISDIR;
        return {};
    }
    const std::size_t slash = normalized.rfind('/');
    name = normalized.substr(slash + 1);
    const std::string parent = slash == 0 ? "/" : normalized.substr(0, slash);
    return resolve(parent, O_PATH | O_DIRECTORY, error);
}

int DeviceStorage::stat(std::string_view devicePath, bool followLinks, FileInfo& info) const {
    int error = 0;
    UniqueFd fd = resolve(devicePath, O_PATH | (followLinks ? 0 : O_NOFOLLOW), error);
    if (!fd) return error;
    struct stat st {};
    if (::fstatat(fd.get(), "", &st, AT_EMPTY_PATH) != 0) return errno;
    info = toFileInfo(st);
    return 0;
}

int DeviceStorage::readLink(std::string_view devicePath, std::string& target) const {
    int error = 0;
    UniqueFd fd = resolve(devicePath, O_PATH | O_NOFOLLOW, error);
    if (!fd) return error;
    char buffer[4096];
    const ssize_t size = ::readlinkat(fd.get(), "", buffer, sizeof buffer);
    if (size < 0) return errno;
    target.assign(buffer, static_cast<std::size_t>(size));
    return 0;
}

int DeviceStorage::list(std::string_view devicePath, std::vector<DirectoryEntry>& entries) const {
    int error = 0;
    UniqueFd fd = resolve(devicePath, O_RDONLY | O_DIRECTORY, error);
    if (!fd) return error;
    const int dirFd = fd.get();
    DIR* dir = ::fdopendir(fd.release());
    if (!dir) {
        ::close(dirFd);
        return errno;
    }
    entries.clear();
    while (const dirent* entry = ::readdir(dir)) {
        DirectoryEntry item;
        item.name = entry->d_name;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // vanished meanwhile
        item.info = toFileInfo(st);
        if (S_ISLNK(st.st_mode)) {
            char buffer[4096];
            const ssize_t size = ::readlinkat(dirFd, entry->d_name, buffer, sizeof buffer);
            if (size > 0) item.linkTarget.assign(buffer, static_cast<std::size_t>(size));
        }
        entries.push_back(std::move(item));
    }
    ::closedir(dir);
    return 0;
}

UniqueFd DeviceStorage::openForRead(std::string_view devicePath, int& error) const {
    UniqueFd fd = resolve(devicePath, O_RDONLY, error);
    if (!fd) return fd;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = EISDIR;
        return {};
    }
    return fd;
}

int DeviceStorage::makeDirectories(std::string_view devicePath) const {
    const std::string normalized = normalizeDevicePath(devicePath);
    std::size_t pos = 1;
    while (pos <= normalized.size()) {
        std::size_t slash = normalized.find('/', pos);
        if (slash == std::string::npos) slash = normalized.size();
        const std::string prefix = normalized.substr(0, slash);
        FileInfo info;
        if (stat(prefix, true, info) == ENOENT) {
            std::string name;
            int error = 0;
            UniqueFd parent = openParent(prefix, name, error);
            if (!parent) return error;
            if (::mkdirat(parent.get(), name.c_str(), 0775) != 0 && errno != EEXIST) return errno;
        } else if (stat(prefix, true, info) == 0 && !S_ISDIR(info.mode)) {
            return ENOTDIR;
        }
        pos = slash + 1;
    }
    return 0;
}

UniqueFd DeviceStorage::createFile(std::string_view devicePath, std::uint32_t permissions, int& error) const {
    const std::string normalized = normalizeDevicePath(devicePath);
    const std::size_t slash = normalized.rfind('/');
    if (slash > 0) {
        error = makeDirectories(normalized.substr(0, slash));
        if (error != 0) return {};
    }
    std::string name;
    UniqueFd parent = openParent(normalized, name, error);
    if (!parent) return parent;
    const int fd = ::openat(parent.get(), name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                            static_cast<mode_t>(permissions & 07777));
    if (fd < 0) {
        error = errno;
        return {};
    }
    error = 0;
    return UniqueFd(fd);
}

int DeviceStorage::setModificationTime(int fd, std::int64_t mtime) const {
    const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    return ::futimens(fd, times) == 0 ? 0 : errno;
}

int DeviceStorage::remove(std::string_view devicePath) const {
    std::string name;
    int error = 0;
    UniqueFd parent = openParent(devicePath, name, error);
    if (!parent) return error;
    if (::unlinkat(parent.get(), name.c_str(), 0) == 0) return 0;
    if (errno == EISDIR && ::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) == 0) return 0;
    return errno;
}

int DeviceStorage::rename(std::string_view from, std::string_view to) const {
    std::string fromName, toName;
    int error = 0;
    UniqueFd fromParent = openParent(from, fromName, error);
    if (!fromParent) return error;
    const std::string normalizedTo = normalizeDevicePath(to);
    const std::size_t slash = normalizedTo.rfind('/');
    if (slash > 0 && (error = makeDirectories(normalizedTo.substr(0, slash))) != 0) return error;
    UniqueFd toParent = openParent(normalizedTo, toName, error);
    if (!toParent) return error;
    return ::renameat(fromParent.get(), fromName.c_str(), toParent.get(), toName.c_str()) == 0 ? 0 : errno;
}

int DeviceStorage::writeWholeFile(std::string_view devicePath, std::string_view bytes, std::int64_t mtime) const {
    int error = 0;
    UniqueFd fd = createFile(devicePath, 0660, error);
    if (!fd) return error;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return mtime > 0 ? setModificationTime(fd.get(), mtime) : 0;
}

}  // namespace orvan::sim
