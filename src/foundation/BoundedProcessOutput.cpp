#include "foundation/BoundedProcessOutput.h"

#include <unistd.h>

#include <cerrno>

#include "foundation/Text.h"

namespace orvan {
namespace {

// Reads until the descriptor would block or ends. `atEnd` tells which.
std::string readNow(int fd, bool& atEnd) {
    std::string bytes;
    char buffer[16384];
    atEnd = false;
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        atEnd = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        return bytes;
    }
}

}  // namespace

void BoundedProcessOutput::append(std::string_view chunk) {
    if (chunk.empty()) return;
    std::lock_guard guard(lock_);
    if (chunk.size() >= kByteLimit) {
        data_.assign(chunk.substr(chunk.size() - kByteLimit));
        return;
    }
    data_.append(chunk);
    if (data_.size() > kByteLimit) data_.erase(0, data_.size() - kByteLimit);
}

bool BoundedProcessOutput::readAvailable(int fd) {
    std::string bytes;
    bool atEnd = false;
    {
        std::lock_guard guard(readLock_);
        if (hasFinishedReading_) return false;
        bytes = readNow(fd, atEnd);
    }
    append(bytes);
    return !atEnd;
}

void BoundedProcessOutput::finishReading(int fd) {
    std::string bytes;
    {
        std::lock_guard guard(readLock_);
        if (hasFinishedReading_) return;
        bool atEnd = false;
        // The child has ended: whatever it wrote is buffered. A grandchild holding the pipe must
        // not keep us waiting, so read what is there and stop.
        bytes = readNow(fd, atEnd);
        hasFinishedReading_ = true;
    }
    append(bytes);
}

bool BoundedProcessOutput::hasFinishedReading() const {
    std::lock_guard guard(readLock_);
    return hasFinishedReading_;
}

std::string BoundedProcessOutput::text() const {
    std::string copy;
    {
        std::lock_guard guard(lock_);
        copy = data_;
    }
    // The client writes to a terminal: its colours and progress redraws are not text.
    return text::decodedTrimmed(text::withoutTerminalControls(copy));
}

std::optional<std::string> BoundedProcessOutput::startupReadinessSignal() const {
    // 2.0 and later name the texture when the video stream starts; 1.x calls it the initial one.
    if (text::containsAnyPhrase(text(), {"info: texture:", "info: initial texture:"})) return std::string("Texture");
    return std::nullopt;
}

size_t BoundedProcessOutput::size() const {
    std::lock_guard guard(lock_);
    return data_.size();
}

}  // namespace orvan
