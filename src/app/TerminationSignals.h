#pragma once

#include <QObject>

class QSocketNotifier;

namespace orvan {

// Turns SIGTERM, SIGINT and SIGHUP (logout, `systemctl --user stop`, Ctrl+C, a closed terminal)
// into `received` on the main thread, so that they end the app through its normal termination
// sequence. The handler only writes the signal number to a pipe that the event loop watches. A
// second signal a second or more after the first means the user wants out now (Ctrl+C pressed
// again): the handler then ends the process at once. A repeat within that second is one event
// delivered twice (a closed terminal signals the job and its process group) and is ignored.
// One instance per process.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // "SIGTERM", "SIGINT", "SIGHUP", else "signal N".
    static QString name(int signal);

signals:
    void received(int signal);

private:
    void drain();

    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace orvan
