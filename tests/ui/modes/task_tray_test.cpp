// The task-tray icon offscreen: its menu, the events it sends, showing and hiding the icon,
// and the main window going to the tray and back, with a tray and without one (task bar).
#include "ui/modes/task_tray.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "support/qt_test_support.h"
#include "ui/main/main_form.h"
#include "ui/main/twips.h"

// Fontconfig's cache lives until the process ends: not our leak.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

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

class TaskTrayTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }

    void SetUp() override {
        m_tray = std::make_unique<TaskTray>(
            m_machine, TaskTray::Handlers{[this] { m_actions.calls.emplace_back("options"); },
                                          [this] { m_actions.calls.emplace_back("about"); }});
    }

    // Moves the machine to a state through the real table, then forgets the calls.
    void enter(int state) {
        m_machine.matrixCall(ui::modes::EventStartUpDone);  // -> 3
        if (state == ui::modes::StateNormal || state == ui::modes::StateTrayFromNormal)
            m_machine.matrixCall(ui::modes::EventHotKey);  // -> 4
        if (state == ui::modes::StateTrayFromMinimum || state == ui::modes::StateTrayFromNormal)
            m_machine.matrixCall(ui::modes::EventMinimized);  // -> 1 or 2
        ASSERT_EQ(m_machine.stateNumber(), state);
        m_actions.calls.clear();
    }

    RecordingActions m_actions;
    WindowStateMachine m_machine{m_actions};
    std::unique_ptr<TaskTray> m_tray;
};

TEST_F(TaskTrayTest, MenuHoldsTheEntriesInOrderWithTheirCaptions) {
    struct Row {
        const char* name;
        const char* caption;  // empty for a separator
    };
    const Row expected[] = {
        {"mnTrayOpen", "開く(&B)"},           {"mnBar1", ""}, {"mnTrayOption", "ｵﾌﾟｼｮﾝ(&O)"},
        {"mnTrayVersion", "ﾊﾞｰｼﾞｮﾝ情報(&A)"}, {"mnBar2", ""}, {"mnTrayExit", "終了(&X)"},
    };
    const QList<QAction*> actions = m_tray->menu().actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(std::size(expected)));
    for (qsizetype i = 0; i < actions.size(); ++i) {
        const Row& row = expected[i];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(actions[i]->objectName(), QString::fromLatin1(row.name));
        EXPECT_EQ(actions[i]->isSeparator(), row.caption[0] == '\0');
        EXPECT_EQ(actions[i]->text(), QString::fromUtf8(row.caption));
    }
    EXPECT_EQ(m_tray->menu().title(), QStringLiteral("タスクトレイ右クリック用"));
    EXPECT_EQ(m_tray->icon().toolTip(), QStringLiteral("Ferretta"));
    EXPECT_EQ(m_tray->icon().contextMenu(), &m_tray->menu());
    EXPECT_FALSE(m_tray->icon().icon().isNull());
    EXPECT_FALSE(m_tray->icon().isVisible());
}

