// The main window offscreen: the search command, stopping it, the word history, saving,
// opening a hit, the layout rule, message boxes, twips.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/cp932.h"
#include "search/results_file.h"
#include "support/memory_item_store.h"
#include "support/qt_test_support.h"
#include "ui/main/main_form.h"
#include "ui/main/qt_host.h"
#include "ui/main/results_model.h"
#include "ui/main/twips.h"

// Fontconfig's cache lives until the process ends: not our leak.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace fs = std::filesystem;
using namespace ferretta;
using ferretta::ui::main::MainForm;

namespace {

void writeFile(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class MainFormTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }

    void SetUp() override {
        m_root = fs::temp_directory_path() /
                 ("ferretta_main_form_" +
                  std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        m_folder = m_root / "folder";
        fs::create_directories(m_folder);
        qputenv("FERRETTA_HOME", QByteArray::fromStdString(m_root.string()));
        m_settings.dir = m_folder.string();
        m_settings.fixed = false;
        m_settings.statusBar = true;
        m_form = std::make_unique<MainForm>(m_settings);
        m_form->applySettings();
        m_form->setExitHandler([] {});
        m_form->stateMachine().matrixCall(ui::modes::EventStartUpDone);
    }

    void TearDown() override {
        m_form.reset();
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }

    void search(const QString& words) {
        m_form->combo()->setEditText(words);
        m_form->searchButton()->click();
    }

    ui::main::ResultsModel& model() { return m_form->model(); }

    fs::path m_root;
    fs::path m_folder;
    app::Settings m_settings;
    std::unique_ptr<MainForm> m_form;
};

TEST_F(MainFormTest, SearchFillsTheListAndTheSummary) {
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
    EXPECT_EQ(model().hitAt(1).name, "c.txt");
    EXPECT_EQ(model().hitAt(1).position, "1,1");
    for (int row = 0; row < 2; ++row) {
        const QVariant icon = model().data(model().index(row, 0), Qt::DecorationRole);
        EXPECT_FALSE(icon.value<QIcon>().isNull()) << row;
    }

    const QString summary = m_form->statusBarWidget()->currentMessage();
    EXPECT_TRUE(summary.startsWith(QStringLiteral("3ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、2件ヒットしました。")))
        << summary.toStdString();
    EXPECT_EQ(m_form->windowTitle(), QStringLiteral("Ferretta"));
    EXPECT_EQ(m_form->searchButton()->text(), QStringLiteral("検索(&F)"));
    EXPECT_FALSE(m_form->flags().isSearching);
    // The end of a search opens the normal window with the first hit selected.
    EXPECT_EQ(m_form->stateMachine().stateNumber(), ui::modes::StateNormal);
    EXPECT_EQ(m_form->listView()->currentIndex().row(), 0);

    test::ModalWatcher closer(QMessageBox::Ok, [](QWidget*) {});
    search(QStringLiteral("nowhere"));
    EXPECT_TRUE(closer.texts.empty());
    EXPECT_EQ(model().rowCount(), 0);
    EXPECT_FALSE(m_form->listView()->currentIndex().isValid());
    EXPECT_TRUE(m_form->statusBarWidget()->currentMessage().startsWith(
        QStringLiteral("3ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、0件ヒットしました。")));
}

// Japanese arrives through the input method: a preedit that is not yet text, then a commit.
// The committed words are searched on Enter, width-folded, in a CP932 file.
TEST_F(MainFormTest, WordsCommittedByAnInputMethodAreSearchedOnEnter) {
    writeFile(m_folder / "memo.txt",
              platform::utf8ToCp932("一行目\r\n会議のｹﾝｻｸ結果ＦＥＲＲＥＴＴＡ\r\n"));
    QLineEdit* edit = m_form->combo()->lineEdit();
    edit->setFocus();

    QInputMethodEvent preedit(QStringLiteral("けんさく"), {});
    QCoreApplication::sendEvent(edit, &preedit);
    EXPECT_TRUE(m_form->combo()->currentText().isEmpty());
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("ケンサク結果"));
    QCoreApplication::sendEvent(edit, &commit);
    QInputMethodEvent second;
    second.setCommitString(QStringLiteral(" ferretta"));
    QCoreApplication::sendEvent(edit, &second);
    ASSERT_EQ(m_form->combo()->currentText(), QStringLiteral("ケンサク結果 ferretta"));

    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_EQ(model().rowCount(), 1);
    EXPECT_EQ(model().hitAt(0).content, "会議のｹﾝｻｸ結果ＦＥＲＲＥＴＴＡ");
    EXPECT_EQ(model().hitAt(0).position, "2,7");
    EXPECT_EQ(m_form->combo()->itemText(0), QStringLiteral("ケンサク結果 ferretta"));
}

