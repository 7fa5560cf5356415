#include "glasses-sim/AdbMessage.h"

#include <cctype>
#include <cstdio>

#include "glasses-sim/ByteOrder.h"

namespace orvan::sim {

std::string commandName(std::uint32_t command) {
    switch (command) {
        case kCnxn:
            return "CNXN";
        case kAuth:
            return "AUTH";
        case kOpen:
            return "OPEN";
        case kOkay:
            return "OKAY";
        case kWrte:
            return "WRTE";
        case kClse:
            return "CLSE";
        case kSync:
            return "SYNC";
        default:
            break;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", command);
    return text;
}

std::uint32_t payloadChecksum(std::string_view payload) {
    std::uint32_t sum = 0;
    for (unsigned char byte : payload) sum += byte;
    return sum;
}

std::string encodeHeader(std::uint32_t command, std::uint32_t arg0, std::uint32_t arg1, std::string_view payload,
                         bool withChecksum) {
    std::string header;
    header.reserve(kHeaderSize);
    appendU32(header, command);
    appendU32(header, arg0);
    appendU32(header, arg1);
    appendU32(header, static_cast<std::uint32_t>(payload.size()));
    appendU32(header, withChecksum ? payloadChecksum(payload) : 0);
    appendU32(header, command ^ 0xffffffffu);
    return header;
}

std::string encodeMessage(const AdbMessage& message, bool withChecksum) {
    std::string bytes = encodeHeader(message.command, message.arg0, message.arg1, message.payload, withChecksum);
    bytes += message.payload;
    return bytes;
}

void MessageDecoder::feed(std::string_view bytes) {
    if (error_) return;
    // Drop consumed bytes before growing, so a long transfer does not keep its history.
    if (offset_ > 0 && offset_ >= buffer_.size() / 2) {
        buffer_.erase(0, offset_);
        offset_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<AdbMessage> MessageDecoder::next() {
    if (error_) return std::nullopt;
    const std::string_view pending(buffer_.data() + offset_, buffer_.size() - offset_);
    if (pending.size() < kHeaderSize) return std::nullopt;
    const std::uint32_t command = readU32(pending, 0);
    const std::uint32_t length = readU32(pending, 12);
    const std::uint32_t magic = readU32(pending, 20);
    if (magic != (command ^ 0xffffffffu)) {
        char text[96];
        std::snprintf(text, sizeof text, "bad magic 0x%08x for command %s", magic, commandName(command).c_str());
        error_ = text;
        return std::nullopt;
    }
    if (length > maxPayload_) {
        error_ = "payload of " + std::to_string(length) + " bytes exceeds the limit of " + std::to_string(maxPayload_) +
                 " (" + commandName(command) + ")";
        return std::nullopt;
    }
    if (pending.size() < kHeaderSize + length) return std::nullopt;
    AdbMessage message;
    message.command = command;
    message.arg0 = readU32(pending, 4);
    message.arg1 = readU32(pending, 8);
    message.payload.assign(pending.data() + kHeaderSize, length);
    offset_ += kHeaderSize + length;
    if (offset_ == buffer_.size()) {
        buffer_.clear();
        offset_ = 0;
    }
    return message;
}

}  // namespace orvan::sim
