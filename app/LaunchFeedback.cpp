#include "app/LaunchFeedback.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr int StartupInfoChunkBytes = 20; // the data of one client message, format 8

xcb_atom_t Atom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, std::strlen(name), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t RootOf(xcb_connection_t *connection, xcb_window_t window)
{
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> reply(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr), &std::free);
    return reply ? reply->root : xcb_window_t(XCB_WINDOW_NONE);
}

// "remove: ID=<token>", a space, quote or backslash in the token escaped by a backslash so
// that the launcher reads the token back whole.
QByteArray RemoveMessage(const QByteArray &token)
{
    QByteArray message = "remove: ID=";
    for (const char c : token) {
        if (c == ' ' || c == '"' || c == '\\')
            message += '\\';
        message += c;
    }
    return message;
}

// Ends the launcher's busy cursor: the message goes to the root window in pieces of 20
// bytes, the first of its own type, ending with a NUL and padded with NULs.
void SendRemoveMessage(xcb_connection_t *connection, xcb_window_t window, const QByteArray &token)
{
    const xcb_window_t root = RootOf(connection, window);
    const xcb_atom_t begin = Atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = Atom(connection, "_NET_STARTUP_INFO");
    const QByteArray message = RemoveMessage(token) + '\0';
    for (qsizetype at = 0; at < message.size(); at += StartupInfoChunkBytes) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = window;
        event.type = at == 0 ? begin : more;
        const qsizetype bytes = std::min<qsizetype>(StartupInfoChunkBytes, message.size() - at);
        std::memcpy(event.data.data8, message.constData() + at, bytes);
        // xcb_send_event takes the event as the 32 bytes that go on the wire.
        std::array<char, sizeof event> raw{};
        std::memcpy(raw.data(), &event, sizeof event);
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE, raw.data());
    }
}

void ActivateOnX11(QWidget *window, const QByteArray &token)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection) {
        window->activateWindow();
        return;
    }
    // The window manager compares the launch's time, in the token, with the window's last
    // input before it lets the window take the focus.
    const auto id = xcb_window_t(window->winId());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, Atom(connection, "_NET_STARTUP_ID"),
                        Atom(connection, "UTF8_STRING"), 8, token.size(), token.constData());
    window->activateWindow();
    SendRemoveMessage(connection, id, token);
    xcb_flush(connection);
}

} // namespace

bool IsLaunchToken(QByteArrayView token)
{
    return !token.isEmpty() && token.size() <= MaxLaunchTokenBytes &&
           std::all_of(token.begin(), token.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
}

QByteArray LaunchTokenOfThisStart()
{
    QByteArray token = qgetenv("DESKTOP_STARTUP_ID");
    if (token.isEmpty())
        token = qgetenv("XDG_ACTIVATION_TOKEN");
    return IsLaunchToken(token) ? token : QByteArray();
}

void ActivateForLaunch(QWidget *window, const QByteArray &token)
{
    if (token.isEmpty()) {
        window->activateWindow();
    } else if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        ActivateOnX11(window, token);
    } else {
        // Qt's Wayland windows ask the compositor for activation with the token in this
        // variable; it goes again, used or not, so that no later activation reuses it.
        qputenv("XDG_ACTIVATION_TOKEN", token);
        window->activateWindow();
        qunsetenv("XDG_ACTIVATION_TOKEN");
    }
}
