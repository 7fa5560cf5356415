#include "StandinWindow.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orvan::standin {
namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(xcb_intern_atom_reply(connection, cookie, nullptr),
                                                                          &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

template <typename Element>
void setProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                 const std::vector<Element>& values) {
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, sizeof(Element) * 8,
                        static_cast<std::uint32_t>(values.size()), values.data());
}

void setText(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
             const std::string& text) {
    setProperty(connection, window, property, type, std::vector<char>(text.begin(), text.end()));
}

// ICCCM WM_NORMAL_HINTS: a window manager honours a requested position only when asked to.
void setSizeHints(xcb_connection_t* connection, xcb_window_t window, const WindowGeometry& geometry) {
    constexpr std::uint32_t userPosition = 1, userSize = 2, programPosition = 4, programSize = 8;
    std::vector<std::uint32_t> hints(18, 0);
    hints[0] = userSize | programSize | (geometry.x ? userPosition | programPosition : 0);
    hints[1] = static_cast<std::uint32_t>(geometry.x.value_or(0));
    hints[2] = static_cast<std::uint32_t>(geometry.y.value_or(0));
    hints[3] = static_cast<std::uint32_t>(geometry.width);
    hints[4] = static_cast<std::uint32_t>(geometry.height);
    setProperty(connection, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, hints);
}

void setIdentity(xcb_connection_t* connection, xcb_window_t window, const WindowRequest& request) {
    const auto utf8 = internAtom(connection, "UTF8_STRING");
    setText(connection, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, request.title);
    setText(connection, window, internAtom(connection, "_NET_WM_NAME"), utf8, request.title);
    setText(connection, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, std::string("scrcpy\0scrcpy", 13));
    setProperty(connection, window, internAtom(connection, "_NET_WM_PID"), XCB_ATOM_CARDINAL,
                std::vector<std::uint32_t>{static_cast<std::uint32_t>(::getpid())});
    std::array<char, 256> host{};
    if (::gethostname(host.data(), host.size() - 1) == 0) {
        setText(connection, window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, host.data());
    }
}

void setDecorations(xcb_connection_t* connection, xcb_window_t window, const WindowRequest& request) {
    if (request.borderless) {
        // Motif hints: flags = decorations, decorations = none.
        const auto motif = internAtom(connection, "_MOTIF_WM_HINTS");
        setProperty(connection, window, motif, motif, std::vector<std::uint32_t>{2, 0, 0, 0, 0});
    }
    if (request.alwaysOnTop) {
        setProperty(connection, window, internAtom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM,
                    std::vector<std::uint32_t>{internAtom(connection, "_NET_WM_STATE_ABOVE")});
    }
}

}  // namespace

std::unique_ptr<StandinWindow> StandinWindow::open(const WindowRequest& request, std::string& error) {
    error.clear();
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') return nullptr;
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        error = std::string("cannot connect to display ") + display;
        return nullptr;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    const xcb_screen_t* screen = screens.data;

    const auto& geometry = request.geometry;
    const xcb_window_t window = xcb_generate_id(connection);
    const std::uint32_t background = screen->root_depth >= 24 ? 0x202830 : screen->black_pixel;
    const std::uint32_t values[] = {background, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root,
                      static_cast<std::int16_t>(geometry.x.value_or(0)), static_cast<std::int16_t>(geometry.y.value_or(0)),
                      static_cast<std::uint16_t>(geometry.width), static_cast<std::uint16_t>(geometry.height), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    setIdentity(connection, window, request);
    setSizeHints(connection, window, geometry);
    setDecorations(connection, window, request);
    const auto deleteAtom = internAtom(connection, "WM_DELETE_WINDOW");
    setProperty(connection, window, internAtom(connection, "WM_PROTOCOLS"), XCB_ATOM_ATOM,
                std::vector<std::uint32_t>{deleteAtom});
    xcb_map_window(connection, window);
    xcb_flush(connection);
    return std::unique_ptr<StandinWindow>(new StandinWindow(connection, window, deleteAtom));
}

StandinWindow::StandinWindow(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t deleteAtom)
    : connection_(connection), window_(window), deleteAtom_(deleteAtom) {}

StandinWindow::~StandinWindow() {
    xcb_destroy_window(connection_, window_);
    xcb_flush(connection_);
    xcb_disconnect(connection_);
}

int StandinWindow::fd() const { return xcb_get_file_descriptor(connection_); }

void StandinWindow::processEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        switch (event->response_type & 0x7F) {
        case XCB_MAP_NOTIFY:
            mapped_ = true;
            break;
        case XCB_UNMAP_NOTIFY:
            mapped_ = false;
            break;
        case XCB_CLIENT_MESSAGE: {
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (message->format == 32 && message->data.data32[0] == deleteAtom_) closeRequested_ = true;
            break;
        }
        default:
            break;
        }
        std::free(event);
    }
    if (xcb_connection_has_error(connection_) != 0) closeRequested_ = true;
}

}  // namespace orvan::standin
