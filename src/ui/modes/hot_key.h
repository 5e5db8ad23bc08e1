#pragma once
// The global hot key Ctrl+K: a key grab on the X server's root windows, so the key reaches the
// program whichever window has the focus. CapsLock and NumLock are modifiers to X, so the key
// is grabbed with each combination of them as well. Where there is no X11 connection (Wayland,
// the offscreen platform) or another program holds the key, the program runs without it and
// says nothing.
#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace ferretta::ui::modes {

// X modifier bits (the key event's state).
inline constexpr std::uint16_t shiftMask = 0x0001;
inline constexpr std::uint16_t lockMask = 0x0002;
inline constexpr std::uint16_t controlMask = 0x0004;

// The modifier states grabbed: Control, with and without Lock and the NumLock modifier. A
// NumLock modifier of 0 (no key carries it) or equal to Lock adds nothing.
std::vector<std::uint16_t> hotKeyModifierStates(std::uint16_t numLockMask);

// True when a key press is the hot key: one of the keycodes of "k", with Control and no other
// modifier than Lock and NumLock. Mouse-button bits of the state do not matter.
bool isHotKeyPress(std::uint8_t keycode, std::uint16_t state,
                   std::span<const std::uint8_t> keycodes, std::uint16_t numLockMask);

class HotKey : public QAbstractNativeEventFilter {
  public:
    // onPressed runs on the GUI thread for every press (auto-repeat included).
    explicit HotKey(std::function<void()> onPressed);
    ~HotKey() override;
    HotKey(const HotKey&) = delete;
    HotKey& operator=(const HotKey&) = delete;

    // Grabs Ctrl+K on the application's X connection and installs the event filter. Needs a
    // QGuiApplication. False when there is no X11 connection, "k" has no key, or every grab
    // was refused (another program holds the key); grabs that succeed are kept even when some
    // combination is refused.
    bool setHotKey();
    // Gives the grabs back and removes the filter; does nothing when nothing is held.
    void releaseHotKey();
    bool isRegistered() const;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    struct X11;
    std::function<void()> m_onPressed;
    std::unique_ptr<X11> m_x11;
    bool m_filterInstalled = false;
};

// Start-up: the hot key for the window, pressing it runs onPressed. Never fails; the answer
// may hold no grab (see setHotKey). Destroying it releases the key.
std::unique_ptr<HotKey> initHotKeyModuleValues(std::function<void()> onPressed);

}  // namespace ferretta::ui::modes
