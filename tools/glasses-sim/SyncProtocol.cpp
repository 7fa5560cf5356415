#include "glasses-sim/SyncProtocol.h"

#include <charconv>

namespace orvan::sim::sync {
namespace {

bool isPathRequest(std::uint32_t id) {
    return id == kStat || id == kSta2 || id == kLst2 || id == kList || id == kLis2 || id == kRecv || id == kSend;
}

void appendStatV2Fields(std::string& out, int error, const FileInfo* info) {
    const FileInfo empty;
    const FileInfo& f = info ? *info : empty;
    appendU32(out, static_cast<std::uint32_t>(error));
    appendU64(out, f.dev);
    appendU64(out, f.ino);
    appendU32(out, f.mode);
    appendU32(out, f.nlink);
    appendU32(out, f.uid);
    appendU32(out, f.gid);
    appendU64(out, f.size);
    appendU64(out, static_cast<std::uint64_t>(f.atime));
    appendU64(out, static_cast<std::uint64_t>(f.mtime));
    appendU64(out, static_cast<std::uint64_t>(f.ctime));
}

}  // namespace

void RequestParser::feed(std::string_view bytes) {
    // Drop what was consumed first: a long push never ends exactly on a record boundary.
    if (offset_ > 0) {
        buffer_.erase(0, offset_);
        offset_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<Request> RequestParser::next() {
    if (error_) return std::nullopt;
    const std::string_view pending = std::string_view(buffer_).substr(offset_);
    if (pending.size() < 8) {
        if (offset_ > 0) {
            buffer_.erase(0, offset_);
            offset_ = 0;
        }
        return std::nullopt;
    }
    Request request;
    request.id = readU32(pending, 0);
    request.arg = readU32(pending, 4);
    std::size_t payloadSize = 0;
    if (request.id == kDone || request.id == kQuit) {
        payloadSize = 0;  // DONE's length field is the mtime; QUIT has none
    } else if (isPathRequest(request.id)) {
        if (request.arg > kMaxPathLength) {
            error_ = fourCc(request.id) + " path of " + std::to_string(request.arg) + " bytes is too long";
            return std::nullopt;
        }
        payloadSize = request.arg;
    } else if (request.id == kData) {
        if (request.arg > kMaxDataChunk) {
            error_ = "DATA chunk of " + std::to_string(request.arg) + " bytes is too large";
            return std::nullopt;
        }
        payloadSize = request.arg;
    } else {
        // The length of an unknown record means nothing; the service answers FAIL and stops.
        offset_ += 8;
        return request;
    }
    if (pending.size() < 8 + payloadSize) return std::nullopt;
    request.payload.assign(pending.substr(8, payloadSize));
    offset_ += 8 + payloadSize;
    if (offset_ == buffer_.size()) {
        buffer_.clear();
        offset_ = 0;
    }
    return request;
}

std::string encodeStatV1(const FileInfo* info) {
    std::string out = fourCc(kStat);
    appendU32(out, info ? info->mode : 0);
    appendU32(out, info ? static_cast<std::uint32_t>(info->size) : 0);
    appendU32(out, info ? static_cast<std::uint32_t>(info->mtime) : 0);
    return out;
}

std::string encodeStatV2(std::uint32_t id, int error, const FileInfo* info) {
    std::string out = fourCc(id);
    appendStatV2Fields(out, error, error == 0 ? info : nullptr);
    return out;
}

std::string encodeDent(const DirectoryEntry& entry) {
    std::string out = fourCc(kDent);
    appendU32(out, entry.info.mode);
    appendU32(out, static_cast<std::uint32_t>(entry.info.size));
    appendU32(out, static_cast<std::uint32_t>(entry.info.mtime));
    appendU32(out, static_cast<std::uint32_t>(entry.name.size()));
    out += entry.name;
    return out;
}

std::string encodeDnt2(const DirectoryEntry& entry) {
    std::string out = fourCc(kDnt2);
    appendStatV2Fields(out, 0, &entry.info);
    appendU32(out, static_cast<std::uint32_t>(entry.name.size()));
    out += entry.name;
    return out;
}

std::string encodeListDone(bool v2) {
    std::string out = fourCc(kDone);
    out.append((v2 ? kDnt2Size : kDentSize) - 4, '\0');
    return out;
}

std::string encodeData(std::string_view bytes) {
    std::string out = fourCc(kData);
    appendU32(out, static_cast<std::uint32_t>(bytes.size()));
    out += bytes;
    return out;
}

std::string encodeDone() {
    std::string out = fourCc(kDone);
    appendU32(out, 0);
    return out;
}

std::string encodeOkay() {
    std::string out = fourCc(kOkay);
    appendU32(out, 0);
    return out;
}

std::string encodeFail(std::string_view message) {
    std::string out = fourCc(kFail);
    appendU32(out, static_cast<std::uint32_t>(message.size()));
    out += message;
    return out;
}

std::string encodeRequest(std::uint32_t id, std::string_view payload) {
    std::string out = fourCc(id);
    appendU32(out, static_cast<std::uint32_t>(payload.size()));
    out += payload;
    return out;
}

std::optional<SendTarget> parseSendTarget(std::string_view payload) {
    const std::size_t comma = payload.rfind(',');
    if (comma == std::string_view::npos || comma == 0) return std::nullopt;
    SendTarget target;
    target.path = std::string(payload.substr(0, comma));
    const std::string_view modeText = payload.substr(comma + 1);
    const auto [end, ec] = std::from_chars(modeText.data(), modeText.data() + modeText.size(), target.mode);
    if (ec != std::errc() || end != modeText.data() + modeText.size()) return std::nullopt;
    return target;
}

}  // namespace orvan::sim::sync
