// The main window offscreen, driven as a person drives it: keys go to the widget that has the
// focus (or to the window for its shortcuts), never to an inner widget. The search command,
// stopping it, the word history, saving, opening a hit, the layout rule, the tray and the way
// out, the status bar's text, message boxes, twips.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTreeView>
#include <cmath>
#include <filesystem>
#include <memory>
#include <tuple>

#include "platform/cp932.h"
#include "support/memory_item_store.h"
#include "support/qt_test_support.h"
#include "support/temp_tree.h"
#include "support/wait.h"
#include "ui/main/main_form.h"
#include "ui/main/preview_pane.h"
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

using test::readFile;
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
        m_settings.preview = false;  // the design's window; the pane's own test turns it on
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

TEST_F(MainFormTest, SearchFillsTheListAndTheSummary) {
    start();
    writeFile(m_folder / "a.txt", "first line\r\n日本語 ferretta\r\n");
    writeFile(m_folder / "b.txt", "nothing here\n");
    writeFile(m_folder / "sub" / "c.txt", "FERRETTA again\n");
    writeFile(m_folder / "d.log", "ferretta, but not a text type\n");

    search(QStringLiteral("ferretta"));

    ASSERT_EQ(model().rowCount(), 2);
    const app::Hit& first = model().hitAt(0);
    EXPECT_EQ(first.fileType, app::FileType::Text);
    EXPECT_EQ(first.name, "a.txt");
    EXPECT_EQ(first.content, "日本語 ferretta");
    EXPECT_EQ(first.location, (m_folder / "a.txt").string());
    EXPECT_EQ(first.position, "2,8");
    EXPECT_EQ(model().hitAt(1).position, "1,1");

    EXPECT_TRUE(m_form->statusText().startsWith(
        QStringLiteral("3ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、2件ヒットしました。")))
        << m_form->statusText().toStdString();
    // The end of a search opens the normal window with the first hit selected and focused.
    EXPECT_EQ(state(), modes::StateNormal);
    EXPECT_EQ(QApplication::focusWidget(), m_form->listView());
    EXPECT_EQ(m_form->listView()->currentIndex().row(), 0);

    // The summary stays while a menu is open and its entries are pointed at.
    const QString summary = m_form->statusText();
    QMenuBar* bar = m_form->menuBar();
    auto* fileMenu = m_form->findChild<QMenu*>(QStringLiteral("mnFile"));
    ASSERT_NE(fileMenu, nullptr);
    QTest::mouseClick(bar, Qt::LeftButton, {},
                      bar->actionGeometry(fileMenu->menuAction()).center());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(fileMenu));
    for (QAction* entry : fileMenu->actions())
        QTest::mouseMove(fileMenu, fileMenu->actionGeometry(entry).center());
    settle();
    EXPECT_EQ(m_form->statusText(), summary);
    EXPECT_TRUE(m_form->statusBarWidget()->currentMessage().isEmpty());
    pressKey(Qt::Key_Escape);
    EXPECT_FALSE(fileMenu->isVisible());

    search(QStringLiteral("nowhere"));
    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_FALSE(m_form->listView()->currentIndex().isValid());
    EXPECT_TRUE(m_form->statusText().startsWith(
        QStringLiteral("3ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、0件ヒットしました。")));
}

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

TEST_F(MainFormTest, StopKeepsTheRowsFoundSoFar) {
    start();
    constexpr int kFiles = 200;
    for (int i = 0; i < kFiles; ++i)
        writeFile(m_folder / ("f" + std::to_string(1000 + i) + ".txt"), "ferretta\n");
    struct Case {
        const char* how;
        std::function<void(MainForm&)> stop;
    };
    const Case cases[] = {
        {"button", [](MainForm& form) { form.searchButton()->click(); }},
        {"Esc", [](MainForm&) { pressKey(Qt::Key_Escape); }},
        {"Enter", [](MainForm&) { pressKey(Qt::Key_Return); }},
    };
    for (const Case& c : cases) {
        // A stop inside a file is told ("中断ボタンが押されました"); between files it is not.
        test::ModalWatcher closer;
        bool stopped = false;
        m_form->host().setDoEventsHook([&] {
            if (!stopped && m_form->model().rowCount() >= 5) {
                stopped = true;
                EXPECT_EQ(m_form->searchButton()->text(), QStringLiteral("中止(&C)"));
                c.stop(*m_form);
            }
        });
        search(QStringLiteral("ferretta"));
        EXPECT_TRUE(stopped) << c.how;
        EXPECT_TRUE(m_form->flags().isAbort) << c.how;
        EXPECT_GE(model().rowCount(), 5) << c.how;
        EXPECT_LT(model().rowCount(), kFiles) << c.how;
        EXPECT_EQ(m_form->searchButton()->text(), QStringLiteral("検索(&F)")) << c.how;
        EXPECT_TRUE(
            m_form->statusText().contains(QStringLiteral("ヒットしたところで中止しました。")))
            << c.how;
    }
}