TEST_F(TaskTrayTest, EntriesAndClicksSendTheirEvents) {
    struct Case {
        int state;
        const char* entryName;  // nullptr: the icon's activation below
        QSystemTrayIcon::ActivationReason reason;
        std::vector<std::string> calls;
        int nextState;
    };
    using R = QSystemTrayIcon::ActivationReason;
    const Case cases[] = {
        // "開く" returns to the window the tray was entered from.
        {1, "mnTrayOpen", R::Unknown, {"off", "min"}, 3},
        {2, "mnTrayOpen", R::Unknown, {"off", "norm"}, 4},
        // "終了" ends the program; the state stays.
        {1, "mnTrayExit", R::Unknown, {"exit"}, 1},
        {2, "mnTrayExit", R::Unknown, {"exit"}, 2},
        // Not form changes: the handlers only.
        {2, "mnTrayOption", R::Unknown, {"options"}, 2},
        {1, "mnTrayVersion", R::Unknown, {"about"}, 1},
        // A left click is event 9; the other reports are not.
        {1, nullptr, R::Trigger, {"off", "min"}, 3},
        {2, nullptr, R::Trigger, {"off", "norm"}, 4},
        {2, nullptr, R::Context, {}, 2},
        {2, nullptr, R::DoubleClick, {}, 2},
        {1, nullptr, R::MiddleClick, {}, 1},
        // An event the current state has no cell for is reported, not acted on.
        {4, "mnTrayOpen", R::Unknown, {"bad 4 2"}, 4},
        {3, nullptr, R::Trigger, {"bad 3 9"}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.entryName ? c.entryName : "activated") + " in state " +
                     std::to_string(c.state) + ", reason " + std::to_string(c.reason));
        m_actions.calls.clear();
        WindowStateMachine machine(m_actions, c.state);
        TaskTray tray(machine, {[this] { m_actions.calls.emplace_back("options"); },
                                [this] { m_actions.calls.emplace_back("about"); }});
        if (c.entryName != nullptr) {
            QAction* action = entry(tray, c.entryName);
            ASSERT_NE(action, nullptr);
            action->trigger();
        } else {
            // Through the icon's own signal, as the desktop reports it.
            emit tray.icon().activated(c.reason);
        }
        EXPECT_EQ(m_actions.calls, c.calls);
        EXPECT_EQ(machine.stateNumber(), c.nextState);
    }
}

TEST_F(TaskTrayTest, EmptyHandlersLeaveTheirEntriesHarmless) {
    WindowStateMachine machine(m_actions, ui::modes::StateTrayFromNormal);
    TaskTray tray(machine, {});
    entry(tray, "mnTrayOption")->trigger();
    entry(tray, "mnTrayVersion")->trigger();
    EXPECT_TRUE(m_actions.calls.empty());
    EXPECT_EQ(machine.stateNumber(), ui::modes::StateTrayFromNormal);
}

TEST_F(TaskTrayTest, ShowsOneIconOnlyWhereATrayExists) {
    m_tray->setAvailabilityOverride(false);
    EXPECT_FALSE(m_tray->isAvailable());
    EXPECT_FALSE(m_tray->show());
    EXPECT_FALSE(m_tray->isShown());
    EXPECT_FALSE(m_tray->icon().isVisible());
    m_tray->hide();  // not shown: nothing to remove
    EXPECT_FALSE(m_tray->isShown());

    m_tray->setAvailabilityOverride(true);
    EXPECT_TRUE(m_tray->show());
    EXPECT_TRUE(m_tray->show());  // twice: still the one icon
    EXPECT_TRUE(m_tray->isShown());
    EXPECT_TRUE(m_tray->icon().isVisible());
    m_tray->hide();
    m_tray->hide();
    EXPECT_FALSE(m_tray->isShown());
    EXPECT_FALSE(m_tray->icon().isVisible());

    // The override gone, the desktop answers again (the offscreen platform has no tray).
    m_tray->setAvailabilityOverride(std::nullopt);
    EXPECT_EQ(m_tray->isAvailable(), QSystemTrayIcon::isSystemTrayAvailable());
}

TEST(ProgramIconTest, IsDrawnAtTheTraySizes) {
    test::ensureOffscreenApplication();
    const QIcon icon = ui::modes::drawProgramIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 22, 32, 48}) {
        const QImage image = icon.pixmap(size, size).toImage();
        EXPECT_EQ(image.size(), QSize(size, size));
        // Something is drawn, and the corners stay transparent.
        EXPECT_GT(qAlpha(image.pixel(size / 2, size / 2)), 0) << size;
        EXPECT_EQ(qAlpha(image.pixel(0, size - 1)), 0) << size;
    }
}

class MainFormTrayTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }

    void SetUp() override {
        m_settings.fixed = false;
        m_settings.statusBar = true;
        m_form = std::make_unique<ui::main::MainForm>(m_settings);
        m_form->applySettings();
        m_form->setExitHandler([this] { ++m_exits; });
    }

    void start() {
        m_form->stateMachine().matrixCall(ui::modes::EventStartUpDone);
        settle();
        ASSERT_EQ(state(), ui::modes::StateMinimum);
    }

    // The offscreen platform delivers geometry and state changes through the event queue.
    static void settle() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
            QTest::qWait(1);
        }
    }

    int state() { return m_form->stateMachine().stateNumber(); }
    bool send(int event) {
        const bool performed = m_form->stateMachine().matrixCall(event);
        settle();
        return performed;
    }

    app::Settings m_settings;
    std::unique_ptr<ui::main::MainForm> m_form;
    int m_exits = 0;
};

TEST_F(MainFormTrayTest, WithATrayTheWindowHidesBehindTheIcon) {
    m_form->taskTray().setAvailabilityOverride(true);
    start();
    send(ui::modes::EventHotKey);  // normal
    ASSERT_EQ(state(), ui::modes::StateNormal);

    send(ui::modes::EventBeIcon);
    EXPECT_EQ(state(), ui::modes::StateTrayFromNormal);
    EXPECT_TRUE(m_form->isInTaskTray());
    EXPECT_TRUE(m_form->taskTray().isShown());
    EXPECT_FALSE(m_form->isVisible());
    // Going to the tray again adds no second icon and does not show the window.
    m_form->taskTrayOn();
    EXPECT_TRUE(m_form->taskTray().isShown());
    EXPECT_FALSE(m_form->isVisible());

    // The left click returns to the normal window.
    emit m_form->taskTray().icon().activated(QSystemTrayIcon::Trigger);
    settle();
    EXPECT_EQ(state(), ui::modes::StateNormal);
    EXPECT_FALSE(m_form->isInTaskTray());
    EXPECT_FALSE(m_form->taskTray().isShown());
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_FALSE(m_form->isMinimized());
    EXPECT_TRUE(m_form->listView()->isVisible());
    // Leaving twice removes nothing more and keeps the window.
    m_form->taskTrayOff();
    EXPECT_TRUE(m_form->isVisible());
}

TEST_F(MainFormTrayTest, TrayMenuOpensTheFormItCameFromAndExits) {
    m_form->taskTray().setAvailabilityOverride(true);
    start();
    // Minimizing the compact window puts it into the tray. (As the window manager does it:
    // showMinimized would show the window again after the state change that hid it.)
    m_form->setWindowState(m_form->windowState() | Qt::WindowMinimized);
    settle();
    ASSERT_EQ(state(), ui::modes::StateTrayFromMinimum);
    EXPECT_FALSE(m_form->isVisible());

    entry(m_form->taskTray(), "mnTrayOpen")->trigger();
    settle();
    EXPECT_EQ(state(), ui::modes::StateMinimum);
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_FALSE(m_form->isMinimized());
    EXPECT_FALSE(m_form->listView()->isVisible());
    EXPECT_FALSE(m_form->taskTray().isShown());

    send(ui::modes::EventMinimized);
    ASSERT_EQ(state(), ui::modes::StateTrayFromMinimum);
    entry(m_form->taskTray(), "mnTrayExit")->trigger();
    EXPECT_EQ(m_exits, 1);
}

TEST_F(MainFormTrayTest, TrayMenuOpensTheOptionsAndTheAboutBoxModally) {
    m_form->taskTray().setAvailabilityOverride(true);
    start();
    send(ui::modes::EventMinimized);
    ASSERT_EQ(state(), ui::modes::StateTrayFromMinimum);
    // The about entry does what the help menu's entry does.
    auto* helpEntry = m_form->findChild<QAction*>(QStringLiteral("mnVersionInfo"));
    ASSERT_NE(helpEntry, nullptr);
    QSignalSpy aboutSpy(helpEntry, &QAction::triggered);
    {
        test::ModalWatcher closer;
        entry(m_form->taskTray(), "mnTrayOption")->trigger();
        entry(m_form->taskTray(), "mnTrayVersion")->trigger();
        ASSERT_FALSE(closer.dialogs.empty());
        EXPECT_EQ(closer.dialogs.front(), QStringLiteral("Dialog"));
    }
    EXPECT_EQ(aboutSpy.count(), 1);
    // Neither changes the window's form.
    EXPECT_EQ(state(), ui::modes::StateTrayFromMinimum);
    EXPECT_FALSE(m_form->isVisible());
}

