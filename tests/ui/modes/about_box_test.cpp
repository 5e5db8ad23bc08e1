// The About box offscreen: its texts and links, the debug-log switch, and the menu entry that
// opens it.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/debug_log.h"
#include "app/settings.h"
#include "platform/cp932.h"
#include "support/qt_test_support.h"
#include "ui/main/main_form.h"
#include "ui/modes/about_box.h"

// Fontconfig's cache lives until the process ends: not our leak.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace fs = std::filesystem;
using namespace ferretta;
using ferretta::ui::modes::AboutBox;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> crlfLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(bytes.substr(start, end - start));
    if (start < bytes.size())
        lines.push_back(bytes.substr(start));  // an unterminated rest shows up as a bad line
    return lines;
}

// The About box is left through its OK button, other modal windows are closed.
void clickOkOrClose(QWidget* modal) {
    if (auto* about = qobject_cast<AboutBox*>(modal))
        about->okButton()->click();
    else
        modal->close();
}

// Receives what the box hands to the desktop instead of a browser.
class UrlRecorder : public QObject {
    Q_OBJECT
  public:
    std::vector<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

class AboutBoxTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The log's place is fixed at its first use: point it at our own folder before that.
        const fs::path home = homeFolder();
        fs::remove_all(home);
        fs::create_directories(home);
        qputenv("FERRETTA_HOME", QByteArray::fromStdString(home.string()));
        test::ensureOffscreenApplication();
    }

    static void TearDownTestSuite() {
        app::debugLog().logClose();
        std::error_code ignored;
        fs::remove_all(homeFolder(), ignored);
    }

    static fs::path homeFolder() {
        return fs::temp_directory_path() / ("ferretta_about_box_" + std::to_string(getpid()));
    }

    void SetUp() override {
        app::debugLog().logClose();
        std::error_code ignored;
        fs::remove_all(logPath(), ignored);
    }

    void TearDown() override {
        app::debugLog().logClose();
        std::error_code ignored;
        fs::remove_all(logPath(), ignored);
    }

    static fs::path logPath() { return app::debugLog().path(); }
};

