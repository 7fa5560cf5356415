#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/UniqueFd.h"

namespace orvan {

// What to run. Environment entries set a variable (value) or remove it (nullopt); everything
// else is inherited from this process.
struct ProcessSpec {
    std::string executable;
    std::vector<std::string> arguments;
    std::map<std::string, std::optional<std::string>> environmentChanges;
    std::optional<std::string> workingDirectory;
    // Standard output and error on a pseudo-terminal instead of a pipe: a client that only
    // flushes its output per line on a terminal then writes its lines as they happen.
    bool outputOnTerminal = false;
};

// The child could not be started at all. `reason` tells a missing binary from the rest, so that
// a caller can say "not installed" rather than "failed".
class LaunchError : public std::runtime_error {
public:
    enum class Reason { notFound, notExecutable, other };
    LaunchError(Reason reason, int errorNumber, const std::string& executable);
    Reason reason() const { return reason_; }
    int errorNumber() const { return errorNumber_; }

private:
    Reason reason_;
    int errorNumber_;
};

// How a child ended. `status` follows the usual launcher convention: the exit code for a normal
// exit, the signal number when a signal ended it.
struct ProcessExit {
    enum class Reason { exited, signaled };
    Reason reason = Reason::exited;
    int status = 0;
};

// One launched child whose standard output and standard error share one pipe (or one
// pseudo-terminal; its read end then reports the end of output as an error, read as the end). The child is
// always reaped: by a wait here, or, when the object goes away first, by the process-wide reaper.
class ChildProcess {
public:
    static std::unique_ptr<ChildProcess> launch(const ProcessSpec& spec);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Read end of the output pipe (non-blocking, close-on-exec). -1 once closed.
    int outputFd() const { return outputFd_.get(); }
    // Readable once the child has exited (a pidfd); -1 where the kernel has none. Reaping stays
    // with isRunning() and the waits.
    int exitFd() const { return exitFd_.get(); }
    void closeOutput();

    bool isRunning();
    std::optional<ProcessExit> exit() const { return exit_; }

    // Waits until the child exits or the deadline passes, handing every output chunk to
    // `onOutput` as it arrives, so a chatty child never stalls on a full pipe. Returns true when
    // the child has exited (its remaining buffered output has been drained by then).
    bool waitForExit(std::chrono::steady_clock::time_point deadline,
                     const std::function<void(std::string_view)>& onOutput);
    // Blocks until the child exits, without reading output.
    ProcessExit waitForExit();

    // Reads whatever is available now without blocking; returns false at end of file.
    bool readAvailable(const std::function<void(std::string_view)>& onOutput);

    // The polite termination request (SIGTERM); no forced kill follows.
    void terminate();
    void sendSignal(int signal);

private:
    ChildProcess(pid_t pid, UniqueFd output);
    bool reapNonBlocking();
    void recordStatus(int waitStatus);

    pid_t pid_;
    UniqueFd outputFd_;
    UniqueFd exitFd_;  // pidfd when the kernel has it
    std::optional<ProcessExit> exit_;
};

// Hands a child that nobody waits for to a background thread that reaps it when it ends, so a
// timed-out or abandoned child never stays a zombie.
void reapInBackground(pid_t pid);

// The parent of a running process, from <procRoot>/<pid>/stat; nothing when the process is gone
// or the file cannot be read.
std::optional<pid_t> parentProcessId(pid_t pid, const std::filesystem::path& procRoot = "/proc");

// The command lines that contain `containing`, as "<pid> <arguments joined by blanks>", one line
// each, read from <procRoot>/<pid>/cmdline (what `ps -axo pid=,command=` prints, without
// starting a process). Processes without a command line (kernel threads, zombies) and processes
// that end while being read are left out. Throws std::filesystem::filesystem_error when procRoot
// cannot be listed.
std::string processCommandLines(std::string_view containing, const std::filesystem::path& procRoot = "/proc");

}  // namespace orvan
