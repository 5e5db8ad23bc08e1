#include "ui/modes/hot_key.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>

namespace ferretta::ui::modes {

namespace {

constexpr xcb_keysym_t kKeysymK = 0x006b;
constexpr xcb_keysym_t kKeysymNumLock = 0xff7f;
// The eight modifier bits; the bits above them are mouse buttons.
constexpr std::uint16_t kModifierBits = 0x00ff;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

}  // namespace

std::vector<std::uint16_t> hotKeyModifierStates(std::uint16_t numLockMask) {
    std::vector<std::uint16_t> states{controlMask, controlMask | lockMask};
    if (numLockMask != 0 && numLockMask != lockMask && numLockMask != controlMask) {
        states.push_back(static_cast<std::uint16_t>(controlMask | numLockMask));
        states.push_back(static_cast<std::uint16_t>(controlMask | lockMask | numLockMask));
    }
    return states;
}

bool isHotKeyPress(std::uint8_t keycode, std::uint16_t state,
                   std::span<const std::uint8_t> keycodes, std::uint16_t numLockMask) {
    if (std::find(keycodes.begin(), keycodes.end(), keycode) == keycodes.end())
        return false;
    const auto ignored = static_cast<std::uint16_t>(lockMask | numLockMask);
    return (state & kModifierBits & ~ignored) == controlMask;
}

struct HotKey::X11 {
    struct Grab {
        xcb_window_t root;
        xcb_keycode_t keycode;
        std::uint16_t modifiers;
    };

    xcb_connection_t* connection = nullptr;
    xcb_key_symbols_t* symbols = nullptr;
    std::vector<xcb_window_t> roots;
    std::vector<std::uint8_t> keycodes;
    std::uint16_t numLockMask = 0;
    std::vector<Grab> grabs;

    ~X11() {
        ungrab();
        if (symbols != nullptr)
            xcb_key_symbols_free(symbols);
    }

    std::vector<xcb_keycode_t> keycodesOf(xcb_keysym_t keysym) const {
        std::vector<xcb_keycode_t> out;
        XcbReply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, keysym));
        if (codes == nullptr)
            return out;
        for (const xcb_keycode_t* code = codes.get(); *code != XCB_NO_SYMBOL; ++code)
            out.push_back(*code);
        return out;
    }

    // The modifier bit that the Num_Lock key sets; 0 when no key does.
    std::uint16_t findNumLockMask() const {
        const std::vector<xcb_keycode_t> numLockKeys = keycodesOf(kKeysymNumLock);
        if (numLockKeys.empty())
            return 0;
        XcbReply<xcb_get_modifier_mapping_reply_t> mapping(xcb_get_modifier_mapping_reply(
            connection, xcb_get_modifier_mapping(connection), nullptr));
        if (mapping == nullptr)
            return 0;
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
        const int perModifier = mapping->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t code = codes[modifier * perModifier + i];
                if (code != 0 &&
                    std::find(numLockKeys.begin(), numLockKeys.end(), code) != numLockKeys.end())
                    return static_cast<std::uint16_t>(1u << modifier);
            }
        }
        return 0;
    }

    bool grab() {
        ungrab();
        keycodes = keycodesOf(kKeysymK);
        numLockMask = findNumLockMask();
        std::vector<Grab> wanted;
        for (xcb_window_t root : roots)
            for (xcb_keycode_t keycode : keycodes)
                for (std::uint16_t modifiers : hotKeyModifierStates(numLockMask))
                    wanted.push_back({root, keycode, modifiers});
        // Send every request first, then collect the answers: one round trip, not one each.
        std::vector<xcb_void_cookie_t> cookies;
        cookies.reserve(wanted.size());
        for (const Grab& g : wanted)
            cookies.push_back(xcb_grab_key_checked(connection, 0, g.root, g.modifiers, g.keycode,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            XcbReply<xcb_generic_error_t> error(xcb_request_check(connection, cookies[i]));
            // BadAccess: another client holds this combination.
            if (error == nullptr)
                grabs.push_back(wanted[i]);
        }
        xcb_flush(connection);
        return !grabs.empty();
    }

    void ungrab() {
        if (connection == nullptr || grabs.empty())
            return;
        for (const Grab& g : grabs)
            xcb_ungrab_key(connection, g.keycode, g.root, g.modifiers);
        grabs.clear();
        xcb_flush(connection);
    }
};

HotKey::HotKey(std::function<void()> onPressed) : m_onPressed(std::move(onPressed)) {}

HotKey::~HotKey() {
    releaseHotKey();
}

bool HotKey::setHotKey() {
    releaseHotKey();
    auto* application = qGuiApp;
    if (application == nullptr)
        return false;
    auto* native = application->nativeInterface<QNativeInterface::QX11Application>();
    if (native == nullptr || native->connection() == nullptr)
        return false;
    auto x11 = std::make_unique<X11>();
    x11->connection = native->connection();
    x11->symbols = xcb_key_symbols_alloc(x11->connection);
    if (x11->symbols == nullptr)
        return false;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(x11->connection));
         it.rem > 0; xcb_screen_next(&it)) {
        x11->roots.push_back(it.data->root);
    }
    // The filter stays even when no grab succeeds: a later keyboard-mapping change retries.
    m_x11 = std::move(x11);
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_filterInstalled = true;
    return m_x11->grab();
}

void HotKey::releaseHotKey() {
    if (m_filterInstalled && QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeNativeEventFilter(this);
    m_filterInstalled = false;
    m_x11.reset();
}

bool HotKey::isRegistered() const {
    return m_x11 != nullptr && !m_x11->grabs.empty();
}

bool HotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* /*result*/) {
    if (m_x11 == nullptr || message == nullptr || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
        case XCB_KEY_PRESS: {
            const auto* press = static_cast<const xcb_key_press_event_t*>(message);
            if (std::find(m_x11->roots.begin(), m_x11->roots.end(), press->event) ==
                    m_x11->roots.end() ||
                !isHotKeyPress(press->detail, press->state, m_x11->keycodes, m_x11->numLockMask))
                return false;
            if (m_onPressed)
                m_onPressed();
            return true;  // the key was grabbed for us alone
        }
        case XCB_KEY_RELEASE: {
            // The release of a grabbed key comes to the root window too; no widget wants it.
            const auto* release = static_cast<const xcb_key_release_event_t*>(message);
            return std::find(m_x11->roots.begin(), m_x11->roots.end(), release->event) !=
                       m_x11->roots.end() &&
                   isHotKeyPress(release->detail, release->state, m_x11->keycodes,
                                 m_x11->numLockMask);
        }
        case XCB_MAPPING_NOTIFY: {
            auto* mapping = static_cast<xcb_mapping_notify_event_t*>(message);
            if (mapping->request == XCB_MAPPING_KEYBOARD ||
                mapping->request == XCB_MAPPING_MODIFIER) {
                xcb_refresh_keyboard_mapping(m_x11->symbols, mapping);
                m_x11->grab();
            }
            return false;  // Qt follows the new mapping as well
        }
        default:
            return false;
    }
}

std::unique_ptr<HotKey> initHotKeyModuleValues(std::function<void()> onPressed) {
    auto hotKey = std::make_unique<HotKey>(std::move(onPressed));
    hotKey->setHotKey();
    return hotKey;
}

}  // namespace ferretta::ui::modes
