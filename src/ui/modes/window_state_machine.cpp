#include "ui/modes/window_state_machine.h"

#include <array>
#include <cstddef>
#include <string>

namespace ferretta::ui::modes {
namespace {

enum class Action : unsigned char {
    TrayOff,
    TrayOn,
    Minimum,
    Normal,
    ToggleUp,
    ToggleDown,
    Show,
    Focus,
    Exit,
};

// No cell needs more than three actions; unused slots are never read.
constexpr std::size_t kMaxActions = 3;
constexpr int kNoCell = -1;
constexpr int kKeepState = -2;  // exit cells: the program ends, no state follows

struct Cell {
    int nextState = kNoCell;
    std::size_t actionCount = 0;
    std::array<Action, kMaxActions> actions{};
};

constexpr Cell none() {
    return {};
}
constexpr Cell exitCell() {
    return {kKeepState, 1, {Action::Exit}};
}
constexpr Cell to(int next) {
    return {next, 0, {}};
}
constexpr Cell to(int next, Action a) {
    return {next, 1, {a}};
}
constexpr Cell to(int next, Action a, Action b) {
    return {next, 2, {a, b}};
}
constexpr Cell to(int next, Action a, Action b, Action c) {
    return {next, 3, {a, b, c}};
}

using Row = std::array<Cell, kEventCount>;

constexpr Action kOff = Action::TrayOff;
constexpr Action kOn = Action::TrayOn;
constexpr Action kMin = Action::Minimum;
constexpr Action kNorm = Action::Normal;

// Rows are states 0..4, columns events 0..10.
constexpr std::array<Row, kStateCount> kTable = {{
    // 0 start-up: only the end of start-up shows the (minimum) window.
    {none(), none(), none(), none(), none(), none(),
     to(StateMinimum, kMin, Action::Show, Action::Focus), none(), none(), none(), none()},
    // 1 tray, entered from the minimum window: leaving it returns there, except after a search.
    {exitCell(), exitCell(), to(StateMinimum, kOff, kMin), to(StateMinimum, kOff, kMin), none(),
     to(StateNormal, kOff, kNorm), none(), none(), none(), to(StateMinimum, kOff, kMin), none()},
    // 2 tray, entered from the normal window: the hot key still goes on to minimum, so the
    // toggle button must be released first.
    {exitCell(), exitCell(), to(StateNormal, kOff, kNorm),
     to(StateMinimum, kOff, Action::ToggleUp, kMin), none(), to(StateNormal, kOff, kNorm), none(),
     none(), none(), to(StateNormal, kOff, kNorm), none()},
    // 3 minimum window.
    {exitCell(), none(), none(), to(StateNormal, kNorm), to(StateTrayFromMinimum, kOn),
     to(StateNormal, kNorm), none(), none(), none(), none(),
     to(StateNormal, Action::ToggleDown, kNorm)},
    // 4 normal window: the end of a search changes nothing but still counts as performed.
    {exitCell(), none(), none(), to(StateTrayFromNormal, kOn), to(StateTrayFromNormal, kOn),
     to(StateNormal), none(), to(StateTrayFromNormal, kOn), to(StateMinimum, kMin), none(),
     to(StateMinimum, Action::ToggleUp, kMin)},
}};

void perform(WindowActions& actions, Action action) {
    switch (action) {
        case Action::TrayOff:
            actions.taskTrayOff();
            return;
        case Action::TrayOn:
            actions.taskTrayOn();
            return;
        case Action::Minimum:
            actions.beMinimum();
            return;
        case Action::Normal:
            actions.beNormal();
            return;
        case Action::ToggleUp:
            actions.setToggleButton(false);
            return;
        case Action::ToggleDown:
            actions.setToggleButton(true);
            return;
        case Action::Show:
            actions.showMainWindow();
            return;
        case Action::Focus:
            actions.focusSearchBox();
            return;
        case Action::Exit:
            actions.exitPoint();
            return;
    }
}

// Clears the busy flag on every way out, so an action that throws cannot leave the window
// deaf to all later events.
class BusyScope {
  public:
    explicit BusyScope(bool& busy) : m_busy(busy) { m_busy = true; }
    ~BusyScope() { m_busy = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    bool& m_busy;
};

}  // namespace

std::string badEventText(int state, int event) {
    // "\u3000" is the ideographic space that indents the second and third lines.
    return "不正事象を受信しました\r\u3000状態番号=" + std::to_string(state) +
           "\r\u3000事象番号=" + std::to_string(event);
}

bool WindowStateMachine::matrixCall(int event) {
    if (event < 0 || event >= kEventCount || m_stateNumber < 0 || m_stateNumber >= kStateCount) {
        m_actions.reportBadEvent(m_stateNumber, event);
        return false;
    }
    if (m_isMatrixBusy) {
        return false;
    }
    const BusyScope busy(m_isMatrixBusy);
    const Cell& cell =
        kTable[static_cast<std::size_t>(m_stateNumber)][static_cast<std::size_t>(event)];
    if (cell.nextState == kNoCell) {
        // Reported while still busy: events raised while the message box is open are dropped.
        m_actions.reportBadEvent(m_stateNumber, event);
        return false;
    }
    for (std::size_t i = 0; i < cell.actionCount; ++i) {
        perform(m_actions, cell.actions[i]);
    }
    if (cell.nextState != kKeepState) {
        m_stateNumber = cell.nextState;
    }
    return true;
}

}  // namespace ferretta::ui::modes
