#pragma once

#include <cstdint>
#include <string>

namespace orvan::standin {

// Counts the runs that share one state file, so that a test can script "fail the first start,
// succeed the second" across separate processes. Returns this run's index (0 for the first),
// or 0 when no file is given. Concurrent runs each get their own index (the file is locked).
// Throws ConfigError when the file cannot be used.
std::uint64_t claimRunIndex(const std::string& statePath);

}  // namespace orvan::standin
