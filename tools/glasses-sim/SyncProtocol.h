#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "glasses-sim/ByteOrder.h"
#include "glasses-sim/DeviceStorage.h"

namespace orvan::sim::sync {

inline constexpr std::uint32_t kStat = makeId("STAT");
inline constexpr std::uint32_t kSta2 = makeId("STA2");
inline constexpr std::uint32_t kLst2 = makeId("LST2");
inline constexpr std::uint32_t kList = makeId("LIST");
inline constexpr std::uint32_t kLis2 = makeId("LIS2");
inline constexpr std::uint32_t kDent = makeId("DENT");
inline constexpr std::uint32_t kDnt2 = makeId("DNT2");
inline constexpr std::uint32_t kRecv = makeId("RECV");
inline constexpr std::uint32_t kSend = makeId("SEND");
inline constexpr std::uint32_t kData = makeId("DATA");
inline constexpr std::uint32_t kDone = makeId("DONE");
inline constexpr std::uint32_t kOkay = makeId("OKAY");
inline constexpr std::uint32_t kFail = makeId("FAIL");
inline constexpr std::uint32_t kQuit = makeId("QUIT");

inline constexpr std::size_t kMaxPathLength = 1024;
inline constexpr std::size_t kMaxDataChunk = 64 * 1024;
// adbd keeps each DATA record, header included, within 64 KiB.
inline constexpr std::size_t kDataChunkSent = kMaxDataChunk - 8;

inline constexpr std::size_t kStatV1Size = 16;
inline constexpr std::size_t kDentSize = 20;
inline constexpr std::size_t kStatV2Size = 72;
inline constexpr std::size_t kDnt2Size = 76;

// One record from the host. For DATA `payload` holds the bytes; for DONE `arg` is the mtime;
// for path requests `payload` is the path (or "path,mode" for SEND).
struct Request {
    std::uint32_t id = 0;
    std::uint32_t arg = 0;
    std::string payload;
};

// Incremental parser: records may be split across WRTEs or packed several to one.
class RequestParser {
public:
    void feed(std::string_view bytes);
    std::optional<Request> next();
    const std::optional<std::string>& error() const { return error_; }

private:
    std::string buffer_;
    std::size_t offset_ = 0;
    std::optional<std::string> error_;
};

std::string encodeStatV1(const FileInfo* info);  // all zero when nothing
std::string encodeStatV2(std::uint32_t id, int error, const FileInfo* info);
std::string encodeDent(const DirectoryEntry& entry);
std::string encodeDnt2(const DirectoryEntry& entry);
std::string encodeListDone(bool v2);  // full-size terminator record
std::string encodeData(std::string_view bytes);
std::string encodeDone();
std::string encodeOkay();
std::string encodeFail(std::string_view message);
std::string encodeRequest(std::uint32_t id, std::string_view payload);  // what a host sends

// "SEND" carries "<path>,<mode in decimal>".
struct SendTarget {
    std::string path;
    std::uint32_t mode = 0;
};
std::optional<SendTarget> parseSendTarget(std::string_view payload);

}  // namespace orvan::sim::sync
