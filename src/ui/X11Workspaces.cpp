#include "ui/X11Workspaces.h"

#include <QColor>
#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>

namespace {
xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    const auto cookie = xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The desktop the user is on, so that "off" leaves the window where it is seen.
uint32_t currentDesktop(xcb_connection_t* connection, xcb_window_t root) {
    const auto cookie = xcb_get_property(
        connection, 0, root, atom(connection, "_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL, 0, 1);
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &free);
    if (!reply || xcb_get_property_value_length(reply.get()) < 4)
        return 0;
    return *static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
}

// The window's connection and root, when the application runs on xcb.
struct X11Window {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    xcb_window_t window = 0;
};

std::optional<X11Window> x11Window(QWindow* window) {
    // Other platforms (offscreen among them) may answer for X11 too, without a connection.
    if (!window || !window->handle() || QGuiApplication::platformName() != QLatin1String("xcb"))
        return std::nullopt;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return std::nullopt;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return std::nullopt;
    return X11Window{connection, screen->root, xcb_window_t(window->winId())};
}

// An EWMH request to the window manager about the window.
void ask(const X11Window& x, xcb_atom_t type, std::initializer_list<uint32_t> data) {
    xcb_client_message_event_t event;
    memset(&event, 0, sizeof(event));
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = x.window;
    event.type = type;
    std::copy(data.begin(), data.end(), event.data.data32);
    xcb_send_event(x.connection, 0, x.root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
}
} // namespace

namespace X11Workspaces {

void showOnAll(QWindow* window, bool all) {
    const std::optional<X11Window> x = x11Window(window);
    if (!x)
        return;
    const uint32_t desktop = all ? 0xFFFFFFFFu : currentDesktop(x->connection, x->root);
    const xcb_atom_t type = atom(x->connection, "_NET_WM_DESKTOP");
    ask(*x, type, {desktop, 1}); // 1: a normal application asks
    // Also for a window not mapped yet, which the manager reads the property of at map time.
    xcb_change_property(x->connection, XCB_PROP_MODE_REPLACE, x->window, type, XCB_ATOM_CARDINAL,
                        32, 1, &desktop);
    xcb_flush(x->connection);
}

void keepAbove(QWindow* window, bool above) {
    const std::optional<X11Window> x = x11Window(window);
    if (!x)
        return;
    // 1 add, 0 remove; the last 1: a normal application asks.
    ask(*x, atom(x->connection, "_NET_WM_STATE"),
        {above ? 1u : 0u, atom(x->connection, "_NET_WM_STATE_ABOVE"), 0, 1});
    xcb_flush(x->connection);
}

void fillBackground(QWindow* window, const QColor& color) {
    const std::optional<X11Window> x = x11Window(window);
    if (!x)
        return;
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&free)> geometry(
        xcb_get_geometry_reply(x->connection, xcb_get_geometry(x->connection, x->window), nullptr),
        &free);
    // A 32-bit visual reads the top byte as alpha; the others have no such byte.
    const uint32_t pixel = (geometry && geometry->depth == 32 ? 0xFF000000u : 0u) |
                           (uint32_t(color.red()) << 16) | (uint32_t(color.green()) << 8) |
                           uint32_t(color.blue());
    xcb_change_window_attributes(x->connection, x->window, XCB_CW_BACK_PIXEL, &pixel);
    xcb_flush(x->connection);
}

} // namespace X11Workspaces
