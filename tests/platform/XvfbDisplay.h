#pragma once

// A private X server for one test: Xvfb on a display number it picks itself (-displayfd, so
// parallel tests never collide), optionally with openbox as the window manager. Both are
// stopped by pid and reaped when the object goes away, also when the test fails.

#include "platform/Process.h"
#include "support/TempDir.h"

#include <memory>
#include <string>

namespace orvan::testing {

class XvfbDisplay {
public:
    static bool serverAvailable();         // Xvfb is installed
    static bool windowManagerAvailable();  // openbox is installed
    // A display name no X server serves: far above the numbers servers pick for themselves,
    // so unlike a display just stopped it cannot be taken over by a parallel test's server.
    static std::string unservedName();

    // Throws std::runtime_error when the server (or the window manager) does not come up.
    explicit XvfbDisplay(bool withWindowManager = false);
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    const std::string& name() const { return name_; }  // ":N"
    // Stops the X server now (and the window manager with it), for tests of a lost display.
    void stop();

private:
    void startWindowManager();

    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> windowManager_;
    std::unique_ptr<TempDir> home_;  // the window manager's HOME and XDG folders
    std::string name_;
};

}  // namespace orvan::testing
