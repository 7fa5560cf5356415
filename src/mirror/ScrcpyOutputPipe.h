#pragma once

#include <atomic>
#include <memory>

#include "foundation/BoundedProcessOutput.h"

namespace orvan {

// The read end of a scrcpy child's output pipe (stdout and stderr together) with its
// data-available reader, which hands every chunk to the collector while it is installed.
// Owns the descriptor; shared by the registry, the child and its watcher thread, so the
// descriptor outlives every reader.
class ScrcpyOutputPipe {
public:
    ScrcpyOutputPipe(int ownedFd, std::shared_ptr<BoundedProcessOutput> collector);
    ~ScrcpyOutputPipe();
    ScrcpyOutputPipe(const ScrcpyOutputPipe&) = delete;
    ScrcpyOutputPipe& operator=(const ScrcpyOutputPipe&) = delete;

    int fd() const { return fd_; }
    const BoundedProcessOutput& collector() const { return *collector_; }

    // The data-available reader: takes what is there now. Returns false once this reader has
    // nothing more to do (end of file, reader removed, or the final drain has run).
    bool readAvailable();
    bool hasReader() const { return readerInstalled_.load(); }
    void removeReader() { readerInstalled_.store(false); }
    // The final drain: whatever is buffered now goes to the collector, once.
    void finishReading() { collector_->finishReading(fd_); }

private:
    int fd_;
    std::shared_ptr<BoundedProcessOutput> collector_;
    std::atomic<bool> readerInstalled_{true};
};

}  // namespace orvan
