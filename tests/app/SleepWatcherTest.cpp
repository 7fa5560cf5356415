#include "app/SleepWatcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/Process.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(SleepWatcherTest, TheSignalsArgumentTellsSleepFromWake) {
    SleepWatcher watcher(QDBusConnection(QStringLiteral("orvan-never-connected")));
    QSignalSpy woke(&watcher, &SleepWatcher::didWake);
    QSignalSpy sleeping(&watcher, &SleepWatcher::willSleep);

    watcher.prepareForSleep(true);
    EXPECT_EQ(sleeping.count(), 1);
    EXPECT_EQ(woke.count(), 0);

    watcher.prepareForSleep(false);
    EXPECT_EQ(sleeping.count(), 1);
    EXPECT_EQ(woke.count(), 1);
}

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
        folder_ = fs::temp_directory_path() / ("orvan-bus-" + std::to_string(getpid()));
        fs::create_directories(folder_);
        const fs::path config = folder_ / "bus.conf";
        FILE* file = std::fopen(config.c_str(), "w");
        if (file == nullptr) return;
        std::fprintf(file,
                     "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                     " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig><type>session</type><listen>unix:dir=%s</listen>\n"
                     "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n",
                     folder_.c_str());
        std::fclose(file);
        try {
            daemon_ = ChildProcess::launch(ProcessSpec{"/usr/bin/env",
                                                       {"dbus-daemon", "--config-file=" + config.string(), "--nofork", "--nopidfile",
                                                        "--print-address=1"},
                                                       {},
                                                       {}});
        } catch (const LaunchError&) {
            return;
        }
        // The daemon prints its address once it listens.
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        std::string output;
        while (output.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            if (!daemon_->readAvailable([&](std::string_view chunk) { output.append(chunk); })) break;
            QTest::qWait(20);
        }
        if (const auto end = output.find('\n'); end != std::string::npos) address_ = output.substr(0, end);
    }
    ~PrivateBus() {
        if (daemon_) {
            daemon_->terminate();
            daemon_->waitForExit();
        }
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }

private:
    fs::path folder_;
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

    PrivateBus bus_;
};

TEST_F(SleepWatcherBusTest, HearsLogindAnnounceSleepAndWake) {
    auto watcherBus = connect("orvan-watcher");
    ASSERT_TRUE(watcherBus.isConnected());
    SleepWatcher watcher(watcherBus);
    ASSERT_TRUE(watcher.isListening());
    QSignalSpy woke(&watcher, &SleepWatcher::didWake);
    QSignalSpy sleeping(&watcher, &SleepWatcher::willSleep);

    auto logind = connect("orvan-logind");
    ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));
    // Let the watcher learn the name's new owner before the first signal.
    QTest::qWait(200);

    ASSERT_TRUE(sendPrepareForSleep(logind, true));
    ASSERT_TRUE(sleeping.wait(3000));
    EXPECT_EQ(woke.count(), 0);

    ASSERT_TRUE(sendPrepareForSleep(logind, false));
    ASSERT_TRUE(woke.wait(3000));
    EXPECT_EQ(sleeping.count(), 1);
}

TEST_F(SleepWatcherBusTest, IgnoresTheSameSignalFromAnotherSender) {
    auto watcherBus = connect("orvan-watcher");
    SleepWatcher watcher(watcherBus);
    ASSERT_TRUE(watcher.isListening());
    QSignalSpy woke(&watcher, &SleepWatcher::didWake);

    auto impostor = connect("orvan-impostor");
    ASSERT_TRUE(sendPrepareForSleep(impostor, false));
    EXPECT_FALSE(woke.wait(500));

    // Once logind itself speaks, the watcher hears it: the bus did deliver.
    auto logind = connect("orvan-logind");
    ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));
    QTest::qWait(200);
    ASSERT_TRUE(sendPrepareForSleep(logind, false));
    ASSERT_TRUE(woke.wait(3000));
    EXPECT_EQ(woke.count(), 1);
}

}  // namespace
}  // namespace orvan
