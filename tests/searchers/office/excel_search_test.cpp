#include "searchers/office/excel_search.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "searchers/office/office_common.h"
#include "support/fake_office.h"

namespace ferretta::searchers::office {
namespace {

using test::FakeOffice;
using test::FakeSheet;

constexpr const char* kBook = "/d/book.xls";

class ExcelSearchTest : public test::OfficeSearchTest {
  protected:
    void startRun() {
        ASSERT_TRUE(excelStartRun(office, session.excel, platform::office::Purpose::Search));
        office.calls.clear();
    }

    bool search(const std::string& query, const std::string& path = kBook) {
        matcher.targetStrsSplit(query);
        ExcelSearcher searcher(session, test::contextOf(host, matcher, flags));
        return searcher.find_exl(path);
    }
};

TEST_F(ExcelSearchTest, OnlyTheSheetHoldingTheWordIsReportedByItsName) {
    office.excelFiles[kBook] = {
        FakeSheet{"Sheet1", {{"nothing"}}},
        FakeSheet{"Sheet2", {{"a", "b"}, {"c", "the foo cell"}}},
        FakeSheet{"Sheet3", {}},
    };
    startRun();
    EXPECT_TRUE(search("foo"));
    EXPECT_EQ(rows(), std::vector<std::string>{"3|book.xls[Sheet2]|the foo cell|/d/book.xls|2,2"});
    EXPECT_EQ(office.calls.front(), "Excel.Open /d/book.xls ro=1 win=0");
    EXPECT_EQ(office.calls.back(), "/d/book.xls: Close");
    EXPECT_EQ(host.captions, std::vector<std::string>{kBook});
}

// Each word is found in Excel's order, A1 last; AND needs every word and reports the last
// word's cell, OR reports the first word found.
TEST_F(ExcelSearchTest, WordsAreCombinedByTheQueryMode) {
    office.excelFiles[kBook] = {
        FakeSheet{"S", {{"alpha beta", "x"}, {"y", "beta"}, {"z", "w", "gamma"}}}};
    const std::pair<const char*, const char*> cases[] = {
        {"alpha beta", "alpha beta|1,1"},
        {"delta beta", "beta|2,2"},
        {"delta epsilon", ""},
        {"&& alpha beta", "beta|2,2"},
        {"&& gamma alpha", "alpha beta|1,1"},
        {"&& alpha delta beta", ""},
    };
    startRun();
    for (const auto& [query, hit] : cases) {
        SCOPED_TRACE(query);
        host.rows.clear();
        EXPECT_TRUE(search(query));
        std::vector<std::string> hits;
        for (const auto& row : host.rows)
            hits.push_back(row.content + "|" + row.position);
        EXPECT_EQ(hits, *hit ? std::vector<std::string>{hit} : std::vector<std::string>{});
    }
}

TEST_F(ExcelSearchTest, FailuresReportTheStepReachedAndCloseWhatWasOpened) {
    struct Case {
        const char* failingCall;  // nullptr: the workbook is missing
        int position;
        long errorNumber;
        int closes;  // Close calls
        std::size_t hits;
    } cases[] = {
        {nullptr, 0, 1004, 0, 0},
        {"Excel.Open /d/book.xls ro=1 win=0", 0, 1004, 0, 0},
        {"/d/book.xls: Worksheets.Count", 1, 1004, 1, 0},
        {"/d/book.xls: Worksheets(2)", 1, 9, 1, 1},  // the first sheet's hit stays
        {"/d/book.xls[S1]: Name", 1, 440, 1, 0},
        {"/d/book.xls: Close", 2, 1004, 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failingCall ? c.failingCall : "missing");
        FakeOffice fake;
        if (c.failingCall) {
            fake.excelFiles[kBook] = {FakeSheet{"S1", {{"foo"}}}, FakeSheet{"S2", {{"foo"}}}};
            fake.failures[c.failingCall] = c.errorNumber;
        }
        OfficeSession own(fake);
        ASSERT_TRUE(excelStartRun(fake, own.excel, platform::office::Purpose::Search));
        test::RecordingHost recorder;
        matcher.targetStrsSplit("foo");
        ExcelSearcher searcher(own, test::contextOf(recorder, matcher, flags));
        EXPECT_FALSE(searcher.find_exl(kBook));
        test::expectOneMessage(
            recorder,
            "検索中にエラーが発生しました Position=" + std::to_string(c.position) +
                "  ErrNo=" + std::to_string(c.errorNumber) + "\rファイル名=/d/book.xls",
            app::MessageStyle::Exclamation);
        EXPECT_EQ(fake.callsStartingWith("/d/book.xls: Close").size(),
                  static_cast<std::size_t>(c.closes));
        EXPECT_EQ(recorder.rows.size(), c.hits);
    }
}

TEST_F(ExcelSearchTest, SheetWhoseCellsCannotBeReadIsAMissAndTheWorkbookGoesOn) {
    office.excelFiles[kBook] = {FakeSheet{"S1", {{"foo"}}}, FakeSheet{"S2", {{"foo"}}}};
    office.failures["/d/book.xls[S1]: Cells"] = 1004;
    startRun();
    EXPECT_TRUE(search("foo"));
    EXPECT_EQ(rows(), std::vector<std::string>{"3|book.xls[S2]|foo|/d/book.xls|1,1"});
    EXPECT_TRUE(host.messages.empty());
}

// A running Excel is borrowed: hidden during the run, shown again afterwards and never quit; a
// created one quits without alerts. Each way leaves its log lines.
TEST_F(ExcelSearchTest, RunStartAndStopFollowHowExcelWasObtained) {
    struct Case {
        const char* name;
        bool running;
        std::vector<std::string> failing;
        bool started;
        std::vector<std::string> calls;
        std::vector<std::string> logLines;
        bool stopMessage;
    };
    const std::vector<std::string> borrowed = {"runningExcel Search", "Excel.Visible=false",
                                               "Excel.Visible=true"};
    const std::vector<std::string> created = {"runningExcel Search", "createExcel Search",
                                              "Excel.DisplayAlerts=false", "Excel.Quit"};
    const std::string got = "excelStartRun|Excel既存プロセス取得";
    const std::string made = "excelStartRun|Excelプロセス生成成功";
    const Case cases[] = {
        // clang-format off
        {"borrowed", true, {}, true, borrowed,
         {got, "excelStopRun|Excelプロセス 正常終了 position=1"}, false},
        {"borrowed, refuses to hide", true, {"Excel.Visible=false"}, true, borrowed,
         {got, "excelStopRun|Excelプロセス 正常終了 position=1"}, false},
        {"created", false, {}, true, created,
         {made, "excelStopRun|Excelプロセス 正常終了 position=2"}, false},
        {"cannot start", false, {"createExcel Search"}, false,
         {"runningExcel Search", "createExcel Search"},
         {"excelStartRun|Excelプロセス生成失敗", "excelStopRun|Excel終了失敗 position=2"}, true},
        {"refuses to quit", false, {"Excel.Quit"}, true, created,
         {made, "excelStopRun|Excel終了失敗 position=2"}, true},
        {"borrowed, refuses to show", true, {"Excel.Visible=true"}, true, borrowed,
         {got, "excelStopRun|Excel終了失敗 position=1"}, true},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::DebugLogCapture ownLog;
        FakeOffice fake;
        fake.excelRunning = c.running;
        for (const auto& call : c.failing)
            fake.failures[call] = 1004;
        ExcelSlot slot;
        test::RecordingHost recorder;
        EXPECT_EQ(excelStartRun(fake, slot, platform::office::Purpose::Search), c.started);
        EXPECT_EQ(slot.reused, c.running);
        excelStopRun(recorder, slot);
        EXPECT_EQ(fake.calls, c.calls);
        std::vector<std::string> lines;
        for (const auto& line : ownLog.lines()) {
            if (line.rfind("excel", 0) == 0 && line.find("fake failure") == std::string::npos)
                lines.push_back(line);
        }
        EXPECT_EQ(lines, c.logLines);
        EXPECT_EQ(slot.app, nullptr);
        EXPECT_FALSE(slot.reused);
        if (c.stopMessage) {
            test::expectOneMessage(recorder, "Excelプロセスの終了に失敗しました",
                                   app::MessageStyle::Critical);
        } else {
            EXPECT_TRUE(recorder.messages.empty());
        }
    }
}

TEST_F(ExcelSearchTest, OpenerSelectsTheHitCellUnlessThereIsNone) {
    struct Case {
        const char* name;
        std::string sheet;
        std::string position;
        bool noJump;
        const char* failingCall;
        std::vector<std::string> afterOpen;  // calls after Workbooks.Open
        int step;                            // -1: no message
    };
    const std::string sheet2 = "/d/book.xls: Worksheets(Sheet2)";
    const std::string activate = "/d/book.xls[Sheet2]: Activate";
    const std::string select = "/d/book.xls[Sheet2]: Cells(3,2).Select";
    const Case cases[] = {
        // clang-format off
        {"hit cell", "Sheet2", "3,2", false, nullptr, {sheet2, activate, select}, -1},
        {"file-name hit", "", "", false, nullptr, {}, -1},
        {"NoJump", "Sheet2", "3,2", true, nullptr, {}, -1},
        {"sheet gone", "Gone", "3,2", false, nullptr, {"/d/book.xls: Worksheets(Gone)"}, 3},
        {"position not a number", "Sheet2", "x,2", false, nullptr, {sheet2, activate}, 4},
        {"position without column", "Sheet2", "7", false, nullptr, {sheet2, activate}, 4},
        {"cell refused", "Sheet2", "3,2", false, select.c_str(), {sheet2, activate, select}, 4},
        {"open fails", "Sheet2", "3,2", false, "Excel.Open /d/book.xls ro=0 win=1", {}, 2},
        {"cannot show", "Sheet2", "3,2", false, "Excel.Visible=true", {}, 2},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOffice fake;
        fake.excelFiles[kBook] = {FakeSheet{"Sheet1", {}}, FakeSheet{"Sheet2", {}}};
        if (c.failingCall)
            fake.failures[c.failingCall] = 1004;
        OfficeSession own(fake);
        test::RecordingHost recorder;
        app::Settings options;
        options.noJump = c.noJump;
        openExcelFile(own, recorder, options, kBook, c.sheet, c.position);

        std::vector<std::string> expected = {"runningExcel Open", "createExcel Open",
                                             "Excel.Visible=true"};
        if (std::string(c.name) != "cannot show")
            expected.push_back("Excel.Open /d/book.xls ro=0 win=1");
        expected.insert(expected.end(), c.afterOpen.begin(), c.afterOpen.end());
        EXPECT_EQ(fake.calls, expected);  // Excel is never closed or quit
        if (c.step < 0) {
            EXPECT_TRUE(recorder.messages.empty());
        } else {
            test::expectOneMessage(
                recorder,
                "Excel文書を開く際にエラーが発生しました\rファイル名:/d/book.xls\rシート名:" +
                    c.sheet + "\r原因コード:" + std::to_string(c.step),
                app::MessageStyle::Critical);
        }
    }
}

TEST_F(ExcelSearchTest, OpenerWithoutExcelSaysSoAndDoesNothingElse) {
    office.failures["createExcel Open"] = 429;
    app::Settings options;
    openExcelFile(session, host, options, kBook, "Sheet1", "1,1");
    EXPECT_EQ(office.calls, (std::vector<std::string>{"runningExcel Open", "createExcel Open"}));
    test::expectOneMessage(host, "Excelの操作が行えませんでした", app::MessageStyle::Critical);
}

TEST_F(ExcelSearchTest, OpenerLeavesTheSearchRunsExcelAlone) {
    startRun();
    office.excelRunning = true;  // the user's visible Excel
    office.excelFiles[kBook] = {FakeSheet{"Sheet1", {}}};
    app::Settings options;
    openExcelFile(session, host, options, kBook, "Sheet1", "1,1");
    EXPECT_NE(session.excel.app, nullptr);
    EXPECT_FALSE(session.excel.reused);
    EXPECT_EQ(office.calls.front(), "runningExcel Open");
}

TEST(ToInteger16, ReadsPositionsLikeTheOfficeConversion) {
    struct Case {
        const char* text;
        int value;         // when accepted
        long errorNumber;  // 0: accepted
    } cases[] = {
        {"12", 12, 0}, {" 7 ", 7, 0},       {"-3", -3, 0},         {"+4", 4, 0},    {"2.5", 2, 0},
        {"3.5", 4, 0}, {"32767", 32767, 0}, {"-32768", -32768, 0}, {"32768", 0, 6}, {"1e3", 0, 13},
        {"", 0, 13},   {"x", 0, 13},        {"1,2", 0, 13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.errorNumber == 0) {
            EXPECT_EQ(toInteger16(c.text), c.value);
        } else {
            try {
                toInteger16(c.text);
                ADD_FAILURE() << "accepted";
            } catch (const Error& failure) {
                EXPECT_EQ(failure.code(), c.errorNumber);
            }
        }
    }
}

}  // namespace
}  // namespace ferretta::searchers::office
