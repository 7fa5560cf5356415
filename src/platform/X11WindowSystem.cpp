#include "platform/X11WindowSystem.h"

#include <xcb/res.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace orvan {
namespace {

// A failed connection is retried at most this often, so a missing X server costs nothing in
// the readiness loop that polls the window list every 50 ms.
constexpr auto reconnectPause = std::chrono::seconds(1);

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

}  // namespace

namespace detail {
struct X11Connection {
    xcb_connection_t* xcb = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    int screen = 0;
    xcb_window_t root = XCB_NONE;
    bool hasClientIds = false;  // X-Resource 1.2 or later

    ~X11Connection() {
        if (ewmhReady) xcb_ewmh_connection_wipe(&ewmh);
        if (xcb != nullptr) xcb_disconnect(xcb);
    }
};
}  // namespace detail

namespace {

using Connection = detail::X11Connection;

// What one window looks like, read with pipelined requests.
struct Probe {
    xcb_window_t window = XCB_NONE;
    bool exists = false;
    bool viewable = false;
    bool overrideRedirect = false;
    bool hidden = false;
    WindowInfo info;
};

bool windowManagerPresent(Connection& c) {
    // The check window must point at itself, or the property is a leftover of a WM that quit.
    auto checkOf = [&](xcb_window_t window) -> std::optional<xcb_window_t> {
        xcb_window_t result = XCB_NONE;
        const auto cookie = xcb_ewmh_get_supporting_wm_check(&c.ewmh, window);
        if (xcb_ewmh_get_supporting_wm_check_reply(&c.ewmh, cookie, &result, nullptr) == 0) return std::nullopt;
        return result;
    };
    const auto check = checkOf(c.root);
    return check && *check != XCB_NONE && checkOf(*check) == check;
}

std::optional<std::vector<xcb_window_t>> clientList(Connection& c, bool stacking) {
    xcb_ewmh_get_windows_reply_t reply{};
    const bool ok =
        stacking ? xcb_ewmh_get_client_list_stacking_reply(
                       &c.ewmh, xcb_ewmh_get_client_list_stacking(&c.ewmh, c.screen), &reply, nullptr) != 0
                 : xcb_ewmh_get_client_list_reply(&c.ewmh, xcb_ewmh_get_client_list(&c.ewmh, c.screen), &reply,
                                                  nullptr) != 0;
    if (!ok) return std::nullopt;
    std::vector<xcb_window_t> windows(reply.windows, reply.windows + reply.windows_len);
    xcb_ewmh_get_windows_reply_wipe(&reply);
    return windows;
}

std::vector<xcb_window_t> childrenOf(Connection& c, xcb_window_t window) {
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c.xcb, xcb_query_tree(c.xcb, window), nullptr));
    if (!tree) return {};
    const auto* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
}

