#include "platform/X11CompositorProbe.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace orvan {

namespace {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};

struct ConnectionCloser {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

}  // namespace

bool X11CompositorProbe::compositorRunning(const std::string& displayName) {
    int screen = 0;
    // xcb_connect never returns null: a failed connection carries an error state instead.
    std::unique_ptr<xcb_connection_t, ConnectionCloser> connection(
        xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screen));
    if (xcb_connection_has_error(connection.get()) != 0) return false;

    const std::string selection = "_NET_WM_CM_S" + std::to_string(screen);
    const auto atomCookie =
        xcb_intern_atom(connection.get(), 1, static_cast<uint16_t>(selection.size()), selection.c_str());
    std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> atom(
        xcb_intern_atom_reply(connection.get(), atomCookie, nullptr));
    // only_if_exists: no atom means no client ever named the selection, so nobody owns it.
    if (!atom || atom->atom == XCB_ATOM_NONE) return false;

    std::unique_ptr<xcb_get_selection_owner_reply_t, FreeDeleter> owner(xcb_get_selection_owner_reply(
        connection.get(), xcb_get_selection_owner(connection.get(), atom->atom), nullptr));
    return owner && owner->owner != XCB_NONE;
}

}  // namespace orvan