TEST_F(MainFormTest, HistoryKeepsTheNewestWordsFirstWithoutDuplicates) {
    start();
    writeFile(m_folder / "a.txt", "x\n");
    // What is typed is searched: "alpha" after "alpha beta" is not completed from the history.
    for (const char* word : {"alpha beta", "alpha", "beta", "gamma", "beta"})
        search(QString::fromUtf8(word));
    const std::vector<std::string> expected{"beta", "gamma", "alpha", "alpha beta"};
    EXPECT_EQ(m_form->keywordItems(), expected);
    EXPECT_EQ(m_settings.keywords, expected);
    EXPECT_EQ(m_form->combo()->currentText(), QStringLiteral("beta"));

    // Enter in an empty box: the message, nothing else.
    test::ModalWatcher closer;
    m_form->combo()->setFocus(Qt::MouseFocusReason);
    m_form->combo()->clearEditText();
    pressKey(Qt::Key_Return);
    ASSERT_EQ(closer.texts.size(), 1u);
    EXPECT_EQ(closer.texts[0], QStringLiteral("検索文字列を入力してください"));
    EXPECT_EQ(closer.icons[0], QMessageBox::Information);
    EXPECT_EQ(m_form->keywordItems(), expected);
}

TEST_F(MainFormTest, CtrlSSavesTheListAsCp932) {
    start();
    send(modes::EventToggle);  // the normal form, where the menus and their keys are
    {
        test::ModalWatcher closer;
        pressKey(Qt::Key_S, Qt::ControlModifier);
        ASSERT_EQ(closer.texts.size(), 1u);
        EXPECT_EQ(closer.texts[0], QStringLiteral("検索結果がありません"));
        EXPECT_EQ(closer.icons[0], QMessageBox::Warning);
    }
    writeFile(m_folder / "b.txt", "say \"ferretta\"\n");
    writeFile(m_folder / "a.txt", "日本語 ferretta\n");
    search(QStringLiteral("ferretta"));
    model().columnClicked(0);  // descending by name: b.txt first
    const fs::path out = m_root / "out.csv";
    // The save dialog gets the file name typed and accepted; the program's own boxes follow.
    const auto saveAs = [&](QMessageBox::StandardButton answer) {
        test::ModalWatcher watcher(answer, [&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("検索結果の保存"));
            dialog->selectFile(QString::fromStdString(out.string()));
            static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
        });
        activate();
        pressKey(Qt::Key_S, Qt::ControlModifier);
        return watcher.texts;
    };
    std::vector<QString> texts = saveAs(QMessageBox::Ok);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], QStringLiteral("検索結果が保存されました"));
    const std::string b =
        "\"b.txt\",\"say \"ferretta\"\",\"" + (m_folder / "b.txt").string() + "\",\"1,6\"\r\n";
    const std::string a = "\"a.txt\",\"\x93\xfa\x96\x7b\x8c\xea ferretta\",\"" +
                          (m_folder / "a.txt").string() + "\",\"1,8\"\r\n";
    EXPECT_EQ(readFile(out), b + a);

    // An existing file: No leaves it as it was and says nothing more.
    writeFile(out, "keep");
    texts = saveAs(QMessageBox::No);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].endsWith(QStringLiteral("は既に存在します。上書きしますか？")));
    EXPECT_EQ(readFile(out), "keep");
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

