#include "ui/modes/wnd_proc.h"

#include <string>

#include "ui/modes/single_instance.h"

namespace ferretta::ui::modes {

namespace {

// Clears the guard however the handler ends.
class GuardReset {
  public:
    explicit GuardReset(bool& flag) : m_flag(flag) { m_flag = true; }
    ~GuardReset() { m_flag = false; }
    GuardReset(const GuardReset&) = delete;
    GuardReset& operator=(const GuardReset&) = delete;

  private:
    bool& m_flag;
};

}  // namespace

bool WndProc::operator()(WindowMessage message, std::string_view payload) {
    if (m_isInWndProc)
        return false;
    GuardReset guard(m_isInWndProc);
    switch (message) {
        case WindowMessage::HotKey:
            if (m_onHotKey)
                m_onHotKey();
            break;
        case WindowMessage::CopyData: {
            const std::string text = handOffText(payload);
            if (m_onFolder)
                m_onFolder(text);
            break;
        }
    }
    return true;
}

}  // namespace ferretta::ui::modes
