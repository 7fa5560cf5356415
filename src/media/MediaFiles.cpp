#include "media/MediaFiles.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

#include "foundation/MirrorError.h"
#include "platform/Paths.h"

namespace orvan {

namespace fs = std::filesystem;

namespace {

// Longest readable part of a cache name: the digest and separators fit beside it in the 255
// bytes a Linux file name may take.
constexpr std::size_t kReadableCacheNameBytes = 200;

[[noreturn]] void throwSystemError(const std::string& what, const fs::path& path, int error) {
    throw MirrorError::message(what + "：" + path.string() + "（" + std::strerror(error) + "）");
}

bool entryExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

std::string sanitizedPart(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) out += std::string_view("/\\:*?\"<>|").find(c) == std::string_view::npos ? c : '_';
    const auto first = out.find_first_not_of('_');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of('_') - first + 1);
}

// The last `limit` bytes, starting on a UTF-8 character boundary.
std::string utf8Tail(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t start = text.size() - limit;
    while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) ++start;
    return text.substr(start);
}

std::string hexDigest(std::string_view data, std::size_t hexLength) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length && hex.size() < hexLength; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

}  // namespace

std::string exportFolderName(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local);
    return std::string("OrvanMedia_") + text;
}

fs::path createExportFolder(const fs::path& parent, const std::string& name) {
    std::error_code error;
    fs::create_directories(parent, error);
    if (error) throwSystemError("无法创建导出文件夹", parent, error.value());
    for (int n = 1;; ++n) {
        const fs::path candidate = parent / (n == 1 ? name : name + "_" + std::to_string(n));
        // mkdir fails on an existing folder: an earlier export is never reused, nor later removed.
        if (::mkdir(candidate.c_str(), 0777) == 0) return candidate;
        if (errno != EEXIST || n >= 10000) throwSystemError("无法创建导出文件夹", candidate, errno);
    }
}

fs::path uniqueExportFileUrl(const std::string& name, const fs::path& dir) {
    fs::path candidate = dir / name;
    if (!entryExists(candidate)) return candidate;
    const fs::path asPath(name);
    const std::string base = asPath.stem().string();
    const std::string extension = asPath.extension().string();  // with its dot, or empty
    for (int n = 2;; ++n) {
        candidate = dir / (base + "_" + std::to_string(n) + extension);
        if (!entryExists(candidate)) return candidate;
    }
}

fs::path makePartialFile(const fs::path& dir) {
    std::string pattern = (dir / ".orvan-partial-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throwSystemError("无法写入文件夹", dir, errno);
    ::close(fd);
    return pattern;
}

fs::path placeWithoutReplacing(const fs::path& partial, const fs::path& dir, const std::string& name) {
    for (int attempt = 0; attempt < 10000; ++attempt) {
        const fs::path target = uniqueExportFileUrl(name, dir);
        if (::renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return target;
        if (errno == EEXIST) continue;  // taken since the check: try the next name
        if (errno != EINVAL && errno != ENOSYS) throwSystemError("无法保存文件", target, errno);
        // A file system without no-replace renames: a hard link fails on an existing name too.
        if (::link(partial.c_str(), target.c_str()) == 0) {
            ::unlink(partial.c_str());
            return target;
        }
        if (errno == EEXIST) continue;
        // Neither (FAT drives): the check above is the last word.
        if (::rename(partial.c_str(), target.c_str()) == 0) return target;
        throwSystemError("无法保存文件", target, errno);
    }
    throwSystemError("无法保存文件", dir / name, EEXIST);
}

fs::path mediaThumbnailCacheDirectory() {
    const fs::path dir = paths::appCacheFolder() / "media-thumbnails";
    std::error_code error;
    fs::create_directories(dir, error);
    if (error) throwSystemError("无法创建预览缓存文件夹", dir, error.value());
    return dir;
}

std::string sanitizedCacheFileName(std::string_view remotePath) {
    std::string name = sanitizedPart(remotePath);
    return name.empty() ? randomUuidString() : name;
}

std::string previewCacheFileName(std::string_view serial, std::string_view remotePath) {
    const std::string digest = hexDigest(std::string(serial) + '\0' + std::string(remotePath), 16);
    std::string readable = sanitizedPart(serial);
    const std::string path = sanitizedPart(remotePath);
    if (!path.empty()) readable += (readable.empty() ? "" : "_") + path;
    readable = utf8Tail(readable, kReadableCacheNameBytes);
    return readable.empty() ? digest : digest + "_" + readable;
}

std::string randomUuidString() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<unsigned> nibble(0, 15);
    std::string uuid;
    for (int i = 0; i < 32; ++i) {
        unsigned value = nibble(generator);
        if (i == 12) value = 4;                // version 4
        if (i == 16) value = 8 | (value & 3);  // RFC 4122 variant
        uuid += "0123456789ABCDEF"[value];
        if (i == 7 || i == 11 || i == 15 || i == 19) uuid += '-';
    }
    return uuid;
}

}  // namespace orvan
