#pragma once

#include "StandinConfig.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <string>

namespace orvan::standin {

struct WindowRequest {
    WindowGeometry geometry;
    std::string title;
    bool borderless = false;
    bool alwaysOnTop = false;
};

// The mirror window: a plain X11 top-level window that carries _NET_WM_PID (our pid) and
// WM_CLIENT_MACHINE, like the window of an SDL client. It shows no video; its size and owner
// are what the app looks at.
class StandinWindow {
public:
    // Null when there is no display; then `error` says why when one was expected
    // (DISPLAY set but the connection failed) and is empty when DISPLAY is unset.
    static std::unique_ptr<StandinWindow> open(const WindowRequest& request, std::string& error);
    ~StandinWindow();
    StandinWindow(const StandinWindow&) = delete;
    StandinWindow& operator=(const StandinWindow&) = delete;

    int fd() const;
    std::uint32_t id() const { return window_; }
    // Handles the events that arrived. Afterwards isMapped() and closeRequested() are current.
    void processEvents();
    bool isMapped() const { return mapped_; }
    // The window manager asked us to close (WM_DELETE_WINDOW), or the X server went away.
    bool closeRequested() const { return closeRequested_; }

private:
    StandinWindow(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t deleteAtom);

    xcb_connection_t* connection_;
    xcb_window_t window_;
    xcb_atom_t deleteAtom_;
    bool mapped_ = false;
    bool closeRequested_ = false;
};

}  // namespace orvan::standin
