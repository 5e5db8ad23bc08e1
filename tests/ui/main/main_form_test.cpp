// The main window offscreen, driven as a person drives it: keys go to the widget that has the
// focus (or to the window for its shortcuts), never to an inner widget. What the X-server
// scenario does with real keys (a search and its hits, stopping it, the word history, saving,
// opening a hit, the preview, mail items, the tray, the window's size) is left to it; here:
// input methods, progress in the caption, unreadable files, the columns, placement, no tray, the
// way out during a search, message boxes, twips.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <memory>
#include <tuple>

#include "platform/cp932.h"
#include "support/qt_test_support.h"
#include "support/temp_tree.h"
#include "ui/main/main_form.h"
#include "ui/main/qt_host.h"
#include "ui/main/results_model.h"
#include "ui/main/twips.h"
#include "ui/modes/help_window.h"
#include "ui/modes/task_tray.h"

namespace fs = std::filesystem;
using namespace ferretta;
using ferretta::ui::main::MainForm;
namespace modes = ferretta::ui::modes;

namespace {

using test::writeFile;

// A key as the keyboard sends it: to an open popup, else to the window that has the focus,
// which hands it to its focus widget (shortcuts first).
void pressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    ASSERT_TRUE(QApplication::activePopupWidget() != nullptr || QApplication::focusWidget())
        << "no widget has the focus";
    QTest::keyClick(static_cast<QWidget*>(nullptr), static_cast<Qt::Key>(key), modifiers);
}

// The offscreen platform delivers geometry, state and activation through the event queue.
void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(1);
    }
}

QAction* action(QObject& owner, const char* name) {
    auto* found = owner.findChild<QAction*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

class MainFormTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }

    void SetUp() override {
        m_root = m_tree.root();
        m_folder = m_root / "folder";
        fs::create_directories(m_folder);
        qputenv("FERRETTA_HOME", QByteArray::fromStdString(m_root.string()));
        m_settings.dir = m_folder.string();
        m_settings.fixed = false;
        m_settings.statusBar = true;
        m_settings.preview = false;  // the pane is the X-server scenario's
        m_form = std::make_unique<MainForm>(m_settings);
        m_form->applySettings();
        m_form->setExitHandler([this] { ++m_exits; });
    }

    // Start-up's last step: the compact window, active, with the focus in the word box.
    void start() {
        m_form->stateMachine().matrixCall(modes::EventStartUpDone);
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_form.get()));
        settle();
        ASSERT_EQ(state(), modes::StateMinimum);
    }
    // A click on the window: it becomes the active one again (after a box or a menu closed).
    void activate() {
        m_form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_form.get()));
    }

    // What a user does: into the word box (a click there), replace its text, Enter.
    void search(const QString& words) {
        activate();
        m_form->combo()->setFocus(Qt::MouseFocusReason);
        pressKey(Qt::Key_A, Qt::ControlModifier);
        pressKey(Qt::Key_Delete);
        QTest::keyClicks(QApplication::focusWidget(), words);
        ASSERT_EQ(m_form->combo()->currentText(), words);
        pressKey(Qt::Key_Return);
    }

    int state() { return m_form->stateMachine().stateNumber(); }
    void send(int event) {
        m_form->stateMachine().matrixCall(event);
        settle();
    }
    ui::main::ResultsModel& model() { return m_form->model(); }

    test::TempTree m_tree;
    fs::path m_root;
    fs::path m_folder;
    app::Settings m_settings;
    std::unique_ptr<MainForm> m_form;
    int m_exits = 0;
};

