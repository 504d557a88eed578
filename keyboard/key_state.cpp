#include "keyboard/key_state.h"

#include <QGuiApplication>

#include <cstdlib>
#include <memory>

#include <xcb/xcb.h>

namespace morvane {

namespace {

constexpr int kBitsPerByte = 8;
constexpr int kKeymapBytes = 32;

} // namespace

xcb_connection_t* X11Connection() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

bool HasX11KeyState() {
    return X11Connection() != nullptr;
}

std::optional<bool> X11KeyDown(int keycode) {
    xcb_connection_t* connection = X11Connection();
    if (!connection || keycode < 0 || keycode >= kKeymapBytes * kBitsPerByte)
        return std::nullopt;
    std::unique_ptr<xcb_query_keymap_reply_t, decltype(&std::free)> reply(
        xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr), &std::free);
    if (!reply)
        return std::nullopt;
    return (reply->keys[keycode / kBitsPerByte] & (1 << (keycode % kBitsPerByte))) != 0;
}

} // namespace morvane
