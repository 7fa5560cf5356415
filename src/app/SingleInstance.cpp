#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

namespace orvan {

namespace {
constexpr const char* kShowRequest = "show\n";
constexpr const char* kShowAnswer = "shown\n";
// A first instance that has just taken the lock needs a moment before it listens, and one that is
// quitting (it no longer answers) needs up to its whole termination before the lock is free.
constexpr int kFindPrimaryMs = 20000;
}  // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent) : QObject(parent), folder_(std::move(folder)) {
    if (folder_.isEmpty()) folder_ = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketPath() const {
    return folder_ + "/orvan-mirror.socket";
}

SingleInstance::Role SingleInstance::claim() {
    QDir().mkpath(folder_);
    lock_ = std::make_unique<QLockFile>(folder_ + "/orvan-mirror.lock");
    // Only a dead holder makes the lock stale, never its age: the app runs for days.
    lock_->setStaleLockTime(0);
    QDeadlineTimer deadline(kFindPrimaryMs);
    while (true) {
        if (lock_->tryLock(0)) {
            listen();
            return Role::primary;
        }
        // Without a usable runtime folder nothing can be enforced; running beats refusing.
        if (lock_->error() != QLockFile::LockFailedError) return Role::primary;
        if (askPrimaryToShow()) return Role::secondary;
        if (deadline.hasExpired()) return Role::unreachable;
        QThread::msleep(100);
    }
}

void SingleInstance::listen() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // The lock is ours, so a socket file left here belongs to a crashed instance.
    QLocalServer::removeServer(socketPath());
    // Without the socket a later launch cannot reach us; it still finds the lock and stays away.
    if (!server_->listen(socketPath())) return;
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) return;
                if (socket->readLine() == kShowRequest) {
                    emit showRequested();
                    socket->write(kShowAnswer);
                }
                socket->disconnectFromServer();
            });
        }
    });
}

void SingleInstance::stopAnswering() {
    if (!server_) return;
    server_->close();  // also removes the socket file
    delete server_;
    server_ = nullptr;
}

bool SingleInstance::askPrimaryToShow() {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(1000)) return false;
    socket.write(kShowRequest);
    if (!socket.waitForBytesWritten(1000)) return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(2000)) return false;
    return socket.readLine() == kShowAnswer;
}

}  // namespace orvan
