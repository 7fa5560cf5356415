#pragma once

#include <string>
#include <string_view>

namespace orvan {

// The short form of a scrcpy child's output that failure messages and the log carry: four
// non-empty lines joined by " | ", in the order they were printed, cut to their last 480
// characters ("..." first) when longer. The lines that name a cause win over the rest: the
// client's and the device's errors and warnings first, then the generic "Server connection
// failed", then other text (adb's words), and the banner, INFO lines, Java stack lines and the
// harmless notes every start prints (the reverse-tunnel fallback, a missing icon) only when
// the output holds nothing else. The client writes its INFO lines late (stdout) and its errors early
// (stderr), so the last four lines alone would often be the banner and the device list.
// The complete tail stays in the log.
std::string scrcpyFailureSummary(std::string_view text);

}  // namespace orvan
