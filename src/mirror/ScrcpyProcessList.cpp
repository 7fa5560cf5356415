#include "mirror/ScrcpyProcessList.h"

#include <charconv>

#include "platform/Process.h"

namespace orvan {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

size_t skipBlanks(std::string_view s, size_t at) {
    while (at < s.size() && isBlank(s[at])) ++at;
    return at;
}

// Whether the command passes " -s <target>" with the target ending at a blank or the end.
bool mirrorsTarget(std::string_view command, std::string_view target) {
    std::string needle = " -s " + std::string(target);
    for (size_t at = command.find(needle); at != std::string_view::npos; at = command.find(needle, at + 1)) {
        size_t end = at + needle.size();
        if (end == command.size() || isBlank(command[end])) return true;
    }
    return false;
}

bool parsePid(std::string_view field, int32_t& pid) {
    auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), pid);
    // A pid of 0 or below would make kill() signal a process group or every process we may
    // signal: such a line is garbage, never a target.
    return error == std::errc() && end == field.data() + field.size() && pid > 0;
}

}  // namespace

ProcessListRunner systemProcessListRunner() {
    // Read in-process: a `ps` per start costs more than the start's own adb commands when a
    // classroom of pairs starts at once.
    return [] { return FiniteRun{.timedOut = false, .status = 0, .bytes = processCommandLines("scrcpy")}; };
}

std::vector<int32_t> scrcpyProcessIdsInListing(std::string_view listing, std::string_view target) {
    std::vector<int32_t> pids;
    size_t lineStart = 0;
    while (lineStart < listing.size()) {
        size_t lineEnd = listing.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = listing.size();
        std::string_view line = listing.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        size_t pidStart = skipBlanks(line, 0);
        size_t pidEnd = pidStart;
        while (pidEnd < line.size() && !isBlank(line[pidEnd])) ++pidEnd;
        size_t commandStart = skipBlanks(line, pidEnd);
        if (pidEnd == pidStart || commandStart == line.size()) continue;

        std::string_view command = line.substr(commandStart);
        int32_t pid = 0;
        if (command.find("scrcpy") == std::string_view::npos) continue;
        if (!mirrorsTarget(command, target)) continue;
        if (!parsePid(line.substr(pidStart, pidEnd - pidStart), pid)) continue;
        pids.push_back(pid);
    }
    return pids;
}

}  // namespace orvan
