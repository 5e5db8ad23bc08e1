#include "searchers/office/office_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run/search_run.h"
#include "support/fake_office.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace ferretta::searchers::office {
namespace {

namespace fs = std::filesystem;
using app::FileType;
using test::FakeOffice;
using test::FakeShape;
using test::FakeSheet;
using test::FakeWordFile;

const std::string kWordMessage =
    "Wordに関する操作が行えませんでした。\r設定でWordファイルを検索しない設定に変更して下さい";
const std::string kExcelMessage =
    "Excelに関する操作が行えませんでした。\r設定でExcelファイルを検索しない設定に変更して下さい";
const std::string kPowerPointMessage =
    "PowerPointに関する操作が行えませんでした。\r"
    "設定でPowerPointファイルを検索しない設定に変更して下さい";

app::Settings settingsFor(bool word, bool excel, bool powerPoint) {
    app::Settings settings;
    settings.fileTypes.setTarget(FileType::Word, word);
    settings.fileTypes.setTarget(FileType::Excel, excel);
    settings.fileTypes.setTarget(FileType::PowerPoint, powerPoint);
    return settings;
}

std::vector<std::string> texts(const std::vector<test::RecordingHost::Message>& messages) {
    std::vector<std::string> out;
    for (const auto& message : messages) {
        EXPECT_EQ(message.style, app::MessageStyle::Critical);
        out.push_back(message.text);
    }
    return out;
}

// The applications started before the walk and ended after it, for each mix of file types and
// each application that cannot be started.
TEST(OfficeRun, StartsAndEndsTheApplicationsOfTheTypesSearched) {
    struct Case {
        const char* name;
        bool word, excel, powerPoint;
        std::vector<std::string> failing;
        bool searchRuns;
        bool powerPointTried;
        std::vector<std::string> startMessages;
        std::vector<std::string> endCalls;
        std::vector<std::string> endMessages;
    } cases[] = {
        // clang-format off
        {"nothing of Office", false, false, false, {}, true, false, {}, {}, {}},
        {"all three", true, true, true, {}, true, true, {},
         {"Word.DisplayAlerts=-1", "Word.Quit", "Excel.DisplayAlerts=false", "Excel.Quit",
          "PowerPoint.Quit"}, {}},
        {"no Word: its files are skipped", true, true, false, {"createWord Search"}, true, false,
         {kWordMessage}, {"Excel.DisplayAlerts=false", "Excel.Quit"}, {}},
        {"no Excel: no search, PowerPoint not tried", false, true, true, {"createExcel Search"},
         false, false, {kExcelMessage}, {}, {"Excelプロセスの終了に失敗しました"}},
        {"no PowerPoint: no search", true, false, true, {"createPowerPoint Search"}, false, true,
         {kPowerPointMessage}, {"Word.DisplayAlerts=-1", "Word.Quit"}, {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOffice fake;
        for (const auto& call : c.failing)
            fake.failures[call] = 429;
        OfficeSession session(fake);
        test::RecordingHost host;
        const app::Settings settings = settingsFor(c.word, c.excel, c.powerPoint);

        EXPECT_EQ(startOfficeRun(session, host, settings), c.searchRuns);
        EXPECT_EQ(texts(host.messages), c.startMessages);
        EXPECT_EQ(fake.called("createWord Search"), c.word);
        EXPECT_EQ(fake.called("runningPowerPoint Search"), c.powerPointTried);

        fake.calls.clear();
        host.messages.clear();
        endOfficeRun(session, host, settings);
        EXPECT_EQ(fake.calls, c.endCalls);
        EXPECT_EQ(texts(host.messages), c.endMessages);
        EXPECT_EQ(session.wordApp, nullptr);
        EXPECT_EQ(session.excel.app, nullptr);
        EXPECT_EQ(session.powerPoint.app, nullptr);
    }
    // An office that knows what is not installed has it said after the message.
    FakeOffice fake;
    fake.failures["createExcel Search"] = 429;
    fake.missingOfficePart = "LibreOffice Calc がインストールされていません";
    OfficeSession session(fake);
    test::RecordingHost host;
    EXPECT_FALSE(startOfficeRun(session, host, settingsFor(false, true, false)));
    EXPECT_EQ(texts(host.messages),
              std::vector<std::string>{kExcelMessage + "\r" + fake.missingOfficePart});
}

// The search command with the Office types on: every Office extension reaches its searcher,
// with the type's number on its hits.
class OfficeWalkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings = settingsFor(true, true, true);
        settings.dir = m_root.string();
        settings.subFolder = false;
    }

    std::string file(const std::string& name) {
        std::ofstream(m_root / name) << "";
        return (m_root / name).string();
    }

    std::int64_t run(const std::string& query) {
        run::SearchRunHooks hooks;
        hooks.officeSession = [this]() -> OfficeSession& { return session; };
        const run::SearchOutcome outcome =
            run::runSearchCommand(host, settings, flags, query, hooks);
        return outcome.ran ? outcome.files : -1;
    }

    std::vector<std::string> hits() const {
        std::vector<std::string> out;
        for (const auto& row : host.rows)
            out.push_back(std::to_string(static_cast<int>(row.fileType)) + "|" + row.name);
        return out;
    }

    test::TempTree m_tree;
    fs::path m_root = m_tree.root();
    FakeOffice office;
    OfficeSession session{office};
    test::RecordingHost host;
    app::Settings settings;
    search::SearchFlags flags;
};

TEST_F(OfficeWalkTest, EveryOfficeExtensionReachesItsSearcher) {
    for (const char* name : {"a.doc", "d.odt"})
        office.wordFiles[file(name)] = FakeWordFile{{"foo"}, {}, {}};
    for (const char* name : {"e.xlsx", "h.ods"})
        office.excelFiles[file(name)] = {FakeSheet{"S", {{"foo"}}}};
    for (const char* name : {"i.pptx", "k.odp"})
        office.powerPointFiles[file(name)] = {{FakeShape::textBox("foo")}};
    file("l.DOCX.bak");  // not a document
    EXPECT_EQ(run("foo"), 6);
    const std::vector<std::string> expected = {"2|a.doc",    "2|d.odt",   "3|e.xlsx[S]",
                                               "3|h.ods[S]", "16|i.pptx", "16|k.odp"};
    EXPECT_EQ(hits(), expected);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(OfficeWalkTest, WordFastIsReadWhenEachFileComes) {
    office.wordFiles[file("a.docx")] = FakeWordFile{{"foo"}, {"foo in a box"}, {}};
    settings.wordFast = true;
    run("foo");
    EXPECT_EQ(host.rows.size(), 1u);  // the text box is not read in fast mode
    EXPECT_FALSE(office.callsStartingWith("Word.Selection.Text").empty());
}

TEST_F(OfficeWalkTest, WordFilesAreSkippedWhenWordCannotStart) {
    office.wordFiles[file("a.doc")] = FakeWordFile{{"foo"}, {}, {}};
    office.excelFiles[file("b.xlsx")] = {FakeSheet{"S", {{"foo"}}}};
    office.failures["createWord Search"] = 429;
    EXPECT_EQ(run("foo"), 1);
    EXPECT_EQ(hits(), std::vector<std::string>{"3|b.xlsx[S]"});
    EXPECT_EQ(texts(host.messages), std::vector<std::string>{kWordMessage});
}

TEST_F(OfficeWalkTest, OfficeTypesSwitchedOffAreNotSearchedButNamesStillHit) {
    settings = settingsFor(false, false, false);
    settings.fileTypes.setTarget(FileType::Text, false);
    settings.fileTypes.setTarget(FileType::Access, true);  // something to walk for
    settings.dir = m_root.string();
    office.wordFiles[file("foo.docx")] = FakeWordFile{{"foo"}, {}, {}};
    office.powerPointFiles[file("foo.odp")] = {{FakeShape::textBox("foo")}};
    EXPECT_EQ(run("foo"), 0);
    EXPECT_EQ(hits(), (std::vector<std::string>{"2|foo.docx", "16|foo.odp"}));
    EXPECT_TRUE(office.calls.empty());
}

TEST_F(OfficeWalkTest, BrokenPresentationIsOneFailedFileAndTheWalkGoesOn) {
    const std::string broken = file("a.ppt");  // not known to the office: it cannot be opened
    office.powerPointFiles[file("b.ppt")] = {{FakeShape::textBox("foo")}};
    run("foo");
    EXPECT_FALSE(flags.isAbort);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text,
              "検索中にエラーが発生しました Position=0  ErrNo=-2147467259\rファイル名=" + broken);
    EXPECT_EQ(host.messages[0].style, app::MessageStyle::Exclamation);
    EXPECT_EQ(hits(), std::vector<std::string>{"16|b.ppt"});
    EXPECT_TRUE(office.called("PowerPoint.Quit"));
}

}  // namespace
}  // namespace ferretta::searchers::office
