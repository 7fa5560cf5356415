// The real app (same startup, same event loop) for whole-process tests. It takes its tool folder
// from ORVAN_TEST_TOOL_FOLDER, prints "launched" once the launch sequence has run and, given
// ORVAN_TEST_MIRROR_TARGET, starts a mirror of that serial and prints "mirror <pid>".
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "app/AppMain.h"
#include "platform/Dispatch.h"

int main(int argc, char** argv) {
    orvan::AppHooks hooks;
    hooks.adjustOptions = [](orvan::AppDelegate::Options& options) {
        if (const char* folder = std::getenv("ORVAN_TEST_TOOL_FOLDER"))
            options.service.tools = orvan::ToolLocation::inToolFolder(folder);
    };
    hooks.afterLaunch = [](orvan::AppDelegate& delegate) {
        std::printf("launched\n");
        std::fflush(stdout);
        const char* target = std::getenv("ORVAN_TEST_MIRROR_TARGET");
        if (!target) return;
        orvan::Dispatch::async([&service = delegate.service(), serial = std::string(target)] {
            try {
                service.startMirror(serial);
                for (const auto& [key, pid] : service.scrcpyLauncher().registrySnapshot().processes)
                    std::printf("mirror %d\n", static_cast<int>(pid));
            } catch (const std::exception& error) {
                std::printf("mirror failed: %s\n", error.what());
            }
            std::fflush(stdout);
        });
    };
    return orvan::runApplication(argc, argv, hooks);
}
