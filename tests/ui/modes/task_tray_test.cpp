// The task-tray icon offscreen: the events its entries and clicks send (the icon in a real panel,
// its menu and a click on it are the X-server scenario's).
// The main window's trips to the tray are main_form_test's.
#include "ui/modes/task_tray.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <string>
#include <vector>

#include "support/qt_test_support.h"

using namespace ferretta;
using ui::modes::TaskTray;
using ui::modes::WindowStateMachine;

namespace {

// Records what the machine asks of the window.
class RecordingActions : public ui::modes::WindowActions {
  public:
    void beMinimum() override { calls.emplace_back("min"); }
    void beNormal() override { calls.emplace_back("norm"); }
    void taskTrayOn() override { calls.emplace_back("on"); }
    void taskTrayOff() override { calls.emplace_back("off"); }
    void exitPoint() override { calls.emplace_back("exit"); }
    void setToggleButton(bool pressed) override { calls.emplace_back(pressed ? "T1" : "T0"); }
    void showMainWindow() override { calls.emplace_back("show"); }
    void focusSearchBox() override { calls.emplace_back("focus"); }
    void reportBadEvent(int state, int event) override {
        calls.push_back("bad " + std::to_string(state) + " " + std::to_string(event));
    }
    std::vector<std::string> calls;
};

QAction* entry(TaskTray& tray, const char* name) {
    return tray.menu().findChild<QAction*>(QString::fromLatin1(name));
}

TEST(TaskTrayTest, EntriesAndClicksSendTheirEvents) {
    test::ensureOffscreenApplication();
    struct Case {
        int state;
        const char* entryName;  // nullptr: the icon's activation below
        QSystemTrayIcon::ActivationReason reason;
        std::vector<std::string> calls;
        int nextState;
    };
    using R = QSystemTrayIcon::ActivationReason;
    // Each entry and click sends its own event; what the event does is the machine's.
    const Case cases[] = {
        {2, "mnTrayOpen", R::Unknown, {"off", "norm"}, 4},
        {1, "mnTrayExit", R::Unknown, {"exit"}, 1},  // the program ends; the state stays
        {2, "mnTrayOption", R::Unknown, {"options"}, 2},
        {1, "mnTrayVersion", R::Unknown, {"about"}, 1},
        {1, nullptr, R::Trigger, {"off", "min"}, 3},  // a left click
        {2, nullptr, R::Context, {}, 2},
        {2, nullptr, R::DoubleClick, {}, 2},
        {3, nullptr, R::Trigger, {"bad 3 9"}, 3},  // reported, not acted on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.entryName ? c.entryName : "activated") + " in state " +
                     std::to_string(c.state) + ", reason " + std::to_string(c.reason));
        RecordingActions actions;
        WindowStateMachine machine(actions, c.state);
        TaskTray tray(machine, {[&] { actions.calls.emplace_back("options"); },
                                [&] { actions.calls.emplace_back("about"); }});
        if (c.entryName != nullptr) {
            QAction* action = entry(tray, c.entryName);
            ASSERT_NE(action, nullptr);
            action->trigger();
        } else {
            // Through the icon's own signal, as the desktop reports it.
            emit tray.icon().activated(c.reason);
        }
        EXPECT_EQ(actions.calls, c.calls);
        EXPECT_EQ(machine.stateNumber(), c.nextState);
    }
}

}  // namespace
