#pragma once

// A tool folder whose `scrcpy` is a small shell script, for launcher tests that need exact
// control over what the window process prints, how long it takes and how it ends. Each run
// appends "<pid> <arguments>" to "runs" and saves its environment, and its pid to "pid", before the behaviour the test
// chose. Behaviours end in `exec` so that the pid the launcher knows is the process that holds the pipe and receives
// SIGTERM.

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/ToolLocation.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace orvan::testing {

namespace fakescrcpy {
// The readiness line in mixed case: scrcpy's spelling has changed between versions.
inline const std::string ready = "echo 'iNfO: tExTuRe: 1280x720'; exec sleep 60";
inline const std::string hang = "echo 'INFO: scrcpy 2.x'; echo 'waiting for video'; exec sleep 60";
}  // namespace fakescrcpy

class FakeScrcpyFolder {
public:
    explicit FakeScrcpyFolder(const std::string& behaviour) : folder_("orvan-fake-scrcpy") {
        std::ofstream(folder_ / "adb") << "#!/bin/sh\nexit 0\n";
        std::filesystem::permissions(folder_ / "adb", std::filesystem::perms::owner_all);
        setBehaviour(behaviour);
    }
    ~FakeScrcpyFolder() {
        for (pid_t pid : runPids()) ::kill(pid, SIGKILL);  // whatever a test left behind ends here
    }

    void setBehaviour(const std::string& behaviour) {
        // `--version` answers with the folder's "version" file (3.3.4 without one) and is no run.
        std::ofstream(folder_ / "scrcpy") << "#!/bin/sh\nhere=$(dirname \"$0\")\n"
                                             "if [ \"$1\" = --version ]; then echo \"scrcpy $(cat \"$here/version\" "
                                             "2>/dev/null || echo 3.3.4) <https://github.com/Genymobile/scrcpy>\"; exit 0; fi\n"
                                             "echo \"$$ $*\" >> \"$here/runs\"\n"
                                             "env > \"$here/env.$$\"\n"
                                             "echo $$ > \"$here/pid.tmp\" && mv \"$here/pid.tmp\" \"$here/pid\"\n"
                                          << behaviour << "\n";
        std::filesystem::permissions(folder_ / "scrcpy", std::filesystem::perms::owner_all);
    }

    ToolLocation tools() const { return ToolLocation::inToolFolder(folder_.path()); }
    // What `scrcpy --version` states from now on ("" for a client that names none).
    void setVersion(const std::string& version) const { std::ofstream(folder_ / "version") << version; }
    const std::filesystem::path& path() const { return folder_.path(); }

    std::vector<std::string> runs() const {
        std::vector<std::string> lines;
        std::ifstream in(folder_ / "runs");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::vector<pid_t> runPids() const {
        std::vector<pid_t> pids;
        for (const auto& line : runs()) pids.push_back(static_cast<pid_t>(std::stol(line)));
        return pids;
    }
    // The arguments of the n-th run.
    std::string arguments(size_t run = 0) const {
        auto line = runs().at(run);
        return line.substr(line.find(' ') + 1);
    }
    std::map<std::string, std::string> environment(pid_t pid) const {
        std::map<std::string, std::string> variables;
        std::ifstream in(folder_ / ("env." + std::to_string(pid)));
        for (std::string line; std::getline(in, line);)
            if (auto equals = line.find('='); equals != std::string::npos)
                variables[line.substr(0, equals)] = line.substr(equals + 1);
        return variables;
    }
    // Waits until the count-th run has started and gives its pid.
    std::optional<pid_t> waitForRun(size_t count = 1) const {
        if (!waitUntil([&] { return runPids().size() >= count && std::filesystem::exists(folder_ / "pid"); }))
            return std::nullopt;
        return runPids()[count - 1];
    }

private:
    TempDir folder_;
};

// Whether a pid names a live process that is not a zombie.
inline bool isLiveProcess(pid_t pid) {
    // getline, not a stream-buffer iterator: a process reaped between open and read makes the
    // read fail with ESRCH, which the iterator would throw.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content;
    std::getline(stat, content);
    auto close = content.rfind(')');
    return close != std::string::npos && close + 2 < content.size() && content[close + 2] != 'Z';
}

inline bool waitUntilGone(pid_t pid) {
    return waitUntil([pid] { return !isLiveProcess(pid); });
}

}  // namespace orvan::testing