TEST_F(MainFormTest, ProgressGoesToTheCaptionWhileTheStatusBarIsHidden) {
    writeFile(m_folder / "a.txt", "ferretta\n");
    m_form->stateMachine().matrixCall(ui::modes::EventToggle);  // the normal form
    auto* statusItem = m_form->findChild<QAction*>(QStringLiteral("mnStatusBar"));
    ASSERT_NE(statusItem, nullptr);
    struct Case {
        bool statusBar;
        bool inCaption;
    };
    for (const Case c : {Case{true, false}, Case{false, true}}) {
        if (statusItem->isChecked() != c.statusBar)
            statusItem->trigger();
        QStringList titles;
        QStringList statusTexts;
        m_form->host().setDoEventsHook([&] {
            titles << m_form->windowTitle();
            statusTexts << m_form->statusBarWidget()->currentMessage();
        });
        search(QStringLiteral("ferretta"));
        const QString progress = QStringLiteral("検索中...a.txt");
        EXPECT_EQ(titles.contains(progress), c.inCaption) << c.statusBar;
        EXPECT_EQ(statusTexts.contains(progress), !c.inCaption) << c.statusBar;
        EXPECT_EQ(m_form->windowTitle(), QStringLiteral("Ferretta"));
    }
}

TEST_F(MainFormTest, StopKeepsTheRowsFoundSoFar) {
    constexpr int kFiles = 200;
    for (int i = 0; i < kFiles; ++i)
        writeFile(m_folder / ("f" + std::to_string(1000 + i) + ".txt"), "ferretta\n");
    struct Case {
        const char* how;
        std::function<void(MainForm&)> stop;
    };
    const Case cases[] = {
        {"button", [](MainForm& form) { form.searchButton()->click(); }},
        {"Esc", [](MainForm& form) { QTest::keyClick(form.combo()->lineEdit(), Qt::Key_Escape); }},
        {"Enter",
         [](MainForm& form) { QTest::keyClick(form.combo()->lineEdit(), Qt::Key_Return); }},
    };
    for (const Case& c : cases) {
        test::ModalWatcher closer(QMessageBox::Ok, [](QWidget*) {});
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
        EXPECT_TRUE(m_form->statusBarWidget()->currentMessage().contains(
            QStringLiteral("件ヒットしました。")))
            << c.how;
    }
}

TEST_F(MainFormTest, HistoryKeepsTheNewestWordsFirstWithoutDuplicates) {
    writeFile(m_folder / "a.txt", "x\n");
    for (const char* word : {"alpha", "beta", "gamma", "beta"})
        search(QString::fromUtf8(word));
    const std::vector<std::string> expected{"beta", "gamma", "alpha"};
    EXPECT_EQ(m_form->keywordItems(), expected);
    EXPECT_EQ(m_settings.keywords, expected);
    EXPECT_EQ(m_form->combo()->currentText(), QStringLiteral("beta"));

    test::ModalWatcher closer(QMessageBox::Ok, [](QWidget*) {});
    search(QString());
    ASSERT_EQ(closer.texts.size(), 1u);
    EXPECT_EQ(closer.texts[0], QStringLiteral("検索文字列を入力してください"));
    EXPECT_EQ(closer.icons[0], QMessageBox::Information);
    EXPECT_EQ(m_form->keywordItems(), expected);
}

