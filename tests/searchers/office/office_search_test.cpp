// The Word, Excel and PowerPoint searchers over an Office in memory: what each reports of a
// document, what any failing call and a stop do, how a run obtains and gives back each
// application, and how a hit is opened; one table per question across the three.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "searchers/office/excel_search.h"
#include "searchers/office/office_common.h"
#include "searchers/office/powerpoint_search.h"
#include "searchers/office/word_search.h"
#include "support/fake_native_reader.h"
#include "support/fake_office.h"

namespace ferretta::searchers::office {
namespace {

using test::FakeOffice;
using test::FakeShape;
using test::FakeSheet;
using test::FakeWordFile;
using Style = app::MessageStyle;
using namespace std::string_literals;

enum class Kind { Word, WordFast, Excel, PowerPoint };

// The documents every Office here holds.
void addDocuments(FakeOffice& office) {
    office.wordFiles["/d/a.doc"] =
        FakeWordFile{{"Intro.\r", "has foo\r\nline foo\r", "日本語foo。"},
                     {"foo box", std::nullopt, "xx\rfoo"},
                     {}};
    office.wordFiles["/d/fast.doc"] =
        FakeWordFile{{"foo\r", "bar\r", "\r", "baz foo"}, {"foo box"}, {}};
    office.wordFiles["/d/empty.doc"] = FakeWordFile{};
    office.excelFiles["/d/book.xls"] = {FakeSheet{"Sheet1", {{"nothing"}}},
                                        FakeSheet{"Sheet2", {{"a", "b"}, {"c", "the foo cell"}}},
                                        FakeSheet{"Sheet3", {}}};
    office.excelFiles["/d/words.xls"] = {
        FakeSheet{"S", {{"alpha beta", "x"}, {"y", "beta"}, {"z", "w", "gamma"}}}};
    office.powerPointFiles["/d/deck.ppt"] = {
        {FakeShape::textBox("ab\r\nfo\ro"), FakeShape::textBox("x\nfoo"), FakeShape::picture(),
         FakeShape::group({FakeShape::textBox("foo member"), FakeShape::picture(),
                           FakeShape::group({FakeShape::textBox("foo nested")})})},
        {FakeShape::textBox("nothing")},
        {FakeShape::textBox("foo"), FakeShape::textBox("")},
    };
}

bool startRun(Kind kind, OfficeSession& session) {
    const auto purpose = platform::office::Purpose::Search;
    switch (kind) {
        case Kind::Word:
        case Kind::WordFast:
            return startWordRun(session);
        case Kind::Excel:
            return excelStartRun(session.automation, session.excel, purpose);
        case Kind::PowerPoint:
            return startPowerPoint(session.automation, session.powerPoint, purpose);
    }
    return false;
}

void endRun(Kind kind, OfficeSession& session, app::Host& host) {
    if (kind == Kind::Excel)
        excelStopRun(host, session.excel);
    else if (kind == Kind::PowerPoint)
        stopPowerPoint(session.powerPoint);
    else
        endWordRun(session);
}

bool searchDocument(Kind kind, OfficeSession& session, const search::SearchContext& context,
                    const std::string& path) {
    switch (kind) {
        case Kind::Word:
            return WordSearcher(session, context).find_doc(path);
        case Kind::WordFast:
            return WordSearcher(session, context).find_docFast(path);
        case Kind::Excel:
            return ExcelSearcher(session, context).find_exl(path);
        case Kind::PowerPoint:
            return PowerPointSearcher(session, context).find_ppt(path);
    }
    return false;
}

// An Office of its own with the documents, the run of the kind started and its calls forgotten.
struct Rig {
    explicit Rig(Kind kind) {
        addDocuments(office);
        EXPECT_TRUE(startRun(kind, session));
        office.calls.clear();
    }
    FakeOffice office;
    OfficeSession session{office};
    test::RecordingHost host;
};

class OfficeSearchTest : public ::testing::Test {
  protected:
    void SetUp() override { matcher.targetStrsSplit("foo"); }