TEST_F(AboutBoxTest, ShowsTheCaptionsAndTheProjectVersion) {
    AboutBox box;
    EXPECT_EQ(box.objectName(), "frmAbout");
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Ferrettaのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_EQ(box.titleLabel()->text(), "Ferretta");
    EXPECT_EQ(box.okButton()->text(), "OK");

    // The version shown is the one the project declares, not a copy that can fall behind.
    const std::string cmake = readFile(fs::path(FERRETTA_SOURCE_DIR) / "CMakeLists.txt");
    std::smatch match;
    ASSERT_TRUE(
        std::regex_search(cmake, match, std::regex(R"(project\(Ferretta VERSION ([0-9.]+))")));
    EXPECT_EQ(box.versionLabel()->text().toStdString(), "ver." + match[1].str());

    std::vector<QString> captions;
    for (const QLabel* label : box.findChildren<QLabel*>())
        captions.push_back(label->text());
    for (const QString& expected :
         {QStringLiteral("ホームページ："), QStringLiteral("メールアドレス：")})
        EXPECT_NE(std::find(captions.begin(), captions.end(), expected), captions.end())
            << expected.toStdString();
    for (const char* name : {"lblTitle", "lblVersion", "Label3", "Label5"})
        EXPECT_NE(box.findChild<QLabel*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_NE(box.findChild<QToolButton*>(QStringLiteral("picIcon")), nullptr);
    EXPECT_FALSE(box.iconButton()->icon().isNull());
}

TEST_F(AboutBoxTest, LinksOpenTheLocalHelpPage) {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    AboutBox box;
    const QUrl help = ui::modes::helpPageUrl();
    EXPECT_TRUE(help.isLocalFile());
    EXPECT_TRUE(help.path().endsWith(QStringLiteral("/help/index.html")))
        << help.toString().toStdString();

    // A click on the link text goes through the handlers, which open the page and its contact
    // section.
    emit box.homePageLabel()->linkActivated(help.toString());
    box.Label5_Click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(recorder.urls.size(), 2u);
    EXPECT_EQ(recorder.urls[0], help);
    EXPECT_EQ(recorder.urls[1].adjusted(QUrl::RemoveFragment), help);
    EXPECT_EQ(recorder.urls[1].fragment(), "contact");
    EXPECT_TRUE(box.mailLabel()->text().contains(QStringLiteral("#contact")));

    // The page the links lead to, with the section the second one names.
    const std::string page =
        readFile(fs::path(FERRETTA_SOURCE_DIR) / "resources" / "help" / "index.html");
    for (const char* needle : {"id=\"contact\"", "frtta.ini", "FERRETTA_HOME", "debug.log"})
        EXPECT_NE(page.find(needle), std::string::npos) << needle;
}

TEST_F(AboutBoxTest, IconSwitchesTheLogOnAndOffAndOnAgain) {
    AboutBox box;
    test::ModalWatcher closer(clickOkOrClose);
    box.iconButton()->click();
    EXPECT_TRUE(app::debugLog().isLogOpen());
    box.iconButton()->click();
    EXPECT_FALSE(app::debugLog().isLogOpen());
    box.iconButton()->click();
    EXPECT_TRUE(app::debugLog().isLogOpen());

    EXPECT_EQ(closer.texts,
              (std::vector<QString>{QStringLiteral("デバッグログへの書き込みを開始します"),
                                    QStringLiteral("デバッグログへの書き込みを終了します"),
                                    QStringLiteral("デバッグログへの書き込みを開始します")}));
    for (std::size_t i = 0; i < closer.texts.size(); ++i) {
        EXPECT_EQ(closer.titles[i], "Ferretta");
        EXPECT_EQ(closer.icons[i], QMessageBox::NoIcon);
    }

    // The third click appended to the same file: open, close, open markers in CP932.
    const std::vector<std::string> lines = crlfLines(readFile(logPath()));
    const std::vector<std::string> endings = {
        " - logOpen - " + platform::utf8ToCp932("----[ログ書き込み開始]----"),
        " - logClose - " + platform::utf8ToCp932("----[ログ書き込み終了]----"),
        " - logOpen - " + platform::utf8ToCp932("----[ログ書き込み開始]----")};
    ASSERT_EQ(lines.size(), endings.size());
    const std::regex stamp(R"(^\d{4}/\d{2}/\d{2} \d{1,2}:\d{2}:\d{2} - .*)");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].ends_with(endings[i])) << i << ": " << lines[i];
        EXPECT_TRUE(std::regex_match(lines[i], stamp)) << lines[i];
    }
}

TEST_F(AboutBoxTest, LogThatCannotBeOpenedIsReportedAndStaysClosed) {
    // A folder where the file should be: no one, not even root, can append to it.
    fs::create_directories(logPath());
    AboutBox box;
    test::ModalWatcher closer(clickOkOrClose);
    box.picIcon_Click();
    EXPECT_FALSE(app::debugLog().isLogOpen());
    EXPECT_EQ(closer.texts, std::vector<QString>{
                                QStringLiteral("デバッグログへの書き込みが開始できませんでした")});
    EXPECT_EQ(closer.icons, std::vector<QMessageBox::Icon>{QMessageBox::NoIcon});

    // Once the obstacle is gone the next click starts the log.
    fs::remove_all(logPath());
    box.picIcon_Click();
    EXPECT_TRUE(app::debugLog().isLogOpen());
    EXPECT_EQ(closer.texts.back(), QStringLiteral("デバッグログへの書き込みを開始します"));
}

TEST_F(AboutBoxTest, OkClosesTheBoxAndTheMenuEntryOpensIt) {
    {
        AboutBox box;
        box.show();
        box.okButton()->click();
        EXPECT_EQ(box.result(), QDialog::Accepted);
        EXPECT_FALSE(box.isVisible());
    }

    app::Settings settings;
    settings.dir = fs::temp_directory_path().string();
    ui::main::MainForm form(settings);
    auto* entry = form.findChild<QAction*>(QStringLiteral("mnVersionInfo"));
    ASSERT_NE(entry, nullptr);
    test::ModalWatcher closer(clickOkOrClose);
    entry->trigger();  // returns once the closer pressed OK in the modal box
    EXPECT_EQ(closer.dialogs, std::vector<QString>{QStringLiteral("frmAbout")});
    EXPECT_FALSE(app::debugLog().isLogOpen());  // opening the box alone does not start the log
}

}  // namespace

#include "about_box_test.moc"
