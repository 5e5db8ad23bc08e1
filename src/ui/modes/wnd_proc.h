#pragma once
// The window's message hook: the one place where the hot key and a folder handed over by a
// second start reach the window. Both handlers can run nested event loops (a message box, a
// change of the window's form), and a message may arrive inside such a loop; the hook then only
// passes it on, so a handler never runs inside itself.
#include <functional>
#include <string_view>

namespace ferretta::ui::modes {

enum class WindowMessage {
    HotKey,    // Ctrl+K was pressed anywhere on the desktop
    CopyData,  // a second start handed over its command line (the wire payload)
};

class WndProc {
  public:
    // onHotKey sends the hot-key event to the window-state machine; onFolder receives the
    // handed-over text (UTF-8, cut at the first zero byte, enclosing quotes still there).
    WndProc(std::function<void()> onHotKey, std::function<void(std::string_view)> onFolder)
        : m_onHotKey(std::move(onHotKey)), m_onFolder(std::move(onFolder)) {}

    WndProc(const WndProc&) = delete;
    WndProc& operator=(const WndProc&) = delete;

    // Handles one message and answers true. A message that arrives while another one is being
    // handled is only passed on: false, no handler runs, and the message is not queued. For
    // CopyData, `payload` is the bytes as sent (CP932 text followed by zero bytes); a payload
    // without a zero byte is taken whole. An exception from a handler travels to the caller;
    // the hook accepts messages again afterwards.
    bool operator()(WindowMessage message, std::string_view payload = {});

    // True while a handler runs.
    bool isInWndProc() const noexcept { return m_isInWndProc; }

  private:
    std::function<void()> m_onHotKey;
    std::function<void(std::string_view)> m_onFolder;
    bool m_isInWndProc = false;
};

}  // namespace ferretta::ui::modes