TEST_F(MainFormTest, DoubleClickOrEnterOnAHitStartsTheEditorAtLineAndColumn) {
    start();
    const fs::path script = m_root / "editor.sh";
    const fs::path record = m_root / "args.txt";
    writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + record.string() + ".tmp\"\nmv \"" +
                          record.string() + ".tmp\" \"" + record.string() + "\"\n");
    fs::permissions(script, fs::perms::owner_all);
    m_settings.editor = "\"" + script.string() + "\" %1 %2 %3";
    writeFile(m_folder / "a.txt", "one\ntwo ferretta\n");
    search(QStringLiteral("ferretta"));
    ASSERT_EQ(model().rowCount(), 1);
    settle();  // lays the list out in the normal form

    struct Case {
        const char* how;
        std::function<void(MainForm&)> open;
    };
    const Case cases[] = {
        {"double-click",
         [](MainForm& form) {
             QTreeView* view = form.listView();
             const QPoint at = view->visualRect(view->model()->index(0, 0)).center();
             // A press and release, then the double-click event, as a real mouse sends them.
             QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
             QMouseEvent twice(QEvent::MouseButtonDblClick, at, view->viewport()->mapToGlobal(at),
                               Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(view->viewport(), &twice);
             QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
         }},
        {"Enter", [](MainForm&) { pressKey(Qt::Key_Return); }},
    };
    for (const Case& c : cases) {
        fs::remove(record);
        c.open(*m_form);
        test::waitUntil([&] { return fs::exists(record); });
        EXPECT_EQ(readFile(record), (m_folder / "a.txt").string() + "\n2\n5\n") << c.how;
    }
}

TEST_F(MainFormTest, LayoutKeepsTheSmallestSizesAndGivesTheStatusBarsPlace) {
    using ui::main::twipsToPixelsX;
    using ui::main::twipsToPixelsY;
    start();
    const int minimumWidth = twipsToPixelsX(ui::main::minimumWidthTwips, m_form.get());
    EXPECT_EQ(m_form->frameGeometry().width(), minimumWidth);
    EXPECT_FALSE(m_form->listView()->isVisible());
    m_form->resize(800, 600);  // a drag cannot change the compact form
    EXPECT_EQ(m_form->frameGeometry().width(), minimumWidth);

    send(modes::EventToggle);
    ASSERT_EQ(state(), modes::StateNormal);
    EXPECT_TRUE(m_form->listView()->isVisible());
    m_form->resize(10, 10);
    EXPECT_GE(m_form->frameGeometry().width(),
              twipsToPixelsX(ui::main::normalMinWidthTwips, m_form.get()));
    EXPECT_GE(m_form->frameGeometry().height(),
              twipsToPixelsY(ui::main::normalMinHeightTwips, m_form.get()));

    m_form->resize(700, 600);
    settle();
    const int withBar = m_form->listView()->height();
    const int barHeight = m_form->statusBarWidget()->height();
    QAction* statusItem = action(*m_form, "mnStatusBar");
    statusItem->trigger();
    settle();
    EXPECT_FALSE(m_settings.statusBar);
    EXPECT_EQ(m_form->listView()->height(), withBar + barHeight);

    // F9 is ミニマム: back to the compact form, the focus in the word box.
    pressKey(Qt::Key_F9);
    settle();
    EXPECT_EQ(state(), modes::StateMinimum);
    EXPECT_EQ(m_form->frameGeometry().width(), minimumWidth);
    EXPECT_EQ(QApplication::focusWidget(), m_form->combo());
}