    bool search(Kind kind, Rig& rig, const std::string& path, search::SearchFlags& stop) {
        return searchDocument(kind, rig.session, test::contextOf(rig.host, matcher, stop), path);
    }
    bool search(Kind kind, Rig& rig, const std::string& path) {
        return search(kind, rig, path, flags);
    }

    search::Matcher matcher{false, false};
    search::SearchFlags flags;
};

// Rows as "type|name|content|location|position"; calls made and call prefixes never made.
TEST_F(OfficeSearchTest, EachSearcherReportsItsHitsAndClosesWhatItOpened) {
    struct Case {
        Kind kind;
        const char* path;
        const char* query;
        std::vector<std::string> rows;
        std::vector<std::string> made = {};
        std::vector<std::string> neverMade = {};
    };
    const std::string ppt = "/d/deck.ppt slide 1 shape 4.3: ";
    const Case cases[] = {
        // clang-format off
        // Sentences 1..3, then shape j as element 3 + j (shape 2 has no text); the match's
        // byte position in the ANSI form.
        {Kind::Word, "/d/a.doc", "foo",
         {"2|a.doc|has foo|/d/a.doc|2,5", "2|a.doc|line foo|/d/a.doc|2,6",
          "2|a.doc|日本語foo。|/d/a.doc|3,7", "2|a.doc|foo box|/d/a.doc|4,1",
          "2|a.doc|foo|/d/a.doc|6,1"},
         {"Word.Open /d/a.doc ro=1 win=1"}},
        // Fast mode: the main text only (16 characters selected and read at once), by 0-based
        // line.
        {Kind::WordFast, "/d/fast.doc", "foo",
         {"2|fast.doc|foo|/d/fast.doc|0,1", "2|fast.doc|baz foo|/d/fast.doc|3,5"},
         {"/d/fast.doc: Range(0,16).Select"}, {"/d/fast.doc: Shapes"}},
        {Kind::Word, "/d/empty.doc", "foo", {}},
        {Kind::WordFast, "/d/empty.doc", "foo", {}},
        // Only the sheet holding the word, named.
        {Kind::Excel, "/d/book.xls", "foo", {"3|book.xls[Sheet2]|the foo cell|/d/book.xls|2,2"},
         {"Excel.Open /d/book.xls ro=1 win=0"}},
        // Each word found in Excel's order, A1 last: AND needs every word and reports the last
        // word's cell, OR the first word found.
        {Kind::Excel, "/d/words.xls", "alpha beta", {"3|words.xls[S]|alpha beta|/d/words.xls|1,1"}},
        {Kind::Excel, "/d/words.xls", "delta beta", {"3|words.xls[S]|beta|/d/words.xls|2,2"}},
        {Kind::Excel, "/d/words.xls", "delta epsilon", {}},
        {Kind::Excel, "/d/words.xls", "&& alpha beta", {"3|words.xls[S]|beta|/d/words.xls|2,2"}},
        {Kind::Excel, "/d/words.xls", "&& gamma alpha",
         {"3|words.xls[S]|alpha beta|/d/words.xls|1,1"}},
        {Kind::Excel, "/d/words.xls", "&& alpha delta beta", {}},
        // Texts lose their breaks (abfoo is found only so); a group's members are searched, a
        // nested group's own frame is asked for but not its members; the empty box is no hit.
        {Kind::PowerPoint, "/d/deck.ppt", "foo",
         {"16|deck.ppt|abfoo|/d/deck.ppt|1", "16|deck.ppt|xfoo|/d/deck.ppt|1",
          "16|deck.ppt|foo member|/d/deck.ppt|1", "16|deck.ppt|foo|/d/deck.ppt|3"},
         {"PowerPoint.Open /d/deck.ppt ro=1 win=0", ppt + "HasTextFrame"}, {ppt + "GroupItems"}},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.query);
        Rig rig(c.kind);
        matcher.targetStrsSplit(c.query);
        EXPECT_TRUE(search(c.kind, rig, c.path));
        EXPECT_EQ(test::hitRows(rig.host), c.rows);
        EXPECT_EQ(rig.host.captions, std::vector<std::string>{c.path});
        EXPECT_TRUE(rig.host.messages.empty());
        ASSERT_FALSE(rig.office.calls.empty());
        EXPECT_EQ(rig.office.calls.back(), std::string(c.path) + ": Close");
        for (const std::string& call : c.made)
            EXPECT_TRUE(rig.office.called(call)) << call;
        for (const std::string& prefix : c.neverMade)
            EXPECT_TRUE(rig.office.callsStartingWith(prefix).empty()) << prefix;
        if (c.kind == Kind::PowerPoint) {
            EXPECT_EQ(rig.host.doEventsCalls, 3);  // once after each slide
        }
    }
}

// Every call of a document's search made to fail in turn: the searcher answers false with one
// warning naming the error number and the file, keeps only rows it would have found, and the
// document searched again finds everything. A shape's text (Word), a sheet's cells (Excel) and
// anything once the presentation is open (PowerPoint) are passed over in silence; Excel and
// PowerPoint close what they opened.
TEST_F(OfficeSearchTest, AnyFailingCallIsToldOnceAndTheNextSearchFindsEverything) {
    const std::pair<Kind, std::string> documents[] = {{Kind::Word, "/d/a.doc"},
                                                      {Kind::WordFast, "/d/fast.doc"},
                                                      {Kind::Excel, "/d/book.xls"},
                                                      {Kind::PowerPoint, "/d/deck.ppt"}};
    for (const auto& [kind, path] : documents) {
        SCOPED_TRACE(path);
        Rig clean(kind);
        ASSERT_TRUE(search(kind, clean, path));
        const std::vector<std::string> all = test::hitRows(clean.host);
        const std::set<std::string> calls(clean.office.calls.begin(), clean.office.calls.end());
        ASSERT_GE(calls.size(), 5u);
        long number = 1000;
        for (const std::string& failing : calls) {
            SCOPED_TRACE(failing);
            Rig rig(kind);
            rig.office.failures[failing] = ++number;
            const bool afterOpen = failing.find(".Open ") == std::string::npos &&
                                   failing.find(".Visible=") == std::string::npos;
            const bool silent =
                (kind == Kind::PowerPoint && afterOpen) || failing.ends_with(": Cells") ||
                (failing.find(": Shapes(") != std::string::npos && failing.ends_with(").Text"));
            EXPECT_EQ(search(kind, rig, path), silent);
            if (silent) {
                EXPECT_TRUE(rig.host.messages.empty());
            } else {
                ASSERT_EQ(rig.host.messages.size(), 1u);
                const auto& [text, style] = rig.host.messages[0];
                EXPECT_EQ(style, Style::Exclamation);
                EXPECT_TRUE(text.starts_with("検索中にエラーが発生しました Position=")) << text;
                EXPECT_TRUE(
                    text.ends_with("  ErrNo=" + std::to_string(number) + "\rファイル名=" + path))
                    << text;
            }
            // Only rows found without the failure, each once, in their order.
            auto at = all.begin();
            for (const std::string& row : test::hitRows(rig.host)) {
                at = std::find(at, all.end(), row);
                ASSERT_NE(at, all.end()) << "not found without the failure, or twice: " << row;
                ++at;
            }
            if ((kind == Kind::Excel || kind == Kind::PowerPoint) && afterOpen) {
                EXPECT_TRUE(rig.office.called(path + ": Close"));
            }

            rig.office.failures.clear();
            rig.host = {};
            EXPECT_TRUE(search(kind, rig, path));
            EXPECT_EQ(test::hitRows(rig.host), all);
        }
    }
}

// Fast mode finds its document by name among those failures left open in the run's Word; one
// that Word opened under another name is a failure at step 2 without an error number, left to
// the run's Quit.
TEST_F(OfficeSearchTest, WordFastFindsItsDocumentByName) {
    Rig rig(Kind::WordFast);
    rig.office.wordFiles["/d/bad.doc"] = FakeWordFile{{"x"}, {}, {}};
    rig.office.wordFiles["/d/renamed.doc"] = FakeWordFile{{"foo"}, {}, std::string("/D/R.DOC")};
    rig.office.failures["/d/bad.doc: Characters.Count"] = 4;
    EXPECT_FALSE(search(Kind::WordFast, rig, "/d/bad.doc"));  // stays open
    rig.host = {};
    EXPECT_TRUE(search(Kind::WordFast, rig, "/d/fast.doc"));
    EXPECT_TRUE(rig.office.called("Word.Documents(2)"));
    EXPECT_EQ(rig.host.rows.size(), 2u);
    rig.host = {};
    EXPECT_FALSE(search(Kind::WordFast, rig, "/d/renamed.doc"));
    test::expectOneMessage(
        rig.host, "検索中にエラーが発生しました Position=2  ErrNo=0\rファイル名=/d/renamed.doc",
        Style::Exclamation);
    EXPECT_FALSE(rig.office.called("/d/renamed.doc: Close"));
}

// The stop request is looked at after every 500th element (normal mode) or line (fast mode,
// from line 0), only when that element or line is not empty. A stop ends the document with the
// message, also when it ended the office in the middle of a call.
TEST_F(OfficeSearchTest, WordLooksForAStopEveryFiveHundredElements) {
    struct Case {
        bool fast;
        std::vector<int> emptyIndexes;
        int expectedChecks;
        bool stop, officeStopped;
        std::size_t rows;
    } cases[] = {
        {false, {}, 2, false, false, 1200},     // elements 500 and 1000 of 1..1200
        {false, {500}, 1, false, false, 1199},  // an empty element 500 is skipped, with its check
        {true, {}, 3, false, false, 1200},      // lines 0, 500 and 1000 of 0..1199
        {true, {0, 1000}, 1, false, false, 1198},
        {false, {}, 1, true, false, 500},  // stopped after element 500
        {true, {}, 1, true, false, 1},     // stopped after line 0
        {false, {}, 1, true, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "fast " << c.fast << " checks " << c.expectedChecks
                                          << " stop " << c.stop << c.officeStopped);
        const Kind kind = c.fast ? Kind::WordFast : Kind::Word;
        Rig rig(kind);
        FakeWordFile& file = rig.office.wordFiles["/d/long.doc"];
        for (int i = 0; i < 1200; ++i) {
            const int index = c.fast ? i : i + 1;
            const bool empty = std::find(c.emptyIndexes.begin(), c.emptyIndexes.end(), index) !=
                               c.emptyIndexes.end();
            // Normal mode: an empty sentence is an empty element. Fast mode: a lone CR is an
            // empty line.
            file.sentences.push_back(empty ? (c.fast ? "\r" : "") : "foo\r");
        }
        if (c.officeStopped)
            rig.office.failures["/d/long.doc: Sentences.Text"] = platform::office::stoppedCallError;
        search::SearchFlags stop;
        if (c.stop)
            rig.host.onDoEvents = [&stop] { stop.isAbort = true; };
        EXPECT_EQ(search(kind, rig, "/d/long.doc", stop), !c.stop);
        EXPECT_EQ(rig.host.doEventsCalls, c.expectedChecks);
        EXPECT_EQ(rig.host.rows.size(), c.rows);
        if (c.stop) {
            test::expectOneMessage(rig.host, "中断ボタンが押されました", Style::Information);
            EXPECT_EQ(rig.host.statusTexts, std::vector<std::string>{""});
        }
    }
}

// After every slide, also after those a native reading finds no text on.
TEST_F(OfficeSearchTest, PowerPointLooksForAStopAfterEverySlide) {
    Rig rig(Kind::PowerPoint);
    rig.office.powerPointFiles["/d/forty.ppt"] =
        std::vector<test::FakeSlide>(40, test::FakeSlide{FakeShape::textBox("foo")});
    search::SearchFlags stop;
    rig.host.onDoEvents = [&] {
        if (rig.host.doEventsCalls == 2)
            stop.isAbort = true;
    };
    EXPECT_FALSE(search(Kind::PowerPoint, rig, "/d/forty.ppt", stop));
    EXPECT_EQ(rig.host.rows.size(), 2u);
    EXPECT_EQ(rig.host.doEventsCalls, 2);
    test::expectOneMessage(rig.host, "中断ボタンが押されました", Style::Information);
    EXPECT_EQ(rig.host.statusTexts, std::vector<std::string>{""});
    EXPECT_EQ(rig.office.calls.back(), "/d/forty.ppt: Close");

    Rig native(Kind::PowerPoint);
    test::FakeNativeReader reader;
    reader.install(native.session);
    reader.documents["/d/deck.pptx"] = {{}, {{2, 0, 0, "foo", ""}}, {}, 4};
    EXPECT_TRUE(search(Kind::PowerPoint, native, "/d/deck.pptx"));
    EXPECT_EQ(test::hitRows(native.host),
              std::vector<std::string>{"16|deck.pptx|foo|/d/deck.pptx|2"});
    EXPECT_EQ(native.host.doEventsCalls, 4);
    EXPECT_TRUE(native.office.calls.empty());
}

// A running Excel or PowerPoint is borrowed: hidden during the run, shown again afterwards and
// never quit; a created one quits (Excel without alerts); Word is always created, hidden and
// without alerts, which are restored before it quits. What is held is let go even when the
// application refuses; Excel tells that refusal.
TEST_F(OfficeSearchTest, RunStartAndEndFollowHowTheApplicationWasObtained) {
    struct Case {
        Kind kind;
        bool running;
        std::vector<std::string> failing;
        bool started;
        std::vector<std::string> calls;
        bool endMessage;
    };
    const std::vector<std::string> excelBorrowed = {"runningExcel Search", "Excel.Visible=false",
                                                    "Excel.Visible=true"};
    const std::vector<std::string> excelCreated = {"runningExcel Search", "createExcel Search",
                                                   "Excel.DisplayAlerts=false", "Excel.Quit"};
    const std::vector<std::string> pptBorrowed = {
        "runningPowerPoint Search", "PowerPoint.Visible=false", "PowerPoint.Visible=true"};
    const std::vector<std::string> excelNone = {"runningExcel Search", "createExcel Search"};
    const std::vector<std::string> pptNone = {"runningPowerPoint Search",
                                              "createPowerPoint Search"};
    const Case cases[] = {
        // clang-format off
        {Kind::Word, false, {"Word.Quit"}, true,
         {"createWord Search", "Word.Visible=false", "Word.DisplayAlerts", "Word.DisplayAlerts=0",
          "Word.DisplayAlerts=-1", "Word.Quit"}, false},
        {Kind::Excel, true, {}, true, excelBorrowed, false},
        {Kind::Excel, true, {"Excel.Visible=false"}, true, excelBorrowed, false},
        {Kind::Excel, false, {}, true, excelCreated, false},
        {Kind::Excel, false, {"createExcel Search"}, false, excelNone, true},
        {Kind::Excel, false, {"Excel.Quit"}, true, excelCreated, true},
        {Kind::Excel, true, {"Excel.Visible=true"}, true, excelBorrowed, true},
        {Kind::PowerPoint, true, {}, true, pptBorrowed, false},
        {Kind::PowerPoint, false, {}, true, {pptNone[0], pptNone[1], "PowerPoint.Quit"}, false},
        {Kind::PowerPoint, false, {"createPowerPoint Search"}, false, pptNone, false},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.calls));
        FakeOffice office;
        office.excelRunning = office.powerPointRunning = c.running;
        for (const auto& call : c.failing)
            office.failures[call] = 429;
        OfficeSession session(office);
        test::RecordingHost host;
        EXPECT_EQ(startRun(c.kind, session), c.started);
        EXPECT_EQ(session.excel.reused || session.powerPoint.reused, c.running);
        endRun(c.kind, session, host);
        EXPECT_EQ(office.calls, c.calls);
        EXPECT_TRUE(!session.wordApp && !session.excel.app && !session.powerPoint.app);
        EXPECT_FALSE(session.excel.reused || session.powerPoint.reused);
        if (c.endMessage) {
            test::expectOneMessage(host, "Excelプロセスの終了に失敗しました", Style::Critical);
        } else {
            EXPECT_TRUE(host.messages.empty());
        }
        office.calls.clear();
        endRun(c.kind, session, host);  // nothing held: nothing to do
        EXPECT_TRUE(office.calls.empty());
    }
}

