// The real app for whole-process tests: tools from ORVAN_TEST_TOOL_FOLDER; prints "launched"
// after the launch sequence and, given ORVAN_TEST_MIRROR_TARGET, mirrors it (as a glasses-shell
// mirror with ORVAN_TEST_GLASS_SHELL=1) and prints "mirror <pid>". ORVAN_TEST_BUSY_AT_QUIT=1: an
// adb command of the service that would wait 30 s is running when the quit begins, so the quit
// takes the mirrors' grace before it ends the command.
// ORVAN_TEST_START_AT_QUIT=<target>: a mirror start of it comes once the quit has begun; prints
// "mirror <pid>" or "start cancelled".
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "app/AppMain.h"
#include "foundation/MirrorError.h"
#include "platform/Dispatch.h"
#include "support/FakeWifiSystem.h"
#include "support/RegisteredWindows.h"

int main(int argc, char** argv) {
    orvan::AppHooks hooks;
    hooks.adjustOptions = [](orvan::AppDelegate::Options& options) {
        if (const char* folder = std::getenv("ORVAN_TEST_TOOL_FOLDER"))
            options.service.tools = orvan::ToolLocation::inToolFolder(folder);
        // No Wi-Fi: the scan page asks the computer's Wi-Fi tools and keyring nothing.
        options.wifi = std::make_shared<orvan::FakeWifiSystem>();
    };
    hooks.afterLaunch = [](orvan::AppDelegate& delegate) {
        std::printf("launched\n");
        std::fflush(stdout);
        if (const char* target = std::getenv("ORVAN_TEST_START_AT_QUIT"))
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, [&delegate, target] {
                try {
                    delegate.service().startMirror(target);
                    for (const auto& [key, pid] : orvan::testing::registeredPids(delegate.service().scrcpyLauncher()))
                        std::printf("mirror %d\n", pid);
                } catch (const orvan::MirrorError& error) {
                    std::printf("start %s\n",
                                error.kind() == orvan::MirrorError::Kind::cancelled ? "cancelled" : "failed");
                }
                std::fflush(stdout);
            });
        if (std::getenv("ORVAN_TEST_BUSY_AT_QUIT"))
            delegate.service().tasks().async([&service = delegate.service()] {
                try {
                    service.runAdb({"wait-for-device"}, {.timeout = std::chrono::seconds(30),
                                                         .check = false,
                                                         .serial = "127.0.0.1:9",
                                                         .scope = orvan::AdbServerScope::privateMirroring});
                } catch (const orvan::MirrorError&) {
                    // ended by the quit
                }
            });
        if (const char* target = std::getenv("ORVAN_TEST_MIRROR_TARGET"))
            orvan::Dispatch::async([&service = delegate.service(), serial = std::string(target),
                                    glassShell = std::getenv("ORVAN_TEST_GLASS_SHELL") != nullptr] {
                glassShell ? service.startGlassShellMirror(serial) : service.startMirror(serial);
                for (const auto& [key, pid] : orvan::testing::registeredPids(service.scrcpyLauncher()))
                    std::printf("mirror %d\n", pid);
                std::fflush(stdout);
            });
    };
    return orvan::runApplication(argc, argv, hooks);
}
