#include "ui/X11Workspaces.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstring>
#include <memory>

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
} // namespace

namespace X11Workspaces {

void showOnAll(QWindow* window, bool all) {
    // Other platforms (offscreen among them) may answer for X11 too, without a connection.
    if (!window || !window->handle() || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return;
    const uint32_t desktop = all ? 0xFFFFFFFFu : currentDesktop(connection, screen->root);

    xcb_client_message_event_t event;
    memset(&event, 0, sizeof(event));
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window->winId());
    event.type = atom(connection, "_NET_WM_DESKTOP");
    event.data.data32[0] = desktop;
    event.data.data32[1] = 1; // a normal application asks
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    // Also for a window not mapped yet, which the manager reads the property of at map time.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, event.window, event.type,
                        XCB_ATOM_CARDINAL, 32, 1, &desktop);
    xcb_flush(connection);
}

} // namespace X11Workspaces