// Japanese arrives through the input method: a preedit that is not yet text, then commits.
// The committed words are searched on Enter, width-folded, in a CP932 file.
TEST_F(MainFormTest, WordsCommittedByAnInputMethodAreSearchedOnEnter) {
    start();
    writeFile(m_folder / "memo.txt",
              platform::utf8ToCp932("一行目\r\n会議のｹﾝｻｸ結果ＦＥＲＲＥＴＴＡ\r\n"));
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QInputMethodEvent preedit(QStringLiteral("けんさく"), {});
    QCoreApplication::sendEvent(focus, &preedit);
    EXPECT_TRUE(m_form->combo()->currentText().isEmpty());
    for (const QString& text : {QStringLiteral("ケンサク結果"), QStringLiteral(" ferretta")}) {
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QCoreApplication::sendEvent(focus, &commit);
    }
    ASSERT_EQ(m_form->combo()->currentText(), QStringLiteral("ケンサク結果 ferretta"));

    pressKey(Qt::Key_Return);
    ASSERT_EQ(model().rowCount(), 1);
    EXPECT_EQ(model().hitAt(0).content, "会議のｹﾝｻｸ結果ＦＥＲＲＥＴＴＡ");
    EXPECT_EQ(model().hitAt(0).position, "2,7");
    EXPECT_EQ(m_form->combo()->itemText(0), QStringLiteral("ケンサク結果 ferretta"));
}

TEST_F(MainFormTest, ProgressGoesToTheCaptionWhileTheStatusBarIsHidden) {
    start();
    writeFile(m_folder / "a.txt", "ferretta\n");
    send(modes::EventToggle);  // the normal form
    QAction* statusItem = action(*m_form, "mnStatusBar");
    for (const bool statusBar : {true, false}) {
        if (statusItem->isChecked() != statusBar)
            statusItem->trigger();
        QStringList titles;
        QStringList statusTexts;
        m_form->host().setDoEventsHook([&] {
            titles << m_form->windowTitle();
            statusTexts << m_form->statusText();
        });
        search(QStringLiteral("ferretta"));
        // The file, how many files so far, how many hits so far.
        const QString progress = QStringLiteral("検索中...a.txt（1ﾌｧｲﾙ目・0件ヒット）");
        EXPECT_EQ(titles.contains(progress), !statusBar) << statusBar;
        EXPECT_EQ(statusTexts.contains(progress), statusBar) << statusBar;
        EXPECT_EQ(m_form->windowTitle(), QStringLiteral("Ferretta"));
    }
}

TEST(SaveNameTest, ProposedByTheMinuteAndGivenTheFiltersExtension) {
    EXPECT_EQ(MainForm::proposedSaveName(QDateTime(QDate(2025, 3, 7), QTime(9, 5, 59))),
              QStringLiteral("検索結果_20250307_0905.csv"));
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/d/hits", "CSVﾌｧｲﾙ(*.csv)", "/d/hits.csv"},
        {"/d/hits", "ﾃｷｽﾄﾌｧｲﾙ(*.txt)", "/d/hits.txt"},
        {"/d/hits", "全てのﾌｧｲﾙ(*.*)", "/d/hits"},
        {"/d/hits.txt", "CSVﾌｧｲﾙ(*.csv)", "/d/hits.txt"},  // the user's own extension stays
        {"/d/hits.", "CSVﾌｧｲﾙ(*.csv)", "/d/hits."},
        {"/d.x/hits", "CSVﾌｧｲﾙ(*.csv)", "/d.x/hits.csv"},  // a dot in a folder is no extension
    };
    for (const auto& [path, filter, saved] : cases) {
        EXPECT_EQ(MainForm::withFilterSuffix(QString::fromUtf8(path), QString::fromUtf8(filter)),
                  QString::fromUtf8(saved))
            << path << " " << filter;
    }
}

