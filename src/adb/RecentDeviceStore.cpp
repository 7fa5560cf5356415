#include "adb/RecentDeviceStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <nlohmann/json.hpp>
#include <system_error>

#include "platform/Paths.h"

namespace orvan {

namespace fs = std::filesystem;

namespace {

// One lock for every store of the process: a second store on the same file must not undo the
// first one's save either.
std::mutex& saveMutex() {
    static std::mutex mutex;
    return mutex;
}

// The whole file when it is a regular file of plausible size; nullopt otherwise. Opened
// without blocking so that a FIFO or device at the path cannot stall a refresh.
std::optional<std::string> readSmallRegularFile(const fs::path& path, std::size_t limit) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat status {};
    std::optional<std::string> contents;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && static_cast<std::size_t>(status.st_size) <= limit) {
        std::string bytes;
        char buffer[16384];
        while (bytes.size() <= limit) {
            ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) break;
            if (count == 0) {
                contents = std::move(bytes);
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(count));
        }
    }
    ::close(fd);
    if (contents && contents->size() > limit) return std::nullopt;  // grew while we read
    return contents;
}

bool writeAll(int fd, const std::string& bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// Writes a sibling temporary file, flushes it to disk and renames it over `path`, so that
// readers and a crash see either the old or the complete new file, never a torn one.
bool replaceAtomically(const fs::path& path, const std::string& bytes) {
    std::string pattern = path.string() + ".XXXXXX";
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    written = (::close(fd) == 0) && written;
    if (!written || ::rename(pattern.c_str(), path.c_str()) != 0) {
        ::unlink(pattern.c_str());
        return false;
    }
    // Make the rename itself durable.
    int folder = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

std::optional<std::string> optionalText(const nlohmann::json& object, const char* key, bool& valid) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    if (!found->is_string()) {
        valid = false;
        return std::nullopt;
    }
    return found->get<std::string>();
}

}  // namespace

fs::path RecentDeviceStore::defaultFolder() {
    auto folder = paths::appDataFolder();
    if (folder.empty()) return fs::temp_directory_path() / paths::kAppFolderName;
    return folder;
}

RecentDeviceStore::RecentDeviceStore(fs::path folder, Clock& clock) : fileUrl_(folder / kFileName), clock_(clock) {
    std::error_code ignored;
    fs::create_directories(folder, ignored);
}

std::optional<std::string> RecentDeviceStore::encodeRecords(const std::vector<RecentDeviceRecord>& records) {
    auto array = nlohmann::ordered_json::array();
    for (const auto& record : records) {
        nlohmann::ordered_json object;
        object["serial"] = record.serial;
        object["ip"] = record.ip;
        if (record.wifiName) object["wifiName"] = *record.wifiName;
        if (record.model) object["model"] = *record.model;
        object["updatedAt"] = secondsSinceReferenceDate(record.updatedAt);
        array.push_back(std::move(object));
    }
    try {
        return array.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;  // a text that is not UTF-8
    }
}

std::optional<std::vector<RecentDeviceRecord>> RecentDeviceStore::decodeRecords(const std::string& text) {
    auto document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_array()) return std::nullopt;
    std::vector<RecentDeviceRecord> records;
    records.reserve(document.size());
    for (const auto& element : document) {
        if (!element.is_object()) return std::nullopt;
        auto serial = element.find("serial");
        auto ip = element.find("ip");
        auto updatedAt = element.find("updatedAt");
        if (serial == element.end() || !serial->is_string() || ip == element.end() || !ip->is_string() ||
            updatedAt == element.end() || !updatedAt->is_number())
            return std::nullopt;
        bool valid = true;
        RecentDeviceRecord record{serial->get<std::string>(), ip->get<std::string>(),
                                  optionalText(element, "wifiName", valid), optionalText(element, "model", valid),
                                  timeFromReferenceSeconds(updatedAt->get<double>())};
        if (!valid) return std::nullopt;
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<RecentDeviceRecord> RecentDeviceStore::loadRecords() const {
    auto text = readSmallRegularFile(fileUrl_, kMaximumFileSize);
    if (!text) return {};
    auto records = decodeRecords(*text);
    if (!records) return {};
    std::stable_sort(records->begin(), records->end(), [](const RecentDeviceRecord& a, const RecentDeviceRecord& b) {
        return a.updatedAt > b.updatedAt;
    });
    return std::move(*records);
}

std::vector<ConnectedAdbDevice> RecentDeviceStore::loadRecentDevices(std::optional<std::size_t> limit) const {
    auto records = loadRecords();
    if (limit && records.size() > *limit) records.resize(*limit);
    std::vector<ConnectedAdbDevice> devices;
    devices.reserve(records.size());
    for (const auto& record : records) devices.push_back(record.asConnectedDevice());
    return devices;
}

std::optional<std::string> RecentDeviceStore::saveRecentDevice(const std::string& serial, const std::string& ip,
                                                               const std::optional<std::string>& wifiName,
                                                               const std::optional<std::string>& model) {
    std::lock_guard lock(saveMutex());
    // A file over the cap reads as no records; writing now would wipe whatever it holds.
    std::error_code error;
    if (auto size = fs::file_size(fileUrl_, error); !error && size > kMaximumFileSize)
        return "最近设备文件超过 1 MB 上限，已保留原文件: " + fileUrl_.string();
    auto records = loadRecords();
    std::erase_if(records, [&](const RecentDeviceRecord& record) { return record.serial == serial; });
    records.insert(records.begin(), RecentDeviceRecord{serial, ip, wifiName, model, clock_.wallNow()});
    if (auto text = encodeRecords(records)) {
        std::error_code ignored;
        fs::create_directories(fileUrl_.parent_path(), ignored);  // the folder may have been removed since
        replaceAtomically(fileUrl_, *text);
    }
    return std::nullopt;
}

}  // namespace orvan