// The clients of a window manager that keeps no client list (Weston's XWayland WM): the windows
// carrying WM_STATE, at the top level or one level down inside the WM's frames; bottom to top.
std::vector<xcb_window_t> icccmClients(Connection& c) {
    static const char kWmState[] = "WM_STATE";
    Reply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c.xcb, xcb_intern_atom(c.xcb, 1, sizeof kWmState - 1, kWmState), nullptr));
    if (!atom || atom->atom == XCB_NONE) return {};
    auto hasWmState = [&](xcb_window_t window) {
        Reply<xcb_get_property_reply_t> state(xcb_get_property_reply(
            c.xcb, xcb_get_property(c.xcb, 0, window, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
        return state && state->type != XCB_NONE;
    };
    std::vector<xcb_window_t> clients;
    for (xcb_window_t top : childrenOf(c, c.root)) {
        if (hasWmState(top)) {
            clients.push_back(top);
            continue;
        }
        for (xcb_window_t inner : childrenOf(c, top))
            if (hasWmState(inner)) clients.push_back(inner);
    }
    return clients;
}

// Top-level windows, bottom to top. `managed` tells whether a window manager chose them.
std::vector<xcb_window_t> topLevelWindows(Connection& c, bool& managed) {
    managed = windowManagerPresent(c);
    if (managed) {
        if (auto windows = clientList(c, true); windows && !windows->empty()) return *windows;
        // The unordered list still names the right windows when a WM keeps no stacking list.
        if (auto windows = clientList(c, false)) return *windows;
        // A WM without the list at all still marks its clients the old way.
        if (auto windows = icccmClients(c); !windows.empty()) return windows;
    }
    // Without a WM the root's children are the top-level windows; with a reparenting WM they
    // would be its frames, which belong to the WM, so only fall back when there is none.
    managed = false;
    return childrenOf(c, c.root);
}

bool containsAtom(const xcb_ewmh_get_atoms_reply_t& atoms, xcb_atom_t atom) {
    return std::find(atoms.atoms, atoms.atoms + atoms.atoms_len, atom) != atoms.atoms + atoms.atoms_len;
}

// Fills geometry, attributes, _NET_WM_PID, state and type for every window, sending all
// requests before waiting for the first reply (one round trip instead of one per window).
std::vector<Probe> probeWindows(Connection& c, const std::vector<xcb_window_t>& windows) {
    struct Cookies {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
        xcb_get_property_cookie_t pid, state, type;
    };
    std::vector<Cookies> cookies;
    cookies.reserve(windows.size());
    for (const auto window : windows) {
        cookies.push_back({xcb_get_window_attributes(c.xcb, window), xcb_get_geometry(c.xcb, window),
                           xcb_translate_coordinates(c.xcb, window, c.root, 0, 0),
                           xcb_ewmh_get_wm_pid(&c.ewmh, window), xcb_ewmh_get_wm_state(&c.ewmh, window),
                           xcb_ewmh_get_wm_window_type(&c.ewmh, window)});
    }
    std::vector<Probe> probes(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        auto& probe = probes[i];
        probe.window = windows[i];
        probe.info.windowId = windows[i];
        // Every reply is taken, even after a failure, so none is left queued. A window that
        // vanished since the listing gives error replies and is dropped.
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c.xcb, cookies[i].attributes, nullptr));
        Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c.xcb, cookies[i].geometry, nullptr));
        Reply<xcb_translate_coordinates_reply_t> origin(
            xcb_translate_coordinates_reply(c.xcb, cookies[i].origin, nullptr));
        std::uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(&c.ewmh, cookies[i].pid, &pid, nullptr) != 0) {
            probe.info.pid = static_cast<pid_t>(pid);
        }
        xcb_ewmh_get_atoms_reply_t atoms{};
        if (xcb_ewmh_get_wm_state_reply(&c.ewmh, cookies[i].state, &atoms, nullptr) != 0) {
            probe.hidden = containsAtom(atoms, c.ewmh._NET_WM_STATE_HIDDEN);
            if (containsAtom(atoms, c.ewmh._NET_WM_STATE_ABOVE)) probe.info.layer = 1;
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        if (xcb_ewmh_get_wm_window_type_reply(&c.ewmh, cookies[i].type, &atoms, nullptr) != 0) {
            if (containsAtom(atoms, c.ewmh._NET_WM_WINDOW_TYPE_DOCK) ||
                containsAtom(atoms, c.ewmh._NET_WM_WINDOW_TYPE_NOTIFICATION)) {
                probe.info.layer = 1;
            }
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        if (!attributes || !geometry || !origin) continue;
        probe.exists = true;
        probe.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
                         attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT;
        probe.overrideRedirect = attributes->override_redirect != 0;
        // Geometry x/y are relative to the parent (a WM frame); translate for the screen position.
        probe.info.x = origin->dst_x;
        probe.info.y = origin->dst_y;
        probe.info.width = geometry->width;
        probe.info.height = geometry->height;
    }
    return probes;
}

// Clients that never set _NET_WM_PID (Xt programs, for example) still have a pid the X
// server knows, when they are local.
void fillPidsFromClientIds(Connection& c, std::vector<Probe>& probes) {
    if (!c.hasClientIds) return;
    std::vector<std::pair<Probe*, xcb_res_query_client_ids_cookie_t>> pending;
    for (auto& probe : probes) {
        if (!probe.exists || probe.info.pid != 0) continue;
        const xcb_res_client_id_spec_t spec{probe.window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        pending.emplace_back(&probe, xcb_res_query_client_ids(c.xcb, 1, &spec));
    }
    for (auto& [probe, cookie] : pending) {
        Reply<xcb_res_query_client_ids_reply_t> reply(xcb_res_query_client_ids_reply(c.xcb, cookie, nullptr));
        if (!reply) continue;
        for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem > 0;
             xcb_res_client_id_value_next(&ids)) {
            if ((ids.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
                xcb_res_client_id_value_value_length(ids.data) >= 1) {
                probe->info.pid = static_cast<pid_t>(*xcb_res_client_id_value_value(ids.data));
                break;
            }
        }
    }
}

// Errors of requests without replies land in the event queue, which nobody else reads here.
void discardEvents(Connection& c) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c.xcb)) std::free(event);
}