TEST_F(MainFormTest, UnreadableFilesAreNamedAfterTheSearchAndF1ShowsTheHelp) {
    start();
    writeFile(m_folder / "a.txt", "ferretta\n");
    writeFile(m_folder / "b.txt", "ferretta\n");
    m_settings.workers = 1;  // workers would have read b.txt already
    // b.txt vanishes while a.txt is searched.
    m_form->host().setDoEventsHook([&] { fs::remove(m_folder / "b.txt"); });
    search(QStringLiteral("ferretta"));
    m_form->host().setDoEventsHook({});
    ASSERT_TRUE(m_form->statusText().contains(QStringLiteral("（読めないファイル1件）")));
    EXPECT_TRUE(m_form->findChild<QLabel*>(QStringLiteral("StatusText"))
                    ->toolTip()
                    .contains(QString::fromStdString((m_folder / "b.txt").string())));
    QAction* list = action(*m_form, "mnUnreadable");
    ASSERT_TRUE(list->isEnabled());
    test::ModalWatcher closer([&](QWidget* modal) {
        auto* text = modal->findChild<QPlainTextEdit*>(QStringLiteral("unreadableList"));
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(text->toPlainText().startsWith(
            QString::fromStdString((m_folder / "b.txt").string() + "\t")));
        modal->close();
    });
    list->trigger();
    EXPECT_EQ(closer.dialogs, std::vector<QString>{QStringLiteral("frmUnreadable")});

    activate();
    pressKey(Qt::Key_F1);
    auto* help = m_form->findChild<ui::modes::HelpWindow*>();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    help->close();
}

// The window's width and the size kept are the X-server scenario's.
TEST_F(MainFormTest, NormalWindowShowsEveryColumnAndItsRowsKeepTheirHeight) {
    start();
    writeFile(m_folder / "a.txt", "ferretta\n");
    search(QStringLiteral("ferretta"));
    settle();
    ASSERT_EQ(state(), modes::StateNormal);
    // All four columns in view, the content column taking the rest.
    QTreeView* list = m_form->listView();
    const QHeaderView* header = list->header();
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_LE(header->sectionViewportPosition(3) + header->sectionSize(3),
              list->viewport()->width());
    EXPECT_GE(header->sectionSize(1), header->minimumSectionSize());

    // Narrow and scrolled sideways past the icons, a new search's rows keep their height.
    m_form->resize(350, 500);
    settle();
    list->horizontalScrollBar()->setValue(list->horizontalScrollBar()->maximum());
    search(QStringLiteral("ferretta"));
    settle();
    ASSERT_EQ(model().rowCount(), 1);
    EXPECT_GE(list->visualRect(model().index(0, 3)).height(),
              std::max(list->iconSize().height(), list->fontMetrics().height()));
}

TEST_F(MainFormTest, PinnedWindowSitsInTheCornerAndAFreeOneIsMovedUpOnlyAsFarAsNeeded) {
    const QRect area = m_form->screen()->availableGeometry();
    // Free: low on the screen but well left; its bottom would leave the area, its right not.
    start();
    m_form->move(area.left() + 10, area.bottom() - 50);
    settle();
    send(modes::EventHotKey);
    ASSERT_EQ(state(), modes::StateNormal);
    EXPECT_EQ(m_form->frameGeometry().bottom(), area.bottom());
    EXPECT_EQ(m_form->frameGeometry().left(), area.left() + 10);

    // Pinned: the corner in both forms.
    action(*m_form, "mnPositionFixed")->trigger();
    for (const int event : {modes::EventBeMinimum, modes::EventHotKey}) {
        send(event);
        EXPECT_EQ(m_form->frameGeometry().bottomRight(), area.bottomRight()) << event;
    }
}

TEST_F(MainFormTest, WithoutATrayTheTaskBarStandsIn) {
    // The offscreen platform has no tray; the fallback must not need an override.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_form->taskTray().setAvailabilityOverride(false);
    start();
    send(modes::EventHotKey);
    send(modes::EventBeIcon);
    EXPECT_EQ(state(), modes::StateTrayFromNormal);
    EXPECT_FALSE(m_form->taskTray().isShown());
    EXPECT_TRUE(m_form->isVisible());  // still reachable: minimized in the task bar
    EXPECT_TRUE(m_form->isMinimized());
    // Restoring it from the task bar counts as the tray click.
    m_form->showNormal();
    settle();
    EXPECT_EQ(state(), modes::StateNormal);
    EXPECT_FALSE(m_form->isInTaskTray());
    EXPECT_TRUE(m_form->listView()->isVisible());
}

