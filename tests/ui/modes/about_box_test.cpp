// The About box offscreen: its texts and links, the debug-log switch, and the menu entry that
// opens it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/debug_log.h"
#include "app/settings.h"
#include "support/qt_test_support.h"
#include "support/temp_tree.h"
#include "ui/main/main_form.h"
#include "ui/modes/about_box.h"
#include "ui/modes/help_window.h"

namespace fs = std::filesystem;
using namespace ferretta;
using ferretta::ui::modes::AboutBox;

namespace {

// The About box is left through its OK button, other modal windows are closed.
void clickOkOrClose(QWidget* modal) {
    if (auto* about = qobject_cast<AboutBox*>(modal))
        about->okButton()->click();
    else
        modal->close();
}

class AboutBoxTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The log's place is fixed at its first use: point it at our own folder before that.
        qputenv("FERRETTA_HOME", QByteArray::fromStdString(home().path()));
        test::ensureOffscreenApplication();
    }
    static const test::TempTree& home() {
        static const test::TempTree tree;
        return tree;
    }
    static void closeAndRemoveLog() {
        app::debugLog().logClose();
        std::error_code ignored;
        fs::remove_all(app::debugLog().path(), ignored);
    }
    void SetUp() override { closeAndRemoveLog(); }
    void TearDown() override { closeAndRemoveLog(); }
};

// (Its title is one of the captions the Japanese-font test walks.)
TEST_F(AboutBoxTest, ShowsTheProjectVersionAndTheIcon) {
    AboutBox box;
    // The version shown is the one the project declares, not a copy that can fall behind.
    const std::string cmake = test::readFile(fs::path(FERRETTA_SOURCE_DIR) / "CMakeLists.txt");
    std::smatch match;
    ASSERT_TRUE(
        std::regex_search(cmake, match, std::regex(R"(project\(Ferretta VERSION ([0-9.]+))")));
    EXPECT_EQ(box.versionLabel()->text().toStdString(), "ver." + match[1].str());
    EXPECT_FALSE(box.iconButton()->icon().isNull());
}

// The help window that a link opened, or null.
ui::modes::HelpWindow* shownHelp() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* help = qobject_cast<ui::modes::HelpWindow*>(widget); help && help->isVisible())
            return help;
    }
    return nullptr;
}

TEST_F(AboutBoxTest, LinksShowTheLocalHelpPageWithoutABrowser) {
    AboutBox box;
    const QUrl help = ui::modes::helpPageUrl();
    EXPECT_TRUE(help.isLocalFile());
    EXPECT_TRUE(help.path().endsWith(QStringLiteral("/help/index.html")));
    // A click on the link text goes through the handlers: the page, then its contact section.
    emit box.homePageLabel()->linkActivated(help.toString());
    ui::modes::HelpWindow* window = shownHelp();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->browser()->source(), help);
    box.Label5_Click();
    EXPECT_EQ(window->browser()->source().fragment(), QStringLiteral("contact"));
    window->close();

    // The page is this program's: every section the program links to, the editor's parameters,
    // the keys, and no mnemonic markers of the captions.
    const std::string page =
        test::readFile(fs::path(FERRETTA_SOURCE_DIR) / "resources" / "help" / "index.html");
    for (const char* needle :
         {"id=\"contact\"", "id=\"editor\"", "%3", "Ctrl+K", "F9", "F1", "frtta.ini",
          "FERRETTA_HOME", "debug.log", "LibreOffice", "キャッシュ", "タスクトレイ"})
        EXPECT_NE(page.find(needle), std::string::npos) << needle;
    EXPECT_EQ(page.find("(&amp;"), std::string::npos);
}

TEST_F(AboutBoxTest, IconSwitchesTheLogOnAndOffAndOnAgain) {
    AboutBox box;
    test::ModalWatcher closer(clickOkOrClose);
    for (const bool open : {true, false, true}) {
        box.iconButton()->click();
        EXPECT_EQ(app::debugLog().isLogOpen(), open);
    }
    const QString on = QStringLiteral("デバッグログへの書き込みを開始します");
    EXPECT_EQ(closer.texts, (std::vector<QString>{
                                on, QStringLiteral("デバッグログへの書き込みを終了します"), on}));
    EXPECT_EQ(closer.icons, std::vector<QMessageBox::Icon>(3, QMessageBox::NoIcon));
    EXPECT_EQ(closer.titles, std::vector<QString>(3, QStringLiteral("Ferretta")));
}

TEST_F(AboutBoxTest, LogThatCannotBeOpenedIsReportedAndStaysClosed) {
    // A folder where the file should be: no one, not even root, can append to it.
    fs::create_directories(app::debugLog().path());
    AboutBox box;
    test::ModalWatcher closer(clickOkOrClose);
    box.picIcon_Click();
    EXPECT_FALSE(app::debugLog().isLogOpen());
    EXPECT_EQ(closer.texts, std::vector<QString>{
                                QStringLiteral("デバッグログへの書き込みが開始できませんでした")});
    // Once the obstacle is gone the next click starts the log.
    fs::remove_all(app::debugLog().path());
    box.picIcon_Click();
    EXPECT_TRUE(app::debugLog().isLogOpen());
}

TEST_F(AboutBoxTest, OkClosesTheBoxAndTheMenuEntryOpensIt) {
    app::Settings settings;
    settings.dir = home().path();
    ui::main::MainForm form(settings);
    auto* entry = form.findChild<QAction*>(QStringLiteral("mnVersionInfo"));
    ASSERT_NE(entry, nullptr);
    test::ModalWatcher closer(clickOkOrClose);
    entry->trigger();  // returns once the closer pressed OK in the modal box
    EXPECT_EQ(closer.dialogs, std::vector<QString>{QStringLiteral("frmAbout")});
    EXPECT_FALSE(app::debugLog().isLogOpen());  // opening the box alone does not start the log
}

}  // namespace
