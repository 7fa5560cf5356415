#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvan::sim {

// Transport commands as they appear on the wire (little-endian ASCII).
inline constexpr std::uint32_t kCnxn = 0x4e584e43;
inline constexpr std::uint32_t kAuth = 0x48545541;
inline constexpr std::uint32_t kOpen = 0x4e45504f;
inline constexpr std::uint32_t kOkay = 0x59414b4f;
inline constexpr std::uint32_t kWrte = 0x45545257;
inline constexpr std::uint32_t kClse = 0x45534c43;
inline constexpr std::uint32_t kSync = 0x434e5953;

inline constexpr std::uint32_t kVersionOriginal = 0x01000000;
inline constexpr std::uint32_t kVersionSkipChecksum = 0x01000001;
inline constexpr std::uint32_t kMaxPayloadV1 = 4096;
inline constexpr std::uint32_t kMaxPayload = 1024 * 1024;

inline constexpr std::uint32_t kAuthToken = 1;
inline constexpr std::uint32_t kAuthSignature = 2;
inline constexpr std::uint32_t kAuthRsaPublicKey = 3;

inline constexpr std::size_t kHeaderSize = 24;

struct AdbMessage {
    std::uint32_t command = 0;
    std::uint32_t arg0 = 0;
    std::uint32_t arg1 = 0;
    std::string payload;
};

// "CNXN", "WRTE", ... or the hex value for anything unknown; for log lines.
std::string commandName(std::uint32_t command);

// Unsigned 32-bit byte sum: what adb calls the checksum.
std::uint32_t payloadChecksum(std::string_view payload);

// The 24-byte header for a message. The checksum is filled in only when `withChecksum`, which is
// what the negotiated version asks for; hosts of version 0x01000001 ignore it either way.
std::string encodeHeader(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view payload,
                         bool withChecksum);
std::string encodeMessage(const AdbMessage& message, bool withChecksum);

// Incremental decoder over a TCP byte stream: feed whatever recv() returned, then take complete
// messages. The checksum is never checked (hosts send 0 once the skip-checksum version is agreed,
// even on a reconnect's first CNXN). A bad magic or a payload above the limit is an error that
// ends the connection: resynchronising inside a binary stream is not possible.
class MessageDecoder {
public:
    explicit MessageDecoder(std::uint32_t maxPayload = kMaxPayload) : maxPayload_(maxPayload) {}

    void setMaxPayload(std::uint32_t maxPayload) { maxPayload_ = maxPayload; }
    void feed(std::string_view bytes);
    // The next complete message, if any. After an error it returns nothing forever.
    std::optional<AdbMessage> next();
    const std::optional<std::string>& error() const { return error_; }
    // Bytes held that do not yet form a complete message.
    std::size_t buffered() const { return buffer_.size() - offset_; }

private:
    std::uint32_t maxPayload_;
    std::string buffer_;
    std::size_t offset_ = 0;
    std::optional<std::string> error_;
};

}  // namespace orvan::sim
