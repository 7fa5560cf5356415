#include "app/SleepWatcher.h"

namespace orvan {

namespace {

constexpr auto kLogindService = "org.freedesktop.login1";
constexpr auto kLogindPath = "/org/freedesktop/login1";
constexpr auto kLogindManager = "org.freedesktop.login1.Manager";

}  // namespace

SleepWatcher::SleepWatcher(QObject* parent) : SleepWatcher(QDBusConnection::systemBus(), parent) {}

SleepWatcher::SleepWatcher(const QDBusConnection& bus, QObject* parent) : QObject(parent) {
    if (!bus.isConnected()) return;
    // The subscription is only a match rule: it holds even while logind is not (yet) running.
    QDBusConnection connection(bus);
    listening_ = connection.connect(kLogindService, kLogindPath, kLogindManager, "PrepareForSleep", this,
                                    SLOT(prepareForSleep(bool)));
}

void SleepWatcher::prepareForSleep(bool sleeping) {
    if (sleeping) {
        emit willSleep();
    } else {
        emit didWake();
    }
}

}  // namespace orvan