TEST_F(MainFormTest, NormalWindowIsWideKeepsTheUsersSizeAndItsRowsTheirHeight) {
    start();
    writeFile(m_folder / "a.txt", "ferretta\n");
    search(QStringLiteral("ferretta"));
    settle();
    ASSERT_EQ(state(), modes::StateNormal);
    const QRect area = m_form->screen()->availableGeometry();
    EXPECT_GE(m_form->frameGeometry().width(), area.width() * 3 / 4);
    // All four columns in view, the content column taking the rest.
    QTreeView* list = m_form->listView();
    const QHeaderView* header = list->header();
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_LE(header->sectionViewportPosition(3) + header->sectionSize(3),
              list->viewport()->width());
    EXPECT_GE(header->sectionSize(1), header->minimumSectionSize());

    // The user's size comes back after the compact form, and is kept for the next start.
    m_form->resize(700, 500);
    settle();
    const QSize given = m_form->frameGeometry().size();
    pressKey(Qt::Key_F9);
    send(modes::EventToggle);
    EXPECT_EQ(m_form->frameGeometry().size(), given);
    EXPECT_EQ(m_settings.normalWidth,
              std::lround(ui::main::pixelsToTwipsX(given.width(), m_form.get())));

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

TEST_F(MainFormTest, TrayHidesTheWindowAndGivesBackTheFormItCameFrom) {
    m_form->taskTray().setAvailabilityOverride(true);
    start();
    struct Case {
        int form;
        std::function<void(MainForm&)> toTray;
        const char* back;  // a tray entry, or nullptr for a left click on the icon
    };
    const auto minimize = [](MainForm& form) {
        // As the window manager does it: showMinimized would show the window again.
        form.setWindowState(form.windowState() | Qt::WindowMinimized);
    };
    const auto beIcon = [](MainForm& form) { action(form, "mnBeIcon")->trigger(); };
    const Case cases[] = {{modes::StateMinimum, minimize, "mnTrayOpen"},
                          {modes::StateNormal, beIcon, nullptr},
                          {modes::StateNormal, minimize, "mnTrayOpen"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.form);
        if (state() != c.form)
            send(c.form == modes::StateNormal ? modes::EventHotKey : modes::EventBeMinimum);
        c.toTray(*m_form);
        settle();
        EXPECT_EQ(state(), c.form == modes::StateNormal ? modes::StateTrayFromNormal
                                                        : modes::StateTrayFromMinimum);
        EXPECT_TRUE(m_form->taskTray().isShown());
        EXPECT_FALSE(m_form->isVisible());

        if (c.back != nullptr) {
            action(m_form->taskTray().menu(), c.back)->trigger();
        } else {
            emit m_form->taskTray().icon().activated(QSystemTrayIcon::Trigger);
        }
        settle();
        EXPECT_EQ(state(), c.form);
        EXPECT_FALSE(m_form->taskTray().isShown());
        EXPECT_TRUE(m_form->isVisible());
        EXPECT_FALSE(m_form->isMinimized());
        EXPECT_EQ(m_form->listView()->isVisible(), c.form == modes::StateNormal);
    }

    // The options and the About box open modally from the tray; the form stays in the tray.
    send(modes::EventMinimized);
    QSignalSpy aboutSpy(action(*m_form, "mnVersionInfo"), &QAction::triggered);
    {
        test::ModalWatcher closer;
        action(m_form->taskTray().menu(), "mnTrayOption")->trigger();
        action(m_form->taskTray().menu(), "mnTrayVersion")->trigger();
        ASSERT_FALSE(closer.dialogs.empty());
        EXPECT_EQ(closer.dialogs.front(), QStringLiteral("Dialog"));
    }
    EXPECT_EQ(aboutSpy.count(), 1);
    EXPECT_EQ(state(), modes::StateTrayFromNormal);
    EXPECT_FALSE(m_form->isVisible());
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

// The way out ends the program whatever the form and whoever asks, once: nothing shows the
// window again, the tray icon goes, and a later request does nothing.
TEST_F(MainFormTest, ExitEndsTheProgramOnceFromEveryFormAndSender) {
    struct Case {
        int form;
        const char* how;
        bool duringSearch;
    };
    const Case cases[] = {
        {modes::StateTrayFromMinimum, "mnTrayExit", false},
        {modes::StateTrayFromNormal, "mnTrayExit", false},
        {modes::StateTrayFromNormal, "close", false},
        {modes::StateMinimum, "close", false},
        {modes::StateNormal, "mnEnd", false},
        {modes::StateTrayFromNormal, "mnTrayExit", true},
        {modes::StateNormal, "close", true},
    };
    for (int i = 0; i < 20; ++i)
        writeFile(m_folder / ("f" + std::to_string(i) + ".txt"), "ferretta\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.how) + " in form " + std::to_string(c.form) +
                     (c.duringSearch ? " during a search" : ""));
        m_exits = 0;
        m_form = std::make_unique<MainForm>(m_settings);
        m_form->setExitHandler([this] { ++m_exits; });
        m_form->taskTray().setAvailabilityOverride(true);
        start();
        const bool inTray =
            c.form == modes::StateTrayFromMinimum || c.form == modes::StateTrayFromNormal;
        if (c.form == modes::StateNormal || c.form == modes::StateTrayFromNormal)
            send(modes::EventHotKey);
        // A search is started in the window; the window goes to the tray while it runs.
        const auto toForm = [&] {
            if (inTray)
                send(modes::EventMinimized);
            ASSERT_EQ(state(), c.form);
        };
        if (!c.duringSearch)
            toForm();

        test::ModalWatcher watcher;
        const auto exitNow = [&] {
            if (std::string_view(c.how) == "close") {
                m_form->close();
            } else if (std::string_view(c.how) == "mnEnd") {
                action(*m_form, "mnEnd")->trigger();
            } else {
                action(m_form->taskTray().menu(), "mnTrayExit")->trigger();
            }
        };
        if (c.duringSearch) {
            bool asked = false;
            m_form->host().setDoEventsHook([&] {
                if (!std::exchange(asked, true)) {
                    toForm();
                    exitNow();
                }
            });
            search(QStringLiteral("ferretta"));
            EXPECT_TRUE(asked);
            EXPECT_LT(model().rowCount(), 20);
        } else {
            exitNow();
        }
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

// Mail-program items searched through the window: the subject's hit in blue; Enter on a hit
// shows that item, or says it is gone.
TEST_F(MainFormTest, PreviewFollowsTheSelectionAndIsSwitchedInTheViewMenu) {
    start();
    writeFile(m_folder / "a.txt",
              platform::utf8ToCp932("件名\r\n見積書 一\r\n金額\r\n見積書 二\r\n備考\r\n"));
    // Key presses carrying Japanese text, as a keyboard layout that has them sends them.
    for (QChar ch : QStringLiteral("見積")) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(QApplication::focusWidget(), &press);
    }
    pressKey(Qt::Key_Return);
    ASSERT_EQ(model().rowCount(), 2);
    ui::main::PreviewPane* pane = m_form->previewPane();
    EXPECT_FALSE(pane->isVisible());
    const QSize listAlone = m_form->listView()->size();

    action(*m_form, "mnPreview")->trigger();
    settle();
    EXPECT_TRUE(m_settings.preview);
    EXPECT_TRUE(pane->isVisible());
    EXPECT_NE(m_form->listView()->size(), listAlone);
    auto shows = [pane](const char* text) {
        return test::waitUntil([&] {
            QCoreApplication::processEvents();
            return pane->isCurrent() && pane->toPlainText() == QString::fromUtf8(text);
        });
    };
    EXPECT_TRUE(shows("1  件名\n2  見積書 一\n3  金額\n4  見積書 二\n5  備考"));
    // The keys move from hit to hit wherever the focus is; the pane follows.
    auto key = [](int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), static_cast<Qt::Key>(code),
                            QString(), modifiers);
    };
    ASSERT_EQ(QApplication::focusWidget(), m_form->listView());
    key(Qt::Key_Down);
    EXPECT_EQ(m_form->listView()->currentIndex().row(), 1);
    key(Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(m_form->listView()->currentIndex().row(), 0);
    m_form->combo()->setFocus();
    key(Qt::Key_F3);
    EXPECT_EQ(m_form->listView()->currentIndex().row(), 1);
    EXPECT_TRUE(test::waitUntil([&] {
        QCoreApplication::processEvents();
        return pane->isCurrent();
    }));
    EXPECT_EQ(pane->textCursor().block().text(), QStringLiteral("4  見積書 二"));
    // The words are marked where they occur, on every line.
    EXPECT_EQ(pane->toHtml().count(QStringLiteral("font-weight:700")), 2);

    action(*m_form, "mnPreview")->trigger();
    settle();
    EXPECT_FALSE(m_settings.preview);
    EXPECT_FALSE(pane->isVisible());
    EXPECT_EQ(m_form->listView()->size(), listAlone);
}

TEST_F(MainFormTest, ItemsAreSearchedAndOpenedFromTheKeyboard) {
    auto owned = std::make_unique<test::MemoryItemStore>();
    test::MemoryItemStore& store = *owned;
    m_form->setItemStore(std::move(owned));
    auto& inbox = store.folders[platform::pim::FolderKind::Inbox];
    inbox = {test::memoryItem("m1", "会議の件", "来週の会議"), test::memoryItem("m2", "別件")};
    m_settings.fileTypes.targetFileType.fill(false);
    m_settings.fileTypes.setTarget(app::FileType::OutlookMail, true);
    start();
    // Key presses carrying Japanese text, as a keyboard layout that has them sends them.
    for (QChar ch : QStringLiteral("会議")) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(QApplication::focusWidget(), &press);
    }
    pressKey(Qt::Key_Return);

    ASSERT_EQ(model().rowCount(), 2);
    EXPECT_EQ(model().hitAt(0).location, "Outlookメール(1)-表題");
    EXPECT_EQ(model().data(model().index(0, 1), Qt::ForegroundRole).value<QColor>(),
              QColor(0, 0, 255));
    EXPECT_EQ(model().hitAt(1).position, "1,7");
    EXPECT_TRUE(m_form->statusText().startsWith(
        QStringLiteral("2ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、2件ヒットしました。")));

    ASSERT_EQ(QApplication::focusWidget(), m_form->listView());
    pressKey(Qt::Key_Return);
    EXPECT_EQ(store.displayed, std::vector<std::string>{"m1"});

    inbox.erase(inbox.begin());
    test::ModalWatcher watcher;
    pressKey(Qt::Key_Return);
    EXPECT_EQ(watcher.texts,
              std::vector<QString>{QStringLiteral("オブジェクトを開けませんでした No=1")});
}

}  // namespace
