#include "ui/modes/window_state_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace ferretta::ui::modes {
namespace {

// The machine is checked against what each event means to a person, not against a copy of its
// table: from the start every state is reached; every event a person can raise in a state is
// handled, leads where its meaning says and leaves the window as the new state shows it; every
// other event is reported.

bool isTray(int state) {
    return state == StateTrayFromMinimum || state == StateTrayFromNormal;
}

// The events a person can raise in each state: the menus, buttons and the tray icon shown there.
std::set<int> eventsOfAPerson(int state) {
    if (state == StateStartUp)
        return {EventStartUpDone};
    if (isTray(state))
        return {EventUnload,   EventHotKey,   EventSearchDone,
                EventTrayExit, EventTrayOpen, EventTrayClick};
    std::set<int> events = {EventUnload, EventHotKey, EventSearchDone, EventMinimized, EventToggle};
    if (state == StateNormal)  // its menu
        events.insert({EventBeIcon, EventBeMinimum});
    return events;
}

// Where an event a person raised leads.
int whereItLeads(int state, int event) {
    switch (event) {
        case EventStartUpDone:
        case EventBeMinimum:
            return StateMinimum;
        case EventSearchDone:  // the results show in the normal window
            return StateNormal;
        case EventMinimized:
        case EventBeIcon:  // into the tray, remembering the window
            return state == StateMinimum ? StateTrayFromMinimum : StateTrayFromNormal;
        case EventTrayOpen:
        case EventTrayClick:  // back to the window it came from
            return state == StateTrayFromMinimum ? StateMinimum : StateNormal;
        case EventToggle:
            return state == StateMinimum ? StateNormal : StateMinimum;
        case EventHotKey:  // out of the tray small, then larger, then away
            return isTray(state)           ? StateMinimum
                   : state == StateMinimum ? StateNormal
                                           : StateTrayFromNormal;
        default:  // the exits: the program ends, the state stays
            return state;
    }
}

// The window's form ("min", "norm" or none), tray icon and visibility after the calls, from what
// `state` shows.
struct Look {
    std::string form;
    bool inTray;
    bool shown;
    bool operator==(const Look&) const = default;
};
Look lookAfter(int state, const std::vector<std::string>& calls) {
    Look look{state == StateStartUp                                    ? ""
              : state == StateMinimum || state == StateTrayFromMinimum ? "min"
                                                                       : "norm",
              isTray(state), state != StateStartUp};
    for (const std::string& call : calls) {
        look.form = call == "min" || call == "norm" ? call : look.form;
        look.inTray = call == "on" || (look.inTray && call != "off");
        look.shown = look.shown || call == "show";
    }
    return look;
}

// Records every action. Like the real window, setting the toggle button raises event 10 at once;
// `nestAll` makes every action and every report raise every event 0..10 as well, as a window
// whose handlers run nested message loops might.
class FakeWindow : public WindowActions {
  public:
    void beMinimum() override { act("min"); }
    void beNormal() override { act("norm"); }
    void taskTrayOn() override { act("on"); }
    void taskTrayOff() override { act("off"); }
    void exitPoint() override { act("exit"); }
    void setToggleButton(bool pressed) override {
        act(pressed ? "T1" : "T0");
        nestedResults.push_back(machine->matrixCall(EventToggle));
    }
    void showMainWindow() override { act("show"); }
    void focusSearchBox() override { act("focus"); }
    void reportBadEvent(int state, int event) override {
        calls.push_back("bad " + std::to_string(state) + " " + std::to_string(event));
        messages.push_back(badEventText(state, event));
        // The message box runs a nested event loop while the machine is busy.
        if (nestAll && event >= 0 && event < kEventCount) {
            for (int nested = 0; nested < kEventCount; ++nested)
                nestedResults.push_back(machine->matrixCall(nested));
        }
    }

    WindowStateMachine* machine = nullptr;
    bool nestAll = false;
    std::function<void(const std::string&)> onAction;
    std::vector<std::string> calls;
    std::vector<std::string> messages;
    std::vector<bool> nestedResults;
    std::vector<int> statesSeenInActions;

