#include "StopSignals.h"

#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvan::standin {
namespace {

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

StopSignals::StopSignals() {
    const auto set = stopSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        std::fprintf(stderr, "scrcpy-standin: signalfd: %s\n", std::strerror(errno));
        std::exit(2);
    }
}

StopSignals::~StopSignals() {
    if (fd_ >= 0) ::close(fd_);
}

bool StopSignals::stopRequested() {
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (!received_) received_ = static_cast<int>(info.ssi_signo);
    }
    return received_.has_value();
}

void StopSignals::dieOf(int signal) {
    // The tool folder is the working directory: a core file there would outlive the test.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    std::signal(signal, SIG_DFL);
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_UNBLOCK, &all, nullptr);
    ::raise(signal);
    // A signal that does not kill (SIGCHLD, SIGWINCH...) was asked for; SIGKILL always does.
    ::raise(SIGKILL);
    std::abort();
}

}  // namespace orvan::standin
