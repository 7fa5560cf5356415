#pragma once

#include <string>
#include <string_view>

namespace orvan {

// The short form of a scrcpy child's output that failure messages and the log carry: its last
// four non-empty lines joined by " | ", cut to its last 480 characters ("..." first) when longer.
// The complete tail stays in the log, so the summary only has to name the cause.
std::string scrcpyFailureSummary(std::string_view text);

}  // namespace orvan
