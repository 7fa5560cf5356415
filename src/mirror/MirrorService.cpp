#include "mirror/MirrorService.h"

namespace orvan {

MirrorService::MirrorService(MirrorServiceOptions options)
    : tools_(std::move(options.tools)), clock_(options.clock), runner_(tools_.adb, options.privatePort, log_) {}

MirrorService::~MirrorService() = default;

}  // namespace orvan