// The windows to consider, bottom to top, probed and owned.
std::vector<Probe> ownedTopLevels(Connection& c, bool& managed) {
    auto probes = probeWindows(c, topLevelWindows(c, managed));
    fillPidsFromClientIds(c, probes);
    discardEvents(c);
    return probes;
}

bool isVisible(const Probe& probe, bool managed) {
    return probe.exists && probe.viewable && !probe.hidden && (managed || !probe.overrideRedirect);
}

}  // namespace

X11WindowSystem::X11WindowSystem(std::string displayName) : displayName_(std::move(displayName)) {}

X11WindowSystem::~X11WindowSystem() = default;

detail::X11Connection* X11WindowSystem::connection() {
    if (connection_ && xcb_connection_has_error(connection_->xcb) == 0) return connection_.get();
    connection_.reset();
    const auto now = std::chrono::steady_clock::now();
    if (lastFailure_ != std::chrono::steady_clock::time_point{} && now - lastFailure_ < reconnectPause) return nullptr;

    std::string display = displayName_;
    if (display.empty()) {
        const char* fromEnvironment = std::getenv("DISPLAY");
        display = fromEnvironment != nullptr ? fromEnvironment : "";
    }
    // No DISPLAY means no X11 session (a console, or Wayland without XWayland): nothing to ask.
    if (display.empty()) return nullptr;

    auto c = std::make_unique<Connection>();
    c->xcb = xcb_connect(display.c_str(), &c->screen);
    if (xcb_connection_has_error(c->xcb) != 0) {
        lastFailure_ = now;
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(c->xcb));
    for (int i = 0; i < c->screen && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) {
        lastFailure_ = now;
        return nullptr;
    }
    c->root = screens.data->root;
    c->ewmhReady = xcb_ewmh_init_atoms_replies(&c->ewmh, xcb_ewmh_init_atoms(c->xcb, &c->ewmh), nullptr) != 0;
    if (!c->ewmhReady) {
        lastFailure_ = now;
        return nullptr;
    }
    const auto* resExtension = xcb_get_extension_data(c->xcb, &xcb_res_id);
    if (resExtension != nullptr && resExtension->present != 0) {
        Reply<xcb_res_query_version_reply_t> version(
            xcb_res_query_version_reply(c->xcb, xcb_res_query_version(c->xcb, 1, 2), nullptr));
        c->hasClientIds =
            version && (version->server_major > 1 || (version->server_major == 1 && version->server_minor >= 2));
    }
    lastFailure_ = {};
    connection_ = std::move(c);
    return connection_.get();
}

std::vector<WindowInfo> X11WindowSystem::visibleTopLevelWindows() {
    std::lock_guard lock(mutex_);
    Connection* c = connection();
    if (c == nullptr) return {};
    bool managed = false;
    const auto probes = ownedTopLevels(*c, managed);
    std::vector<WindowInfo> windows;
    for (auto it = probes.rbegin(); it != probes.rend(); ++it) {  // frontmost first
        if (isVisible(*it, managed)) windows.push_back(it->info);
    }
    return windows;
}

bool X11WindowSystem::raiseWindowsOf(pid_t pid) {
    if (pid <= 0) return false;
    std::lock_guard lock(mutex_);
    Connection* c = connection();
    if (c == nullptr) return false;
    bool managed = false;
    std::vector<xcb_window_t> targets;  // bottom to top, so the frontmost is raised last
    for (const auto& probe : ownedTopLevels(*c, managed)) {
        if (!probe.exists || probe.info.pid != pid) continue;
        // A window manager can also bring back a minimised window; without one only a
        // mapped window can be raised and focused.
        if (managed ? !probe.overrideRedirect : isVisible(probe, managed)) targets.push_back(probe.window);
    }
    for (const auto window : targets) {
        if (managed) {
            // Source "pager" (2) is what gets past focus-stealing prevention.
            xcb_ewmh_request_change_active_window(&c->ewmh, c->screen, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                                  XCB_CURRENT_TIME, XCB_NONE);
        } else {
            const std::uint32_t above = XCB_STACK_MODE_ABOVE;
            xcb_configure_window(c->xcb, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        }
    }
    if (!targets.empty() && !managed) {
        xcb_set_input_focus(c->xcb, XCB_INPUT_FOCUS_POINTER_ROOT, targets.back(), XCB_CURRENT_TIME);
    }
    // A round trip, so the server has acted on the requests when we return.
    Reply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(c->xcb, xcb_get_input_focus(c->xcb), nullptr));
    discardEvents(*c);
    return !targets.empty();
}

}  // namespace orvan
