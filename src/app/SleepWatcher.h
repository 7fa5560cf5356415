#pragma once

#include <QDBusConnection>
#include <QObject>

namespace orvan {

// Tells the app when the computer is about to sleep and when it has woken up, from logind's
// PrepareForSleep signal on the system bus. Where there is no system bus (containers, CI) or no
// logind, it stays silent: the app then simply never hears of a wake.
class SleepWatcher : public QObject {
    Q_OBJECT

public:
    explicit SleepWatcher(QObject* parent = nullptr);
    // Listens on `bus` instead of the system bus (tests run a private bus).
    SleepWatcher(const QDBusConnection& bus, QObject* parent = nullptr);

    // Whether the signal subscription is in place.
    bool isListening() const { return listening_; }

signals:
    void willSleep();
    void didWake();

public slots:
    // logind sends true before the computer sleeps and false once it has resumed.
    void prepareForSleep(bool sleeping);

private:
    bool listening_ = false;
};

}  // namespace orvan