// A hit opened in the user's application (a running one, else a new one): the document at the
// hit unless NoJump is set or the hit is the file's name; a failure tells the step reached.
// The search run's applications are never touched, nor is an application closed or quit
// except a PowerPoint created for a slide that cannot be shown.
TEST_F(OfficeSearchTest, OpeningAHitFollowsTheApplicationsSteps) {
    struct Case {
        const char* name;
        Kind kind;
        bool running;
        bool noJump;
        std::string failing;
        std::string where;     // Word: the text; Excel: the sheet; PowerPoint: the slide
        std::string position;  // Excel: the cell
        std::vector<std::string> calls;
        int step;  // of the message; -1: none; -2: the application cannot be had
    };
    const std::string wordOpen = "Word.Open /d/a.doc ro=0 win=1", find = "Word.Find the line";
    const std::string excel = "Excel.Open /d/book.xls ro=0 win=1",
                      sheet2 = "/d/book.xls: Worksheets(Sheet2)",
                      activate = "/d/book.xls[Sheet2]: Activate",
                      select = "/d/book.xls[Sheet2]: Cells(3,2).Select";
    const std::string ppt = "PowerPoint.Open /d/deck.ppt ro=0 win=1",
                      show = "PowerPoint.Visible=true", create = "createPowerPoint Open",
                      quit = "PowerPoint.Quit";
    const std::vector<std::string> excelStart = {"runningExcel Open", "createExcel Open",
                                                 "Excel.Visible=true"};
    const auto plus = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    const Case cases[] = {
        // clang-format off
        {"new Word", Kind::Word, false, false, "", "the line", "",
         {"runningWord Open", "createWord Open", wordOpen, "Word.Visible=true", find}, -1},
        {"running Word", Kind::Word, true, false, "", "the line", "",
         {"runningWord Open", wordOpen, "Word.Visible=true", find}, -1},
        {"Word, NoJump", Kind::Word, true, true, "", "the line", "",
         {"runningWord Open", wordOpen, "Word.Visible=true"}, -1},
        {"no Word at all", Kind::Word, false, false, "createWord Open", "the line", "",
         {"runningWord Open", "createWord Open"}, 0},
        {"Word cannot open", Kind::Word, true, false, wordOpen, "the line", "",
         {"runningWord Open", wordOpen}, 1},
        {"Word cannot find", Kind::Word, true, false, find, "the line", "",
         {"runningWord Open", wordOpen, "Word.Visible=true", find}, 3},
        {"hit cell", Kind::Excel, false, false, "", "Sheet2", "3,2",
         plus(excelStart, {excel, sheet2, activate, select}), -1},
        {"Excel file-name hit", Kind::Excel, false, false, "", "", "", plus(excelStart, {excel}), -1},
        {"Excel, NoJump", Kind::Excel, false, true, "", "Sheet2", "3,2", plus(excelStart, {excel}), -1},
        {"sheet gone", Kind::Excel, false, false, "", "Gone", "3,2",
         plus(excelStart, {excel, "/d/book.xls: Worksheets(Gone)"}), 3},
        {"position not a number", Kind::Excel, false, false, "", "Sheet2", "x,2",
         plus(excelStart, {excel, sheet2, activate}), 4},
        {"position without column", Kind::Excel, false, false, "", "Sheet2", "7",
         plus(excelStart, {excel, sheet2, activate}), 4},
        {"cell refused", Kind::Excel, false, false, select, "Sheet2", "3,2",
         plus(excelStart, {excel, sheet2, activate, select}), 4},
        {"Excel cannot open", Kind::Excel, false, false, excel, "Sheet2", "3,2",
         plus(excelStart, {excel}), 2},
        {"Excel cannot show", Kind::Excel, false, false, "Excel.Visible=true", "Sheet2", "3,2",
         excelStart, 2},
        {"slide 3", Kind::PowerPoint, false, false, "", "3", "",
         {"runningPowerPoint Open", create, ppt, show, "/d/deck.ppt: Slides(3)",
          "/d/deck.ppt slide 3: Select"}, -1},
        {"PowerPoint, NoJump", Kind::PowerPoint, false, true, "", "3", "",
         {"runningPowerPoint Open", create, ppt, show}, -1},
        {"PowerPoint file-name hit", Kind::PowerPoint, false, false, "", "", "",
         {"runningPowerPoint Open", create, ppt, show}, -1},
        {"slide gone, created PowerPoint quits", Kind::PowerPoint, false, false, "", "9", "",
         {"runningPowerPoint Open", create, ppt, show, "/d/deck.ppt: Slides(9)", quit}, 3},
        {"slide gone, borrowed PowerPoint shown", Kind::PowerPoint, true, false, "", "9", "",
         {"runningPowerPoint Open", "PowerPoint.Visible=false", ppt, show,
          "/d/deck.ppt: Slides(9)", show}, 3},
        {"PowerPoint cannot open", Kind::PowerPoint, false, false, ppt, "1", "",
         {"runningPowerPoint Open", create, ppt, quit}, 1},
        {"no Excel at all", Kind::Excel, false, false, "createExcel Open", "Sheet1", "1,1",
         {"runningExcel Open", "createExcel Open"}, -2},
        {"no PowerPoint at all", Kind::PowerPoint, false, false, create, "1", "",
         {"runningPowerPoint Open", create}, -2},
        {"slide refused", Kind::PowerPoint, false, false, "/d/deck.ppt slide 2: Select", "2", "",
         {"runningPowerPoint Open", create, ppt, show, "/d/deck.ppt: Slides(2)",
          "/d/deck.ppt slide 2: Select", quit}, 3},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOffice office;
        addDocuments(office);
        office.wordRunning = office.powerPointRunning = c.running;
        if (!c.failing.empty())
            office.failures[c.failing] = 5;
        OfficeSession session(office);
        test::RecordingHost host;
        app::Settings options;
        options.noJump = c.noJump;
        std::string message;
        const std::string step = std::to_string(c.step);
        if (c.kind == Kind::Word) {
            openWordFile(session, host, options, "/d/a.doc", c.where);
            message =
                "Word文書を開く際にエラーが発生しました\rファイル名:/d/a.doc\r文字列:" + c.where +
                "\r原因コード=" + step;
        } else if (c.kind == Kind::Excel) {
            openExcelFile(session, host, options, "/d/book.xls", c.where, c.position);
            message = "Excel文書を開く際にエラーが発生しました\rファイル名:/d/book.xls\rシート名:" +
                      c.where + "\r原因コード:" + step;
        } else {
            openPowerPointFile(session, host, options, "/d/deck.ppt", c.where);
            message =
                "PowerPoint文書を開く際にエラーが発生しました\rファイル名:/d/deck.ppt\r"
                "原因コード=" +
                step;
        }
        EXPECT_EQ(office.calls, c.calls);
        if (c.step == -2)
            message =
                (c.kind == Kind::Excel ? "Excel" : "PowerPoint") + "の操作が行えませんでした"s;
        if (c.step == -1) {
            EXPECT_TRUE(host.messages.empty());
        } else {
            test::expectOneMessage(host, message, Style::Critical);
        }
        EXPECT_TRUE(!session.wordApp && !session.excel.app && !session.powerPoint.app);
    }
}

// A hit opened while a search runs leaves the search's Excel alone.
TEST_F(OfficeSearchTest, OpeningAHitLeavesTheSearchsExcelAlone) {
    app::Settings options;
    Rig rig(Kind::Excel);
    rig.office.excelRunning = true;  // the user's visible Excel
    openExcelFile(rig.session, rig.host, options, "/d/book.xls", "Sheet1", "1,1");
    EXPECT_NE(rig.session.excel.app, nullptr);
    EXPECT_FALSE(rig.session.excel.reused);
    EXPECT_EQ(rig.office.calls.front(), "runningExcel Open");
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