// The way out asked for while a search runs ends the program once: the search stops, nothing
// shows the window again, the tray icon goes, and a later request does nothing. (From each
// form without a search: the state machine's walk; the two menus' 終了: the X-server scenario.)
TEST_F(MainFormTest, ExitDuringASearchEndsTheProgramOnce) {
    for (int i = 0; i < 20; ++i)
        writeFile(m_folder / ("f" + std::to_string(i) + ".txt"), "ferretta\n");
    for (const bool fromTray : {true, false}) {
        SCOPED_TRACE(fromTray ? "the tray menu's 終了 in the tray" : "closed in the normal form");
        m_exits = 0;
        m_form = std::make_unique<MainForm>(m_settings);
        m_form->setExitHandler([this] { ++m_exits; });
        m_form->taskTray().setAvailabilityOverride(true);
        start();
        send(modes::EventHotKey);
        test::ModalWatcher watcher;
        const auto exitNow = [&] {
            if (fromTray) {
                action(m_form->taskTray().menu(), "mnTrayExit")->trigger();
            } else {
                m_form->close();
            }
        };
        bool asked = false;
        m_form->host().setDoEventsHook([&] {
            if (!std::exchange(asked, true)) {
                if (fromTray)
                    send(modes::EventMinimized);
                ASSERT_EQ(state(), fromTray ? modes::StateTrayFromNormal : modes::StateNormal);
                exitNow();
            }
        });
        search(QStringLiteral("ferretta"));
        EXPECT_TRUE(asked);
        EXPECT_LT(model().rowCount(), 20);
        settle();
        EXPECT_EQ(m_exits, 1);
        EXPECT_TRUE(m_form->isExiting());
        EXPECT_FALSE(m_form->isVisible());
        EXPECT_FALSE(m_form->taskTray().isShown());
        // Nothing more: no second save, no message about an event out of place.
        exitNow();
        m_form->close();
        settle();
        EXPECT_EQ(m_exits, 1);
        EXPECT_FALSE(m_form->isVisible());
        EXPECT_TRUE(watcher.texts.empty()) << watcher.texts.front().toStdString();
    }
}

TEST_F(MainFormTest, MessagesCarryTheTitleAndTheIconOfTheirStyle) {
    using S = app::MessageStyle;
    for (const auto& [style, icon] : {std::pair{S::Critical, QMessageBox::Critical},
                                      std::pair{S::Exclamation, QMessageBox::Warning},
                                      std::pair{S::Information, QMessageBox::Information}}) {
        test::ModalWatcher closer;
        m_form->host().showMessage("一行目\r二行目", style);
        ASSERT_EQ(closer.texts.size(), 1u);
        EXPECT_EQ(closer.titles[0], QStringLiteral("Ferretta"));
        EXPECT_EQ(closer.icons[0], icon);
        EXPECT_EQ(closer.texts[0], QStringLiteral("一行目\n二行目"));
    }
    test::ModalWatcher yes(QMessageBox::Yes);
    EXPECT_TRUE(m_form->host().askYesNo("?", app::MessageStyle::Information));
}

TEST(TwipsTest, ConvertsWithTheLogicalDpi) {
    struct Case {
        double twips;
        double dpi;
        int pixels;
    };
    for (const Case c :
         {Case{1440, 96, 96}, Case{4830, 96, 322}, Case{4830, 144, 483}, Case{7, 96, 0},
          Case{8, 96, 1}, Case{-15, 96, -1}, Case{1440, 0, 96}, Case{1e30, 96, 1000000000}}) {
        EXPECT_EQ(ui::main::twipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " " << c.dpi;
    }
    EXPECT_DOUBLE_EQ(ui::main::pixelsToTwips(322, 96), 4830);
}

}  // namespace
