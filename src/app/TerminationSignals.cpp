#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <stdexcept>

namespace orvan {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// A repeat within this time of the first signal is the same event delivered twice (a closed
// terminal sends SIGHUP to the job and again to the foreground group), not a person asking again.
constexpr int64_t kBurstNs = 1'000'000'000;

std::atomic<int> gWriteFd{-1};
std::atomic<int64_t> gFirstAtNs{-1};  // when the first signal came; -1: none yet
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free);

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Async-signal-safe only: atomics, clock_gettime, write and _exit.
extern "C" void onTerminationSignal(int signal) {
    int savedErrno = errno;
    const int64_t now = monotonicNs();
    int64_t first = -1;
    if (!gFirstAtNs.compare_exchange_strong(first, now)) {
        // The termination sequence runs already: only a later, deliberate repeat ends at once.
        if (now - first >= kBurstNs) _exit(128 + signal);
        errno = savedErrno;
        return;
    }
    unsigned char byte = static_cast<unsigned char>(signal);
    if (int fd = gWriteFd.load(); fd >= 0) (void)!write(fd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot create the signal pipe");
    gFirstAtNs = -1;
    gWriteFd = pipe_[1];
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::drain);

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    gWriteFd = -1;
    // After a signal the process is ending because of it: the handler (which needs only the
    // globals) stays, so a late repeat of a burst cannot kill the exit half-way with the default
    // action.
    if (gFirstAtNs.load() < 0) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        for (int signal : kSignals) sigaction(signal, &action, nullptr);
    }
    close(pipe_[0]);
    close(pipe_[1]);
}

QString TerminationSignals::name(int signal) {
    switch (signal) {
        case SIGTERM:
            return "SIGTERM";
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        default:
            return QString("signal %1").arg(signal);
    }
}

void TerminationSignals::drain() {
    unsigned char byte = 0;
    while (read(pipe_[0], &byte, 1) == 1) emit received(byte);
}

}  // namespace orvan
