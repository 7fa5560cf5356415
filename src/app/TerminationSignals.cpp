#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <stdexcept>

namespace orvan {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<int> gWriteFd{-1};
std::atomic<bool> gReceived{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Async-signal-safe only: atomics, write and _exit.
extern "C" void onTerminationSignal(int signal) {
    if (gReceived.exchange(true)) _exit(128 + signal);
    int savedErrno = errno;
    unsigned char byte = static_cast<unsigned char>(signal);
    if (int fd = gWriteFd.load(); fd >= 0) (void)!write(fd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot create the signal pipe");
    gReceived = false;
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
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals) sigaction(signal, &action, nullptr);
    gWriteFd = -1;
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
