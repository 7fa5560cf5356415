#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <string>

#include "app/SleepWatcher.h"
#include "platform/Process.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace orvan {
namespace {


TEST(SleepWatcherTest, WithoutABusItDoesNothing) {
    const auto bus = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/orvan-bus"),
                                                   QStringLiteral("orvan-missing-bus"));
    EXPECT_FALSE(bus.isConnected());
    SleepWatcher watcher(bus);
    EXPECT_FALSE(watcher.isListening());
    QDBusConnection::disconnectFromBus(QStringLiteral("orvan-missing-bus"));
}

// A private message bus for one test, ended (and reaped) with the fixture.
class PrivateBus {
public:
    PrivateBus() {
        try {
            // The session bus's rules (anyone may own a name and signal), on a socket of ours.
            daemon_ =
                ChildProcess::launch(ProcessSpec{"/usr/bin/env",
                                                 {"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                                  "--address=unix:dir=" + folder_.path().string(), "--print-address=1"},
                                                 {},
                                                 {}});
        } catch (const LaunchError&) {
            return;
        }
        // The daemon prints its address once it listens.
        std::string output;
        testing::waitUntil([&] {
            daemon_->readAvailable([&](std::string_view chunk) { output.append(chunk); });
            return output.find('\n') != std::string::npos;
        });
        if (const auto end = output.find('\n'); end != std::string::npos) address_ = output.substr(0, end);
    }
    ~PrivateBus() {
        if (daemon_) {
            daemon_->terminate();
            daemon_->waitForExit();
        }
    }

    const std::string& address() const { return address_; }

private:
    testing::TempDir folder_{"orvan-bus"};
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

class SleepWatcherBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus_.address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    }
    void TearDown() override {
        for (const char* name : {"orvan-watcher", "orvan-logind", "orvan-impostor"}) {
            QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
        }
    }

    QDBusConnection connect(const char* name) {
        return QDBusConnection::connectToBus(QString::fromStdString(bus_.address()), QString::fromLatin1(name));
    }

    static bool sendPrepareForSleep(QDBusConnection& connection, bool sleeping) {
        auto signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                 QStringLiteral("org.freedesktop.login1.Manager"),
                                                 QStringLiteral("PrepareForSleep"));
        signal << sleeping;
        return connection.send(signal);
    }
    // The watcher learns of logind's name a moment after it is taken: repeat until it hears.
    static bool sendUntilHeard(QDBusConnection& logind, bool sleeping, QSignalSpy& spy) {
        return QTest::qWaitFor([&] { return sendPrepareForSleep(logind, sleeping) && spy.wait(100); }, 20000);
    }

    PrivateBus bus_;
};

TEST_F(SleepWatcherBusTest, HearsLogindAnnounceSleepAndWakeButNoImpostor) {
    auto watcherBus = connect("orvan-watcher");
    ASSERT_TRUE(watcherBus.isConnected());
    SleepWatcher watcher(watcherBus);
    ASSERT_TRUE(watcher.isListening());
    QSignalSpy woke(&watcher, &SleepWatcher::didWake);
    QSignalSpy sleeping(&watcher, &SleepWatcher::willSleep);

    auto impostor = connect("orvan-impostor");
    ASSERT_TRUE(sendPrepareForSleep(impostor, false));
    auto logind = connect("orvan-logind");
    ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));
    // Heard after the impostor's wake was sent: had that been taken, it would show by now.
    ASSERT_TRUE(sendUntilHeard(logind, true, sleeping));
    EXPECT_EQ(woke.count(), 0);
    ASSERT_TRUE(sendUntilHeard(logind, false, woke));
}

}  // namespace
}  // namespace orvan
