#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvan {

// One child process that ran to completion.
struct CommandResult {
    std::vector<std::string> command;  // executable path, then every argument
    int32_t status = 0;
    std::string output;  // stdout and stderr together, trimmed; empty when not valid UTF-8

    bool operator==(const CommandResult&) const = default;
};

}  // namespace orvan
