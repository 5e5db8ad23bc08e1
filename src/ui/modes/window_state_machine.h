#pragma once
// The five forms of the main window (not yet shown, minimum, normal, and two task-tray states
// that remember which window to return to) and the one place that moves between them. Every
// request that changes the window's form arrives here as an event number; the window itself
// only carries out the actions it is told to. No Qt here, so the whole table can be exercised
// without a display.
#include <string>

namespace ferretta::ui::modes {

// State numbers. They show in the invalid-event message, so they keep these values.
enum WindowState : int {
    StateStartUp = 0,  // the main window has not been shown yet
    StateTrayFromMinimum = 1,
    StateTrayFromNormal = 2,
    StateMinimum = 3,
    StateNormal = 4,
};

// Event numbers, by sender. They show in the invalid-event message too.
enum WindowEvent : int {
    EventUnload = 0,       // the main window is being closed
    EventTrayExit = 1,     // tray menu "終了(&X)"
    EventTrayOpen = 2,     // tray menu "開く(&B)"
    EventHotKey = 3,       // hot key, or a folder handed over while in the tray
    EventMinimized = 4,    // the window was minimized while not in the tray
    EventSearchDone = 5,   // a search finished
    EventStartUpDone = 6,  // start-up finished: settings loaded, hot key installed
    EventBeIcon = 7,       // menu "アイコン化(&I)"
    EventBeMinimum = 8,    // menu "ミニマム(&M)"
    EventTrayClick = 9,    // left click on the tray icon
    EventToggle = 10,      // the mode toggle button was clicked
};

inline constexpr int kStateCount = 5;
inline constexpr int kEventCount = 11;

// What the main window does on the machine's behalf. Every call comes from inside
// WindowStateMachine::matrixCall; an action may raise further events (setting the toggle
// button does), which reach matrixCall while it is busy and are dropped.
class WindowActions {
  public:
    virtual ~WindowActions() = default;

    virtual void beMinimum() = 0;
    virtual void beNormal() = 0;
    // Hides the window behind the tray icon; does nothing when it is already there.
    virtual void taskTrayOn() = 0;
    // Removes the tray icon and shows the window again; does nothing when not in the tray.
    virtual void taskTrayOff() = 0;
    // Saves the settings, removes the hot key and the tray icon and ends the program. May
    // return (a Qt window quits its event loop); the machine then keeps its state.
    virtual void exitPoint() = 0;
    // Sets the mode toggle button (pressed = normal window). The real button raises event 10
    // when its value changes; that nested event is dropped by the busy guard.
    virtual void setToggleButton(bool pressed) = 0;
    virtual void showMainWindow() = 0;
    // Gives the focus to the search-word box.
    virtual void focusSearchBox() = 0;
    // Shows badEventText(state, event) in a modal message box with the exclamation icon.
    virtual void reportBadEvent(int state, int event) = 0;
};

// The text of the invalid-event message (UTF-8, lines joined by a carriage return, the second
// and third lines indented with an ideographic space), e.g. for state 3 and event 6:
// "不正事象を受信しました\r　状態番号=3\r　事象番号=6". Any int is written in decimal.
std::string badEventText(int state, int event);

class WindowStateMachine {
  public:
    // Starts in `initialState`; the window starts at StateStartUp and is shown by event 6.
    // A state outside 0..4 is kept as it is: every event is then reported as invalid.
    explicit WindowStateMachine(WindowActions& actions, int initialState = StateStartUp)
        : m_actions(actions), m_stateNumber(initialState) {}

    WindowStateMachine(const WindowStateMachine&) = delete;
    WindowStateMachine& operator=(const WindowStateMachine&) = delete;

    // Performs the cell for (current state, event) and moves to its next state; answers true.
    // An event outside 0..10 (or a current state outside 0..4) is reported through
    // reportBadEvent and answers false; that check comes before the busy guard, so it holds
    // for nested calls too. An event that arrives while a cell (or the report of a missing
    // cell) is running is dropped: false, nothing done. A pair with no cell is reported and
    // answers false, the state unchanged. The exit cells call exitPoint and keep the state.
    // An exception from an action travels to the caller; the state is then unchanged and the
    // machine accepts events again.
    bool matrixCall(int event);

    int stateNumber() const noexcept { return m_stateNumber; }
    // True while matrixCall performs a cell: the window's own handlers may consult it.
    bool isMatrixBusy() const noexcept { return m_isMatrixBusy; }

  private:
    WindowActions& m_actions;
    int m_stateNumber;
    bool m_isMatrixBusy = false;
};

}  // namespace ferretta::ui::modes
