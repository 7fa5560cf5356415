#include "glasses-sim/SyncService.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "glasses-sim/SyncProtocol.h"

namespace orvan::sim {

namespace {

// Collects records and writes them in chunks as large as one WRTE may be.
class RecordWriter {
public:
    explicit RecordWriter(ByteChannel& channel) : channel_(channel), limit_(channel.maxWriteSize()) {}
    bool add(std::string_view record) {
        if (pending_.size() + record.size() > limit_ && !flush()) return false;
        pending_ += record;
        return true;
    }
    bool flush() {
        if (pending_.empty()) return true;
        const bool ok = channel_.write(pending_);
        pending_.clear();
        return ok;
    }

private:
    ByteChannel& channel_;
    std::size_t limit_;
    std::string pending_;
};

}  // namespace

SyncService::SyncService(ByteChannel& channel, const DeviceStorage& storage, Logger log)
    : channel_(channel), storage_(storage), log_(std::move(log)) {}

std::optional<sync::Request> SyncService::nextRequest() {
    while (true) {
        if (auto request = parser_.next()) return request;
        if (parser_.error()) return std::nullopt;
        std::string bytes;
        if (!channel_.read(bytes)) return std::nullopt;
        parser_.feed(bytes);
    }
}

std::string SyncService::run() {
    while (true) {
        auto next = nextRequest();
        if (!next) {
            if (parser_.error()) {
                channel_.write(sync::encodeFail(*parser_.error()));
                return "protocol error: " + *parser_.error();
            }
            return "host closed the sync stream";
        }
        const sync::Request request = std::move(*next);
        const std::string& path = request.payload;
        switch (request.id) {
            case sync::kStat: {
                FileInfo info;
                const int error = storage_.stat(path, false, info);
                if (!channel_.write(sync::encodeStatV1(error == 0 ? &info : nullptr))) return "closed during STAT";
                break;
            }
            case sync::kSta2:
            case sync::kLst2: {
                FileInfo info;
                const int error = storage_.stat(path, request.id == sync::kSta2, info);
                if (!channel_.write(sync::encodeStatV2(request.id, error, &info))) return "closed during STA2";
                break;
            }
            case sync::kList:
            case sync::kLis2:
                if (!handleList(path, request.id == sync::kLis2)) return "closed during LIST";
                break;
            case sync::kRecv:
                if (!handleReceive(path)) return "closed during RECV of " + path;
                break;
            case sync::kSend: {
                std::string outcome;
                if (!handleSend(request.payload, outcome)) return outcome;
                break;
            }
            case sync::kQuit:
                return "QUIT";
            default: {
                const std::string message = "unknown command " + fourCc(request.id);
                channel_.write(sync::encodeFail(message));
                return message;
            }
        }
    }
}

bool SyncService::handleList(const std::string& path, bool v2) {
    std::vector<DirectoryEntry> entries;
    // A directory that cannot be listed gives an empty listing, as on the device.
    storage_.list(path, entries);
    RecordWriter writer(channel_);
    for (const auto& entry : entries) {
        if (entry.name.size() > 255) continue;
        if (!writer.add(v2 ? sync::encodeDnt2(entry) : sync::encodeDent(entry))) return false;
    }
    return writer.add(sync::encodeListDone(v2)) && writer.flush();
}

bool SyncService::handleReceive(const std::string& path) {
    int error = 0;
    UniqueFd fd = storage_.openForRead(path, error);
    if (!fd) return channel_.write(sync::encodeFail(std::strerror(error)));
    // Pack as many DATA records into one write as a WRTE takes, reading straight into place.
    const std::size_t limit = std::max<std::size_t>(channel_.maxWriteSize(), sync::kDataChunkSent + 8);
    std::string buffer;
    buffer.reserve(limit);
    while (true) {
        buffer.clear();
        bool endOfFile = false;
        while (buffer.size() + 8 + 1 <= limit) {
            const std::size_t chunk = std::min(sync::kDataChunkSent, limit - buffer.size() - 8);
            const std::size_t headerAt = buffer.size();
            buffer.resize(headerAt + 8 + chunk);
            ssize_t n;
            do {
                n = ::read(fd.get(), buffer.data() + headerAt + 8, chunk);
            } while (n < 0 && errno == EINTR);
            if (n <= 0) {
                buffer.resize(headerAt);
                if (n < 0) {
                    const std::string message = std::strerror(errno);
                    return channel_.write(buffer) && channel_.write(sync::encodeFail(message));
                }
                endOfFile = true;
                break;
            }
            buffer.resize(headerAt + 8 + static_cast<std::size_t>(n));
            std::string header = fourCc(sync::kData);
            appendU32(header, static_cast<std::uint32_t>(n));
            std::memcpy(buffer.data() + headerAt, header.data(), 8);
        }
        if (endOfFile) {
            if (buffer.size() + 8 > limit && !channel_.write(buffer)) return false;
            if (buffer.size() + 8 > limit) buffer.clear();
            buffer += sync::encodeDone();
            return channel_.write(buffer);
        }
        if (!channel_.write(buffer)) return false;
    }
}

bool SyncService::handleSend(const std::string& payload, std::string& outcome) {
    const auto target = sync::parseSendTarget(payload);
    int error = 0;
    UniqueFd fd;
    std::string failure;
    if (!target) {
        failure = "bad SEND request";
    } else if (S_ISLNK(target->mode)) {
        failure = "symbolic links are not supported";
    } else {
        fd = storage_.createFile(target->path, target->mode & 0777, error);
        if (!fd) failure = std::string("couldn't create file: ") + std::strerror(error);
    }
    // The host sends its DATA records before it looks for an answer, so read them all even
    // after a failure and answer only at DONE.
    std::uint64_t received = 0;
    auto abandon = [&] {
        if (fd) storage_.remove(target->path);
    };
    while (true) {
        const auto next = nextRequest();
        if (!next) {
            abandon();
            outcome = parser_.error() ? "protocol error during SEND: " + *parser_.error()
                                      : "host closed during SEND after " + std::to_string(received) + " bytes";
            return false;
        }
        const sync::Request& request = *next;
        if (request.id == sync::kData) {
            received += request.payload.size();
            if (!fd) continue;
            std::size_t done = 0;
            while (done < request.payload.size()) {
                const ssize_t n = ::write(fd.get(), request.payload.data() + done, request.payload.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    failure = std::string("write failed: ") + std::strerror(errno);
                    abandon();
                    fd.reset();
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
        } else if (request.id == sync::kDone) {
            if (fd) storage_.setModificationTime(fd.get(), request.arg);
            fd.reset();
            if (!failure.empty()) {
                channel_.write(sync::encodeFail(failure));
                outcome = failure;
                return false;
            }
            log_("received " + std::to_string(received) + " bytes into " + target->path);
            return channel_.write(sync::encodeOkay());
        } else {
            abandon();
            failure = "expected DATA or DONE, got " + fourCc(request.id);
            channel_.write(sync::encodeFail(failure));
            outcome = failure;
            return false;
        }
    }
}

}  // namespace orvan::sim
