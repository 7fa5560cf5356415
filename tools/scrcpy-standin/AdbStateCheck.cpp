#include "AdbStateCheck.h"

#include "StopSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

extern char** environ;

namespace orvan::standin {
namespace {

constexpr std::size_t outputLimit = 64 * 1024;

std::string adbPath(const Environment& environment) {
    const auto it = environment.find("ADB");
    return it == environment.end() || it->second.empty() ? std::string("adb") : it->second;
}

void readAvailable(int fd, std::string& output) {
    char buffer[4096];
    while (true) {
        const auto length = ::read(fd, buffer, sizeof buffer);
        if (length <= 0) return;
        const auto room = outputLimit - std::min(outputLimit, output.size());
        output.append(buffer, std::min(room, static_cast<std::size_t>(length)));
    }
}

int exitStatusOf(int waitStatus) {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

pid_t spawnAdb(const std::vector<std::string>& arguments, int outputFd, int& error) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
    // Our stop signals are blocked for the signalfd; adb must get the usual mask back.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t empty;
    sigemptyset(&empty);
    posix_spawnattr_setsigmask(&attributes, &empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? pid : -1;
}

}  // namespace

bool AdbStateResult::isDevice() const {
    return outcome == Outcome::finished && exitStatus == 0 && state() == "device";
}

std::string AdbStateResult::state() const {
    const auto begin = output.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    const auto end = output.find_first_of("\r\n", begin);
    auto line = output.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    line.erase(line.find_last_not_of(" \t") + 1);
    return line;
}

AdbStateResult queryAdbState(const Environment& environment, const std::string& serial, StopSignals& signals) {
    std::vector<std::string> arguments{adbPath(environment)};
    if (!serial.empty()) arguments.insert(arguments.end(), {"-s", serial});
    arguments.emplace_back("get-state");

    AdbStateResult result;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        result.outcome = AdbStateResult::Outcome::launchFailed;
        result.launchError = std::strerror(errno);
        return result;
    }
    int error = 0;
    const pid_t pid = spawnAdb(arguments, pipeFds[1], error);
    ::close(pipeFds[1]);
    const int readFd = pipeFds[0];
    ::fcntl(readFd, F_SETFL, O_NONBLOCK);
    if (pid < 0) {
        ::close(readFd);
        result.outcome = AdbStateResult::Outcome::launchFailed;
        result.launchError = std::strerror(error);
        return result;
    }
    // Wait for the exit, not for end of file: an adb server started on the way may keep a
    // copy of the pipe open for its whole life.
    int waitStatus = 0;
    while (true) {
        pollfd fds[] = {{readFd, POLLIN, 0}, {signals.fd(), POLLIN, 0}};
        ::poll(fds, 2, 20);
        readAvailable(readFd, result.output);
        if (signals.stopRequested()) {
            ::kill(pid, SIGTERM);
            while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
            }
            result.outcome = AdbStateResult::Outcome::interrupted;
            break;
        }
        const pid_t done = ::waitpid(pid, &waitStatus, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            readAvailable(readFd, result.output);
            result.exitStatus = done == pid ? exitStatusOf(waitStatus) : -1;
            break;
        }
    }
    ::close(readFd);
    return result;
}

}  // namespace orvan::standin
