#include "ui/modes/window_state_machine.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ferretta::ui::modes {
namespace {

// The transition table, transcribed by hand: rows are states 0..4, columns events 0..10. A
// cell lists the calls in order, then "> n" for the next state, or "X" for the exit cells
// (exitPoint, the state kept); "-" means no cell. T0/T1 set the toggle button up/down.
const char* const kExpected[kStateCount][kEventCount] = {
    // 0 start-up
    {"-", "-", "-", "-", "-", "-", "min show focus > 3", "-", "-", "-", "-"},
    // 1 tray from minimum
    {"X", "X", "off min > 3", "off min > 3", "-", "off norm > 4", "-", "-", "-", "off min > 3",
     "-"},
    // 2 tray from normal
    {"X", "X", "off norm > 4", "off T0 min > 3", "-", "off norm > 4", "-", "-", "-", "off norm > 4",
     "-"},
    // 3 minimum
    {"X", "-", "-", "norm > 4", "on > 1", "norm > 4", "-", "-", "-", "-", "T1 norm > 4"},
    // 4 normal
    {"X", "-", "-", "on > 2", "on > 2", "> 4", "-", "on > 2", "min > 3", "-", "T0 min > 3"},
};

struct Expectation {
    bool performed = false;
    std::vector<std::string> calls;
    int nextState = 0;
};

Expectation expectationFor(int state, int event) {
    const bool inRange = state >= 0 && state < kStateCount && event >= 0 && event < kEventCount;
    const std::string cell = inRange ? kExpected[state][event] : "-";
    Expectation e;
    e.nextState = state;
    if (cell == "-") {
        e.calls.push_back("bad " + std::to_string(state) + " " + std::to_string(event));
        return e;
    }
    e.performed = true;
    if (cell == "X") {
        e.calls.emplace_back("exit");
        return e;
    }
    std::istringstream words(cell);
    std::string word;
    while (words >> word) {
        if (word == ">") {
            words >> e.nextState;
        } else {
            e.calls.push_back(word);
        }
    }
    return e;
}

// Records every action. Like the real window, setting the toggle button raises event 10 at
// once; `nestAll` makes every action raise every event 0..10 as well, as a window whose
// handlers run nested message loops might.
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
        if (onReport)
            onReport();
    }

    WindowStateMachine* machine = nullptr;
    bool nestAll = false;
    std::function<void(const std::string&)> onAction;
    std::function<void()> onReport;
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

// Plain actions, and actions that raise every event as a window whose handlers run nested
// message loops might.
TEST(WindowStateMachineTest, EveryPairMatchesTheTable) {
    for (const bool nestAll : {false, true}) {
        for (int state = 0; state < kStateCount; ++state) {
            for (int event = -1; event <= kEventCount; ++event) {
                SCOPED_TRACE(pairName(state, event) + (nestAll ? ", nested" : ""));
                const Expectation expected = expectationFor(state, event);
                Rig rig(state);
                rig.window.nestAll = nestAll;

                EXPECT_EQ(rig.machine.matrixCall(event), expected.performed);
                EXPECT_EQ(rig.window.calls, expected.calls);
                EXPECT_EQ(rig.machine.stateNumber(), expected.nextState);
                EXPECT_FALSE(rig.machine.isMatrixBusy());
                // Every nested event, the toggle button's own included, was dropped.
                for (bool nested : rig.window.nestedResults)
                    EXPECT_FALSE(nested);
                // The state moves only after the last action.
                for (int seen : rig.window.statesSeenInActions)
                    EXPECT_EQ(seen, state);
                if (!expected.performed) {
                    ASSERT_EQ(rig.window.messages.size(), 1U);
                    EXPECT_EQ(rig.window.messages[0], badEventText(state, event));
                } else {
                    EXPECT_TRUE(rig.window.messages.empty());
                }
            }
        }
    }
}

