#include "app/QtMainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

namespace orvan {

void QtMainQueue::post(Task task) {
    auto* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

void QtMainQueue::postAfter(Seconds delay, Task task) {
    auto milliseconds = static_cast<int>(delay.count() * 1000.0);
    // Timers belong to the thread that starts them: start this one on the main thread.
    post([milliseconds, task = std::move(task)]() mutable {
        QTimer::singleShot(milliseconds, QCoreApplication::instance(), [task = std::move(task)] { task(); });
    });
}

}  // namespace orvan
