#include "keyboard/layout_captions.h"

#include <QCoreApplication>

#include <memory>

// xcb's XKB header names a field "explicit", a keyword of C++.
#define explicit xcb_explicit
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>

#include "keyboard/input.h"
#include "keyboard/key_state.h"

namespace morvane {

namespace {

constexpr int kRoKeycode = 97;
constexpr int kYenKeycode = 132;
// xkb_keysym_to_utf8 wants room for the longest UTF-8 sequence and its terminator.
constexpr std::size_t kUtf8Capacity = 8;

// A dead key types nothing by itself; its caption is the accent it puts on the next key.
struct DeadKey {
    xkb_keysym_t keysym;
    const char* caption;
};
constexpr DeadKey kDeadKeys[] = {
    {XKB_KEY_dead_grave, "`"},
    {XKB_KEY_dead_acute, "\xC2\xB4"},
    {XKB_KEY_dead_circumflex, "^"},
    {XKB_KEY_dead_tilde, "~"},
    {XKB_KEY_dead_diaeresis, "\xC2\xA8"},
    {XKB_KEY_dead_cedilla, "\xC2\xB8"},
    {XKB_KEY_dead_abovering, "\xC2\xB0"},
    {XKB_KEY_dead_caron, "\xCB\x87"},
};

// Letters are shown in capitals, as printed on keycaps and in the key table.
std::string Caption(xkb_keysym_t keysym) {
    for (const DeadKey& dead : kDeadKeys) {
        if (dead.keysym == keysym)
            return dead.caption;
    }
    char text[kUtf8Capacity] = {};
    if (xkb_keysym_to_utf8(xkb_keysym_to_upper(keysym), text, sizeof text) <= 0)
        return {};
    return text;
}

struct XkbDeleter {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
template <typename T> using XkbPointer = std::unique_ptr<T, XkbDeleter>;

// Sets up the XKB extension on the connection; its first event code, or nothing.
std::optional<std::uint8_t> SetUpXkb(xcb_connection_t* connection) {
    std::uint8_t eventBase = 0;
    if (!connection || !xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                                    XKB_X11_MIN_MINOR_XKB_VERSION,
                                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr,
                                                    nullptr, &eventBase, nullptr))
        return std::nullopt;
    return eventBase;
}

} // namespace

std::optional<KeyCaptions> CaptionsForLayout(const KeysymLookup& keysymAt) {
    if (keysymAt(kRoKeycode) != XKB_KEY_NoSymbol && keysymAt(kYenKeycode) != XKB_KEY_NoSymbol)
        return std::nullopt;
    KeyCaptions captions;
    for (int key = 0; key < kKeyCount; ++key) {
        const int keycode = KeycodeForVirtualKey(KeyAt(key).VirtualKey);
        if (keycode != 0)
            captions[key] = Caption(keysymAt(keycode));
    }
    return captions;
}

std::optional<KeyCaptions> ActiveLayoutCaptions() {
    xcb_connection_t* connection = X11Connection();
    if (!SetUpXkb(connection))
        return std::nullopt;
    const XkbPointer<xkb_context> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    if (!context || device < 0)
        return std::nullopt;
    const XkbPointer<xkb_keymap> keymap(xkb_x11_keymap_new_from_device(
        context.get(), connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return std::nullopt;
    // The state holds the active layout (group); no modifier is taken into account, as a
    // keycap shows what a key types by itself.
    const XkbPointer<xkb_state> state(
        xkb_x11_state_new_from_device(keymap.get(), connection, device));
    if (!state)
        return std::nullopt;
    return CaptionsForLayout([&](int keycode) -> std::uint32_t {
        // The active layout as this key knows it: a key with fewer layouts wraps around.
        const xkb_layout_index_t layout = xkb_state_key_get_layout(state.get(), keycode);
        if (layout == XKB_LAYOUT_INVALID)
            return XKB_KEY_NoSymbol;
        const xkb_keysym_t* keysyms = nullptr;
        const int count =
            xkb_keymap_key_get_syms_by_level(keymap.get(), keycode, layout, 0, &keysyms);
        return count > 0 ? keysyms[0] : XKB_KEY_NoSymbol;
    });
}

LayoutChangeWatcher::LayoutChangeWatcher(std::function<void()> changed)
    : changed_(std::move(changed)) {
    // The toolkit already asks the server for these events, for its own key handling.
    if (const std::optional<std::uint8_t> base = SetUpXkb(X11Connection())) {
        xkbEventBase_ = *base;
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
}

LayoutChangeWatcher::~LayoutChangeWatcher() {
    if (xkbEventBase_ >= 0)
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool LayoutChangeWatcher::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    constexpr std::uint8_t kSentEventFlag = 0x80;
    if ((event->response_type & ~kSentEventFlag) != xkbEventBase_)
        return false;
    // Every XKB event starts with the response type and then its own kind.
    const auto* xkb = static_cast<const xcb_xkb_state_notify_event_t*>(message);
    const bool layoutChanged =
        xkb->xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkb->xkbType == XCB_XKB_MAP_NOTIFY ||
        (xkb->xkbType == XCB_XKB_STATE_NOTIFY && (xkb->changed & XCB_XKB_STATE_PART_GROUP_STATE));
    if (layoutChanged)
        changed_();
    return false; // the toolkit needs the event as well
}

} // namespace morvane
