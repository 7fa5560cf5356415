#pragma once

#include <functional>

#include "app/AppDelegate.h"

namespace orvan {

// What a whole-app test may change around the real startup: the delegate's options, and work
// to start once the launch sequence has run.
struct AppHooks {
    std::function<void(AppDelegate::Options&)> adjustOptions;
    std::function<void(AppDelegate&)> afterLaunch;
};

// The app's whole run: one instance per user session, the launch sequence, the event loop, and
// the termination sequence however the app is asked to end (window, signal, session end).
int runApplication(int argc, char** argv, const AppHooks& hooks = {});

}  // namespace orvan
