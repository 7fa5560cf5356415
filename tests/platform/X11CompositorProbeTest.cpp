// Compositor detection against a real X server: a client that owns _NET_WM_CM_S0 is what a
// compositing manager looks like to everybody else.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "XvfbDisplay.h"
#include "platform/X11CompositorProbe.h"

namespace orvan {
namespace {

using testing::XvfbDisplay;

// Takes a selection the way a compositor does: with a window of its own as the owner.
class SelectionOwner {
public:
    SelectionOwner(const std::string& display, const std::string& selection)
        : connection_(xcb_connect(display.c_str(), nullptr)) {
        if (xcb_connection_has_error(connection_) != 0) throw std::runtime_error("cannot connect to " + display);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        const xcb_window_t window = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        auto* atom = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(selection.size()), selection.c_str()),
            nullptr);
        if (atom == nullptr) throw std::runtime_error("cannot intern " + selection);
        xcb_set_selection_owner(connection_, window, atom->atom, XCB_CURRENT_TIME);
        std::free(atom);
        // A round trip: the ownership is in place before the test looks.
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }
    ~SelectionOwner() { release(); }
    SelectionOwner(const SelectionOwner&) = delete;
    SelectionOwner& operator=(const SelectionOwner&) = delete;

    // Disconnecting drops every selection the client owned, as when a compositor quits.
    void release() {
        if (connection_ != nullptr) xcb_disconnect(connection_);
        connection_ = nullptr;
    }

private:
    xcb_connection_t* connection_;
};

class X11CompositorProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!XvfbDisplay::serverAvailable()) GTEST_SKIP() << "Xvfb is not installed";
        display_ = std::make_unique<XvfbDisplay>();
    }

    std::unique_ptr<XvfbDisplay> display_;
};

TEST_F(X11CompositorProbeTest, OnlyAnOwnerOfThisScreensSelectionIsACompositorUntilItLeaves) {
    EXPECT_FALSE(X11CompositorProbe::compositorRunning(display_->name()));
    // Another screen's selection (and a look-alike name) say nothing about screen 0.
    SelectionOwner otherScreen(display_->name(), "_NET_WM_CM_S1");
    SelectionOwner lookAlike(display_->name(), "_NET_WM_CM_S");
    EXPECT_FALSE(X11CompositorProbe::compositorRunning(display_->name()));
    SelectionOwner compositor(display_->name(), "_NET_WM_CM_S0");
    EXPECT_TRUE(X11CompositorProbe::compositorRunning(display_->name()));
    compositor.release();
    EXPECT_FALSE(X11CompositorProbe::compositorRunning(display_->name()));
}

}  // namespace
}  // namespace orvan
