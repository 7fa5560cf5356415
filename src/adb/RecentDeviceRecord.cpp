#include "adb/RecentDeviceRecord.h"

#include <algorithm>
#include <cmath>

namespace orvan {

ConnectedAdbDevice RecentDeviceRecord::asConnectedDevice() const {
    return ConnectedAdbDevice{serial, connection_kind::kRecent, ip, wifiName, model, serial, false, false};
}

double secondsSinceReferenceDate(std::chrono::system_clock::time_point time) {
    auto sinceReference = time.time_since_epoch() - kReferenceDateUnixSeconds;
    return std::chrono::duration<double>(sinceReference).count();
}

std::chrono::system_clock::time_point timeFromReferenceSeconds(double seconds) {
    // A file may carry any number; nanosecond time points only span about ±292 years, so far
    // dates are pinned (their order among ordinary dates is kept).
    constexpr double kLimit = 4.0e9;
    seconds = std::isnan(seconds) ? 0.0 : std::clamp(seconds, -kLimit, kLimit);
    auto sinceReference =
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(seconds));
    return std::chrono::system_clock::time_point(kReferenceDateUnixSeconds + sinceReference);
}

}  // namespace orvan
