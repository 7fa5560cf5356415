#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

namespace orvan {

// One app per user session. The first launch holds a lock file and listens on a local socket,
// both in the user's runtime folder ($XDG_RUNTIME_DIR). A later launch finds the lock held, asks
// the holder through the socket to show its window, and leaves. A lock left by a crashed
// instance names a process that no longer runs; QLockFile then takes it over. A launch that finds
// the lock held but nobody answering (the holder is quitting) keeps trying for a while and runs
// once the holder is gone.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role {
        primary,     // this process runs the app
        secondary,   // another instance runs and was asked to show its window
        unreachable  // another instance holds the lock but does not answer
    };

    // `folder` empty: the user's runtime folder.
    explicit SingleInstance(QString folder = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    Role claim();
    QString socketPath() const;
    // The app begins to quit: later launches find no one to answer and wait for the lock, so none
    // hands over to an instance that is going away. The lock stays held until this process ends.
    void stopAnswering();

signals:
    void showRequested();

private:
    void listen();
    bool askPrimaryToShow();

    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

}  // namespace orvan