TEST_F(MainFormTest, SavingWritesTheListAsCp932) {
    {
        test::ModalWatcher closer(QMessageBox::Ok, [](QWidget*) {});
        m_form->mnSave_Click();
        ASSERT_EQ(closer.texts.size(), 1u);
        EXPECT_EQ(closer.texts[0], QStringLiteral("検索結果がありません"));
        EXPECT_EQ(closer.icons[0], QMessageBox::Warning);
    }
    auto* save = m_form->findChild<QAction*>(QStringLiteral("mnSave"));
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));

    writeFile(m_folder / "b.txt", "say \"ferretta\"\n");
    writeFile(m_folder / "a.txt", "日本語 ferretta\n");
    search(QStringLiteral("ferretta"));
    model().columnClicked(0);  // descending by name: b.txt first
    const fs::path out = m_root / "out.csv";
    {
        test::ModalWatcher closer(QMessageBox::Ok, [](QWidget*) {});
        EXPECT_TRUE(m_form->saveResultsTo(out));
        ASSERT_EQ(closer.texts.size(), 1u);
        EXPECT_EQ(closer.texts[0], QStringLiteral("検索結果が保存されました"));
        EXPECT_EQ(closer.titles[0], QStringLiteral("Ferretta"));
    }
    const std::string bytes = readFile(out);
    const std::string b =
        "\"b.txt\",\"say \"ferretta\"\",\"" + (m_folder / "b.txt").string() + "\",\"1,6\"\r\n";
    const std::string a = "\"a.txt\",\"\x93\xfa\x96\x7b\x8c\xea ferretta\",\"" +
                          (m_folder / "a.txt").string() + "\",\"1,8\"\r\n";
    EXPECT_EQ(bytes, b + a);

    // An existing file: No leaves it as it was and says nothing more.
    writeFile(out, "keep");
    {
        test::ModalWatcher closer(QMessageBox::No, [](QWidget*) {});
        EXPECT_FALSE(m_form->saveResultsTo(out));
        ASSERT_EQ(closer.texts.size(), 1u);
        EXPECT_TRUE(closer.texts[0].endsWith(QStringLiteral("は既に存在します。上書きしますか？")));
    }
    EXPECT_EQ(readFile(out), "keep");
}

