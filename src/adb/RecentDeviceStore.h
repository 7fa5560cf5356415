#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "adb/ConnectedAdbDevice.h"
#include "adb/RecentDeviceRecord.h"
#include "platform/Clock.h"

namespace orvan {

// The glasses seen over USB, remembered in "recent-devices.json" (a compact JSON array, newest
// first, one record per serial) so that the main window can offer them when they are not
// attached. Remembering is only an enrichment: nothing here reports an error. A file that is
// missing, unreadable, corrupt or of the wrong shape reads as no records, and the next save
// replaces it; an implausibly large one reads as no records and is never replaced.
//
// Saves are serialised inside the process, across all stores: each is a read-modify-write of the
// whole file, and two refreshes saving different glasses at the same moment must not drop one
// of them. The file is replaced atomically, so a reader sees either the old or the new list.
class RecentDeviceStore {
public:
    static constexpr const char* kFileName = "recent-devices.json";
    // Far above any real list (a record is ~150 bytes); larger files are not ours to parse.
    static constexpr std::size_t kMaximumFileSize = 1024 * 1024;

    // `folder` is created (errors ignored); by default $XDG_DATA_HOME/OrvanMirror.
    explicit RecentDeviceStore(std::filesystem::path folder = defaultFolder(), Clock& clock = SystemClock::shared());
    RecentDeviceStore(const RecentDeviceStore&) = delete;
    RecentDeviceStore& operator=(const RecentDeviceStore&) = delete;

    static std::filesystem::path defaultFolder();
    const std::filesystem::path& fileUrl() const { return fileUrl_; }

    // The remembered glasses as "最近设备" records, newest first, at most `limit` of them.
    std::vector<ConnectedAdbDevice> loadRecentDevices(std::optional<std::size_t> limit) const;
    // Remembers (or refreshes) one device at the front of the list, stamped with the clock's
    // current time. Failures to write leave the previous file in place. A file over the size cap
    // is left alone (replacing it would drop every record it holds): the save is skipped and the
    // reason returned for the caller's log.
    std::optional<std::string> saveRecentDevice(const std::string& serial, const std::string& ip,
                                                const std::optional<std::string>& wifiName,
                                                const std::optional<std::string>& model);

    // Every record in the file, newest first (equal times keep their file order).
    std::vector<RecentDeviceRecord> loadRecords() const;

    // The file's text for these records; nullopt when they cannot be encoded (text that is not
    // UTF-8). Exposed for tests.
    static std::optional<std::string> encodeRecords(const std::vector<RecentDeviceRecord>& records);
    // The records of a file's text, in file order; nullopt when it is not exactly an array of
    // well-formed records. Exposed for tests.
    static std::optional<std::vector<RecentDeviceRecord>> decodeRecords(const std::string& text);

private:
    std::filesystem::path fileUrl_;
    Clock& clock_;
};

}  // namespace orvan