TEST_F(MainFormTrayTest, WithoutATrayTheTaskBarStandsIn) {
    // The offscreen platform has no tray; the fallback must not need an override.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_form->taskTray().setAvailabilityOverride(false);
    start();
    send(ui::modes::EventHotKey);
    ASSERT_EQ(state(), ui::modes::StateNormal);

    send(ui::modes::EventBeIcon);
    EXPECT_EQ(state(), ui::modes::StateTrayFromNormal);
    EXPECT_TRUE(m_form->isInTaskTray());
    EXPECT_FALSE(m_form->taskTray().isShown());
    // Still reachable: a minimized window in the task bar.
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_TRUE(m_form->isMinimized());

    // Restoring it from the task bar counts as the tray click: back to the normal window.
    m_form->showNormal();
    settle();
    EXPECT_EQ(state(), ui::modes::StateNormal);
    EXPECT_FALSE(m_form->isInTaskTray());
    EXPECT_FALSE(m_form->isMinimized());
    EXPECT_TRUE(m_form->listView()->isVisible());

    // From the compact window the hot key's cycle comes back to it through the task bar.
    send(ui::modes::EventBeMinimum);
    ASSERT_EQ(state(), ui::modes::StateMinimum);
    m_form->showMinimized();
    settle();
    EXPECT_EQ(state(), ui::modes::StateTrayFromMinimum);
    EXPECT_TRUE(m_form->isMinimized());
    send(ui::modes::EventHotKey);
    EXPECT_EQ(state(), ui::modes::StateMinimum);
    EXPECT_FALSE(m_form->isMinimized());
    EXPECT_TRUE(m_form->isVisible());
}

TEST_F(MainFormTrayTest, PinnedWindowSitsInTheLowerRightCornerInBothForms) {
    m_settings.fixed = true;
    m_form->applySettings();
    start();
    const QRect area = m_form->screen()->availableGeometry();
    const auto expectCornered = [&] {
        const QRect outer = m_form->frameGeometry();
        EXPECT_EQ(outer.right(), area.right());
        EXPECT_EQ(outer.bottom(), area.bottom());
    };
    const int minimumWidth = ui::main::twipsToPixelsX(ui::main::minimumWidthTwips, m_form.get());
    EXPECT_EQ(m_form->frameGeometry().width(), minimumWidth);
    expectCornered();

    send(ui::modes::EventHotKey);
    ASSERT_EQ(state(), ui::modes::StateNormal);
    expectCornered();
    // The normal window keeps its width when it comes back.
    m_form->resize(minimumWidth + 100, m_form->height());
    settle();
    send(ui::modes::EventBeMinimum);
    EXPECT_EQ(m_form->frameGeometry().width(), minimumWidth);
    expectCornered();
}

TEST_F(MainFormTrayTest, FreeNormalWindowIsMovedUpOnlyAsFarAsNeeded) {
    start();
    const QRect area = m_form->screen()->availableGeometry();
    // Low on the screen but well left: its bottom would leave the work area, its right not.
    m_form->move(area.left() + 10, area.bottom() - 50);
    settle();
    send(ui::modes::EventHotKey);
    ASSERT_EQ(state(), ui::modes::StateNormal);
    const QRect outer = m_form->frameGeometry();
    EXPECT_EQ(outer.bottom(), area.bottom());
    EXPECT_EQ(outer.left(), area.left() + 10);
}

}  // namespace