TEST_F(MainFormTest, OpeningATextHitStartsTheEditorAtLineAndColumn) {
    const fs::path script = m_root / "editor.sh";
    const fs::path record = m_root / "args.txt";
    writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + record.string() + ".tmp\"\nmv \"" +
                          record.string() + ".tmp\" \"" + record.string() + "\"\n");
    fs::permissions(script, fs::perms::owner_all);
    m_settings.editor = "\"" + script.string() + "\" %1 %2 %3";
    writeFile(m_folder / "a.txt", "one\ntwo ferretta\n");
    search(QStringLiteral("ferretta"));
    ASSERT_EQ(model().rowCount(), 1);

    struct Case {
        const char* how;
        std::function<void(MainForm&)> open;
    };
    const Case cases[] = {
        {"double-click",
         [](MainForm& form) {
             QTreeView* view = form.listView();
             const QRect cell = view->visualRect(view->model()->index(0, 0));
             // A press and release, then the double-click event, as a real mouse sends them.
             const QPoint at = cell.center();
             QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
             QMouseEvent twice(QEvent::MouseButtonDblClick, at, view->viewport()->mapToGlobal(at),
                               Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(view->viewport(), &twice);
             QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
         }},
        {"Enter", [](MainForm& form) { QTest::keyClick(form.listView(), Qt::Key_Return); }},
    };
    QApplication::processEvents();  // lays the list out in the normal form
    for (const Case& c : cases) {
        fs::remove(record);
        c.open(*m_form);
        for (int i = 0; i < 500 && !fs::exists(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(readFile(record), (m_folder / "a.txt").string() + "\n2\n5\n") << c.how;
    }
}

TEST_F(MainFormTest, LayoutKeepsTheSmallestSizesAndGivesTheStatusBarsPlace) {
    using ui::main::twipsToPixelsX;
    using ui::main::twipsToPixelsY;
    // Start-up shows the compact form; a drag cannot change it.
    ASSERT_EQ(m_form->stateMachine().stateNumber(), ui::modes::StateMinimum);
    const int minimumWidth = twipsToPixelsX(ui::main::minimumWidthTwips, m_form.get());
    EXPECT_EQ(m_form->frameGeometry().width(), minimumWidth);
    EXPECT_FALSE(m_form->listView()->isVisible());
    m_form->resize(800, 600);
    EXPECT_EQ(m_form->frameGeometry().width(), minimumWidth);

    m_form->stateMachine().matrixCall(ui::modes::EventToggle);
    ASSERT_EQ(m_form->stateMachine().stateNumber(), ui::modes::StateNormal);
    EXPECT_TRUE(m_form->listView()->isVisible());
    m_form->resize(10, 10);
    EXPECT_GE(m_form->frameGeometry().width(),
              twipsToPixelsX(ui::main::normalMinWidthTwips, m_form.get()));
    EXPECT_GE(m_form->frameGeometry().height(),
              twipsToPixelsY(ui::main::normalMinHeightTwips, m_form.get()));

    m_form->resize(700, 600);
    QApplication::processEvents();
    const int withBar = m_form->listView()->height();
    const int barHeight = m_form->statusBarWidget()->height();
    auto* statusItem = m_form->findChild<QAction*>(QStringLiteral("mnStatusBar"));
    ASSERT_NE(statusItem, nullptr);
    statusItem->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(m_settings.statusBar);
    EXPECT_EQ(m_form->listView()->height(), withBar + barHeight);
    statusItem->trigger();
    QApplication::processEvents();
    EXPECT_EQ(m_form->listView()->height(), withBar);
}

TEST_F(MainFormTest, MessagesCarryTheTitleAndTheIconOfTheirStyle) {
    struct Case {
        app::MessageStyle style;
        QMessageBox::Icon icon;
    };
    for (const Case c : {Case{app::MessageStyle::Critical, QMessageBox::Critical},
                         Case{app::MessageStyle::Exclamation, QMessageBox::Warning},
                         Case{app::MessageStyle::Information, QMessageBox::Information}}) {
        test::ModalWatcher closer(QMessageBox::Ok, [](QWidget*) {});
        m_form->host().showMessage("一行目\r二行目", c.style);
        ASSERT_EQ(closer.texts.size(), 1u);
        EXPECT_EQ(closer.titles[0], QStringLiteral("Ferretta"));
        EXPECT_EQ(closer.icons[0], c.icon);
        EXPECT_EQ(closer.texts[0], QStringLiteral("一行目\n二行目"));
    }
    test::ModalWatcher yes(QMessageBox::Yes, [](QWidget*) {});
    EXPECT_TRUE(m_form->host().askYesNo("?", app::MessageStyle::Information));
}

TEST(TwipsTest, ConvertsWithTheLogicalDpi) {
    struct Case {
        double twips;
        double dpi;
        int pixels;
    };
    for (const Case c : {Case{1440, 96, 96}, Case{15, 96, 1}, Case{4830, 96, 322},
                         Case{4830, 144, 483}, Case{7, 96, 0}, Case{8, 96, 1}, Case{-15, 96, -1},
                         Case{1440, 0, 96}, Case{1e30, 96, 1000000000}}) {
        EXPECT_EQ(ui::main::twipsToPixels(c.twips, c.dpi), c.pixels) << c.twips << " " << c.dpi;
    }
    EXPECT_DOUBLE_EQ(ui::main::pixelsToTwips(322, 96), 4830);
    EXPECT_DOUBLE_EQ(ui::main::twipsPerPixel(96), 15);
}

// Mail-program items searched through the window: the subject's hit in blue; Enter on a hit
// shows that item, or says it is gone.
TEST_F(MainFormTest, ItemsAreSearchedAndOpenedFromTheKeyboard) {
    auto owned = std::make_unique<test::MemoryItemStore>();
    test::MemoryItemStore& store = *owned;
    m_form->setItemStore(std::move(owned));
    auto& inbox = store.folders[platform::pim::FolderKind::Inbox];
    inbox = {test::memoryItem("m1", "会議の件", "来週の会議"), test::memoryItem("m2", "別件")};
    m_settings.fileTypes.targetFileType.fill(false);
    m_settings.fileTypes.setTarget(app::FileType::OutlookMail, true);
    QApplication::setActiveWindow(m_form.get());
    m_form->combo()->setFocus();
    // Key presses carrying Japanese text, as a keyboard layout that has them sends them.
    for (QChar ch : QStringLiteral("会議")) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(QApplication::focusWidget(), &press);
    }
    m_form->searchButton()->click();

    ASSERT_EQ(model().rowCount(), 2);
    EXPECT_EQ(model().hitAt(0).location, "Outlookメール(1)-表題");
    EXPECT_EQ(model().data(model().index(0, 1), Qt::ForegroundRole).value<QColor>(),
              QColor(0, 0, 255));
    EXPECT_EQ(model().hitAt(1).position, "1,7");
    EXPECT_TRUE(m_form->statusBarWidget()->currentMessage().startsWith(
        QStringLiteral("2ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、2件ヒットしました。")));

    ASSERT_EQ(QApplication::focusWidget(), m_form->listView());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(store.displayed, std::vector<std::string>{"m1"});

    inbox.erase(inbox.begin());
    test::ModalWatcher watcher;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(watcher.texts,
              std::vector<QString>{QStringLiteral("オブジェクトを開けませんでした No=1")});
}

}  // namespace
