#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

extern char** environ;

namespace orvan {
namespace {

// The text lands in Chinese log lines and alerts, so the cause is said in Chinese too rather
// than with the C library's English phrase.
std::string launchErrorText(LaunchError::Reason reason, int errorNumber, const std::string& executable) {
    std::string cause;
    switch (errorNumber) {
        case ENOENT:
        case ENOTDIR:
            cause = "找不到文件";
            break;
        case EACCES:
        case EPERM:
            cause = "没有执行权限";
            break;
        case ENOEXEC:
            cause = "不是可执行文件";
            break;
        case EMFILE:
        case ENFILE:
            cause = "打开的文件过多";
            break;
        case ENOMEM:
        case EAGAIN:
            cause = "系统资源不足";
            break;
        default:
            cause =
                reason == LaunchError::Reason::notFound ? "找不到文件" : "系统错误码 " + std::to_string(errorNumber);
    }
    return "无法启动 " + executable + ": " + cause;
}

std::vector<std::string> buildEnvironment(const std::map<std::string, std::optional<std::string>>& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view text(*entry);
        auto name = std::string(text.substr(0, text.find('=')));
        if (!changes.contains(name)) result.emplace_back(text);
    }
    for (const auto& [name, value] : changes) {
        if (value) result.push_back(name + "=" + *value);
    }
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    result.reserve(strings.size() + 1);
    for (auto& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

int openPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
#else
    (void)pid;
    return -1;
#endif
}

class Reaper {
public:
    static Reaper& shared() {
        // Leaked on purpose: children may still be adopted while static destructors run.
        static auto* reaper = new Reaper;
        return *reaper;
    }

    void adopt(pid_t pid) {
        std::lock_guard lock(mutex_);
        pending_.insert(pid);
        if (!running_) {
            running_ = true;
            std::thread([this] { loop(); }).detach();
        }
        wake_.notify_one();
    }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        while (!pending_.empty()) {
            for (auto it = pending_.begin(); it != pending_.end();) {
                int status = 0;
                pid_t done = waitpid(*it, &status, WNOHANG);
                if (done == *it || (done < 0 && errno == ECHILD))
                    it = pending_.erase(it);
                else
                    ++it;
            }
            if (!pending_.empty()) wake_.wait_for(lock, std::chrono::milliseconds(100));
        }
        running_ = false;
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::set<pid_t> pending_;
    bool running_ = false;
};

}  // namespace

LaunchError::LaunchError(Reason reason, int errorNumber, const std::string& executable)
    : std::runtime_error(launchErrorText(reason, errorNumber, executable)),
      reason_(reason),
      errorNumber_(errorNumber) {}

void reapInBackground(pid_t pid) {
    Reaper::shared().adopt(pid);
}

namespace {

// A pseudo-terminal pair as {read end, write end}: the terminal writes lines as given (no
// CR LF translation) and echoes nothing back to the reader.
bool openTerminalPair(UniqueFd& readEnd, UniqueFd& writeEnd) {
    UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master) return false;
    char name[128];
    if (grantpt(master.get()) != 0 || unlockpt(master.get()) != 0 || ptsname_r(master.get(), name, sizeof name) != 0)
        return false;
    int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) return false;
    writeEnd.reset(slave);
    termios settings{};
    if (tcgetattr(slave, &settings) == 0) {
        settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON);
        tcsetattr(slave, TCSANOW, &settings);
    }
    winsize size{};
    size.ws_col = 160;
    size.ws_row = 50;
    ioctl(slave, TIOCSWINSZ, &size);
    readEnd = std::move(master);
    return true;
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::launch(const ProcessSpec& spec) {
    UniqueFd readEnd, writeEnd;
    bool opened = false;
    if (spec.outputOnTerminal) {
        opened = openTerminalPair(readEnd, writeEnd);
    } else if (int fds[2]; pipe2(fds, O_CLOEXEC) == 0) {
        readEnd.reset(fds[0]);
        writeEnd.reset(fds[1]);
        opened = true;
    }
    if (!opened) throw LaunchError(LaunchError::Reason::other, errno, spec.executable);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
    if (spec.workingDirectory) posix_spawn_file_actions_addchdir_np(&actions, spec.workingDirectory->c_str());

    // The child starts with default signal dispositions and an empty mask whatever this
    // process has set up (Qt and the sanitizers install handlers of their own).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, empty;
    sigemptyset(&empty);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &empty);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> argumentStrings{spec.executable};
    argumentStrings.insert(argumentStrings.end(), spec.arguments.begin(), spec.arguments.end());
    auto argv = pointers(argumentStrings);
    auto environmentStrings = buildEnvironment(spec.environmentChanges);
    auto envp = pointers(environmentStrings);

    pid_t pid = -1;
    int result = posix_spawn(&pid, spec.executable.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    writeEnd.reset();
    if (result != 0) {
        auto reason = LaunchError::Reason::other;
        if (result == ENOENT || result == ENOTDIR)
            reason = LaunchError::Reason::notFound;
        else if (result == EACCES || result == ENOEXEC || result == EPERM)
            reason = LaunchError::Reason::notExecutable;
        throw LaunchError(reason, result, spec.executable);
    }
    fcntl(readEnd.get(), F_SETFL, fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, std::move(readEnd)));
}

