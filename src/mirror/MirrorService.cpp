#include "mirror/MirrorService.h"

#include "adb/SharedAdbServerGuard.h"

namespace orvan {

MirrorService::MirrorService(MirrorServiceOptions options)
    : tools_(std::move(options.tools)), clock_(options.clock), runner_(tools_.adb, options.privatePort, log_) {
    // The IDE's server on the shared port may be another adb version: follow it, never kill it.
    SharedAdbServerGuard::installIn(runner_);
}

MirrorService::~MirrorService() = default;

}  // namespace orvan
