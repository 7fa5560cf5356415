#include "mirror/ScrcpyOutputPipe.h"

#include <unistd.h>

namespace orvan {

ScrcpyOutputPipe::ScrcpyOutputPipe(int ownedFd, std::shared_ptr<BoundedProcessOutput> collector)
    : fd_(ownedFd), collector_(std::move(collector)) {}

ScrcpyOutputPipe::~ScrcpyOutputPipe() {
    if (fd_ >= 0) ::close(fd_);
}

bool ScrcpyOutputPipe::readAvailable() {
    if (!hasReader()) return false;
    return collector_->readAvailable(fd_);
}

}  // namespace orvan