ChildProcess::ChildProcess(pid_t pid, UniqueFd output)
    : pid_(pid), outputFd_(std::move(output)), exitFd_(openPidFd(pid)) {}

ChildProcess::~ChildProcess() {
    closeOutput();
    exitFd_.reset();
    if (!exit_ && !reapNonBlocking()) reapInBackground(pid_);
}

void ChildProcess::closeOutput() {
    outputFd_.reset();
}

void ChildProcess::recordStatus(int waitStatus) {
    if (WIFSIGNALED(waitStatus))
        exit_ = ProcessExit{ProcessExit::Reason::signaled, WTERMSIG(waitStatus)};
    else
        exit_ = ProcessExit{ProcessExit::Reason::exited, WEXITSTATUS(waitStatus)};
}

bool ChildProcess::reapNonBlocking() {
    if (exit_) return true;
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        recordStatus(status);
        return true;
    }
    if (done < 0 && errno == ECHILD) {  // reaped elsewhere; nothing more to learn
        exit_ = ProcessExit{ProcessExit::Reason::exited, -1};
        return true;
    }
    return false;
}

bool ChildProcess::isRunning() {
    return !reapNonBlocking();
}

bool ChildProcess::readAvailable(const std::function<void(std::string_view)>& onOutput) {
    if (!outputFd_) return false;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(outputFd_.get(), buffer, sizeof buffer);
        if (n > 0) {
            if (onOutput) onOutput(std::string_view(buffer, static_cast<size_t>(n)));
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

bool ChildProcess::waitForExit(std::chrono::steady_clock::time_point deadline,
                               const std::function<void(std::string_view)>& onOutput) {
    bool outputOpen = static_cast<bool>(outputFd_);
    while (!reapNonBlocking()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        // Without a pidfd the exit is only seen by polling; 10 ms keeps that latency small.
        int wait = static_cast<int>(std::min<long long>(remaining, exitFd_ ? 1000 : 10));
        pollfd fds[2];
        nfds_t count = 0;
        if (exitFd_) fds[count++] = {exitFd_.get(), POLLIN, 0};
        if (outputOpen) fds[count++] = {outputFd_.get(), POLLIN, 0};
        if (count == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            continue;
        }
        int ready = poll(fds, count, wait);
        if (ready < 0 && errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (outputOpen && (fds[count - 1].revents & (POLLIN | POLLHUP | POLLERR))) outputOpen = readAvailable(onOutput);
    }
    // Everything the child wrote is in the pipe by now. A grandchild that inherited the pipe
    // (an adb server forking itself) may keep it open, so drain without waiting for EOF.
    readAvailable(onOutput);
    return true;
}

ProcessExit ChildProcess::waitForExit() {
    while (!exit_) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, 0);
        if (done == pid_)
            recordStatus(status);
        else if (done < 0 && errno != EINTR)
            exit_ = ProcessExit{ProcessExit::Reason::exited, -1};
    }
    return *exit_;
}

void ChildProcess::terminate() {
    sendSignal(SIGTERM);
}

void ChildProcess::sendSignal(int signal) {
    if (!exit_) ::kill(pid_, signal);
}

std::optional<pid_t> parentProcessId(pid_t pid, const std::filesystem::path& procRoot) {
    if (pid <= 0) return std::nullopt;
    // getline, not a stream-buffer iterator: a process reaped between open and read makes the
    // read fail with ESRCH, which the iterator would throw; getline only fails the stream.
    std::ifstream file(procRoot / std::to_string(pid) / "stat");
    std::string stat;
    if (!std::getline(file, stat)) return std::nullopt;
    // "<pid> (<comm>) <state> <ppid> ...": the command name may hold blanks and parentheses, so
    // the fields after it start behind the last ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    char state = 0;
    long long parent = -1;
    if (std::sscanf(stat.c_str() + close + 1, " %c %lld", &state, &parent) != 2 || parent < 0) return std::nullopt;
    return static_cast<pid_t>(parent);
}

std::string processCommandLines(std::string_view containing, const std::filesystem::path& procRoot) {
    std::string listing;
    for (const auto& entry : std::filesystem::directory_iterator(procRoot)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        UniqueFd file(::open((entry.path() / "cmdline").c_str(), O_RDONLY | O_CLOEXEC));
        if (!file) continue;  // ended meanwhile
        std::string command;
        char buffer[4096];
        for (;;) {
            ssize_t got = ::read(file.get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;  // the end, or ESRCH for a process reaped while being read
            command.append(buffer, static_cast<size_t>(got));
        }
        while (!command.empty() && command.back() == '\0') command.pop_back();
        if (command.empty() || command.find(containing) == std::string::npos) continue;
        std::replace(command.begin(), command.end(), '\0', ' ');
        std::replace(command.begin(), command.end(), '\n', ' ');  // one process, one line
        listing += name + ' ' + command + '\n';
    }
    return listing;
}

}  // namespace orvan