TEST(BadEventTextTest, IsTheExactMessage) {
    // Written as bytes so that the check does not share the code's literals: the ideographic
    // space U+3000 is E3 80 80.
    const std::string head =
        "\xE4\xB8\x8D\xE6\xAD\xA3\xE4\xBA\x8B\xE8\xB1\xA1\xE3\x82\x92\xE5\x8F\x97\xE4\xBF\xA1"
        "\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F";  // 不正事象を受信しました
    const std::string stateLabel = "\xE3\x80\x80\xE7\x8A\xB6\xE6\x85\x8B\xE7\x95\xAA\xE5\x8F\xB7=";
    const std::string eventLabel = "\xE3\x80\x80\xE4\xBA\x8B\xE8\xB1\xA1\xE7\x95\xAA\xE5\x8F\xB7=";
    struct Case {
        int state;
        int event;
        const char* stateText;
        const char* eventText;
    };
    const Case cases[] = {
        {3, 6, "3", "6"},
        {-32768, 32767, "-32768", "32767"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(badEventText(c.state, c.event),
                  head + "\r" + stateLabel + c.stateText + "\r" + eventLabel + c.eventText);
    }
}

TEST(WindowStateMachineTest, StateOutsideTheTableReportsEveryEvent) {
    for (int state : {-1, 5, 1000}) {
        Rig rig(state);
        for (int event = -1; event <= kEventCount; ++event) {
            SCOPED_TRACE(pairName(state, event));
            EXPECT_FALSE(rig.machine.matrixCall(event));
            EXPECT_EQ(rig.machine.stateNumber(), state);
        }
        EXPECT_EQ(rig.window.messages.size(), static_cast<std::size_t>(kEventCount + 2));
        EXPECT_EQ(rig.window.messages.back(), badEventText(state, kEventCount));
    }
}

TEST(WindowStateMachineTest, NestedOutOfRangeEventIsReportedButChangesNothing) {
    // The range check comes before the busy guard, so a nested out-of-range event is still
    // reported; the cell being performed finishes as if nothing had happened.
    Rig rig(StateMinimum);
    rig.window.onAction = [&](const std::string&) {
        EXPECT_FALSE(rig.machine.matrixCall(-1));
        EXPECT_FALSE(rig.machine.matrixCall(kEventCount));
    };
    EXPECT_TRUE(rig.machine.matrixCall(EventHotKey));
    EXPECT_EQ(rig.machine.stateNumber(), StateNormal);
    EXPECT_EQ(rig.window.calls, (std::vector<std::string>{"norm", "bad 3 -1", "bad 3 11"}));
}

TEST(WindowStateMachineTest, EventsDuringTheMissingCellMessageAreDropped) {
    // The missing-cell message box runs a nested event loop while the machine is busy.
    Rig rig(StateMinimum);
    rig.window.onReport = [&] { EXPECT_FALSE(rig.machine.matrixCall(EventHotKey)); };
    EXPECT_FALSE(rig.machine.matrixCall(EventTrayOpen));
    EXPECT_EQ(rig.machine.stateNumber(), StateMinimum);
    EXPECT_EQ(rig.window.calls, std::vector<std::string>{"bad 3 2"});
}

TEST(WindowStateMachineTest, EventsDuringTheOutOfRangeMessageAreHandled) {
    // The out-of-range message is shown before the machine turns busy, as the window always
    // did; an event arriving meanwhile is performed.
    Rig rig(StateMinimum);
    bool reported = false;
    rig.window.onReport = [&] {
        if (!reported) {
            reported = true;
            EXPECT_TRUE(rig.machine.matrixCall(EventHotKey));
        }
    };
    EXPECT_FALSE(rig.machine.matrixCall(-1));
    EXPECT_EQ(rig.machine.stateNumber(), StateNormal);
    EXPECT_EQ(rig.window.calls, (std::vector<std::string>{"bad 3 -1", "norm"}));
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