  private:
    void act(const std::string& name) {
        calls.push_back(name);
        statesSeenInActions.push_back(machine->stateNumber());
        EXPECT_TRUE(machine->isMatrixBusy()) << name;
        if (onAction)
            onAction(name);
        if (nestAll) {
            for (int event = 0; event < kEventCount; ++event)
                nestedResults.push_back(machine->matrixCall(event));
        }
    }
};

// A machine wired to its fake window.
struct Rig {
    explicit Rig(int state = StateStartUp) : machine(window, state) { window.machine = &machine; }
    FakeWindow window;
    WindowStateMachine machine;
};

std::string pairName(int state, int event) {
    return "state " + std::to_string(state) + ", event " + std::to_string(event);
}

// Walks every state reached from the start, raising every event there, with plain actions and with
// actions that raise every event again as nested message loops might.
TEST(WindowStateMachineTest, EveryEventOfEveryReachedState) {
    for (const bool nestAll : {false, true}) {
        std::set<int> reached = {StateStartUp};
        for (std::vector<int> toVisit = {StateStartUp}; !toVisit.empty();) {
            const int state = toVisit.back();
            toVisit.pop_back();
            for (int event = -1; event <= kEventCount; ++event) {
                SCOPED_TRACE(pairName(state, event) + (nestAll ? ", nested" : ""));
                Rig rig(state);
                rig.window.nestAll = nestAll;
                const bool performed = rig.machine.matrixCall(event);
                const std::vector<std::string>& calls = rig.window.calls;
                const int next = rig.machine.stateNumber();
                EXPECT_FALSE(rig.machine.isMatrixBusy());
                // Every nested event, the toggle button's own included, was dropped, and the state
                // moved only after the last action.
                for (const bool nested : rig.window.nestedResults)
                    EXPECT_FALSE(nested);
                for (const int seen : rig.window.statesSeenInActions)
                    EXPECT_EQ(seen, state);
                if (!eventsOfAPerson(state).count(event)) {
                    EXPECT_FALSE(performed);
                    EXPECT_EQ(next, state);
                    EXPECT_EQ(calls.size(), 1u);
                    EXPECT_EQ(rig.window.messages,
                              std::vector<std::string>{badEventText(state, event)});
                    continue;
                }
                EXPECT_TRUE(performed);
                EXPECT_TRUE(rig.window.messages.empty());
                EXPECT_EQ(next, whereItLeads(state, event));
                if (event == EventUnload || event == EventTrayExit) {
                    EXPECT_EQ(calls, std::vector<std::string>{"exit"});
                    continue;
                }
                // The window is what the new state shows; a toggle button that was set shows the
                // form; start-up ends in the search box.
                const Look look = lookAfter(state, calls);
                EXPECT_EQ(look, lookAfter(next, {}));
                for (const std::string& call : calls) {
                    if (call == "T0" || call == "T1") {
                        EXPECT_EQ(call == "T1", look.form == "norm");
                    }
                }
                EXPECT_EQ(std::count(calls.begin(), calls.end(), "focus"),
                          event == EventStartUpDone ? 1 : 0);
                if (reached.insert(next).second)
                    toVisit.push_back(next);
            }
        }
        EXPECT_EQ(reached.size(), static_cast<std::size_t>(kStateCount));
    }
}

TEST(WindowStateMachineTest, ThrowingActionLeavesStateAndClearsBusy) {
    Rig rig(StateTrayFromNormal);
    rig.window.onAction = [](const std::string& name) {
        if (name == "min")
            throw std::runtime_error("window gone");
    };
    EXPECT_THROW(rig.machine.matrixCall(EventHotKey), std::runtime_error);
    EXPECT_EQ(rig.machine.stateNumber(), StateTrayFromNormal);
    EXPECT_FALSE(rig.machine.isMatrixBusy());
    rig.window.onAction = nullptr;
    EXPECT_TRUE(rig.machine.matrixCall(EventTrayClick));
    EXPECT_EQ(rig.machine.stateNumber(), StateNormal);
}

}  // namespace
}  // namespace ferretta::ui::modes
