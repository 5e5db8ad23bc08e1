#include "searchers/office/word_search.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_office.h"

namespace ferretta::searchers::office {
namespace {

using test::FakeOffice;
using test::FakeWordFile;

constexpr const char* kPath = "/d/a.doc";

class WordSearchTest : public test::OfficeSearchTest {
  protected:
    void SetUp() override { matcher.targetStrsSplit("foo"); }

    // Starts the run's Word and forgets the calls that took.
    void startRun() {
        ASSERT_TRUE(startWordRun(session));
        office.calls.clear();
    }

    bool search(const std::string& path = kPath, bool fast = false) {
        WordSearcher searcher(session, test::contextOf(host, matcher, flags));
        return fast ? searcher.find_docFast(path) : searcher.find_doc(path);
    }
};

TEST_F(WordSearchTest, NormalModeNumbersSentencesThenShapesAndSharesAnIndexAcrossLines) {
    office.wordFiles[kPath] = FakeWordFile{{"Intro.\r", "has foo\r\nline foo\r", "日本語foo。"},
                                           {"foo box", std::nullopt, "xx\rfoo"},
                                           {}};
    startRun();
    EXPECT_TRUE(search());
    const std::vector<std::string> expected = {
        "2|a.doc|has foo|/d/a.doc|2,5",     "2|a.doc|line foo|/d/a.doc|2,6",
        "2|a.doc|日本語foo。|/d/a.doc|3,7",  // byte position in the ANSI form
        "2|a.doc|foo box|/d/a.doc|4,1",      // shape 1 is element 3 + 1
        "2|a.doc|foo|/d/a.doc|6,1",          // shape 3; shape 2 has no text
    };
    EXPECT_EQ(rows(), expected);
    // Opened read-only, closed at the end.
    EXPECT_TRUE(office.called("Word.Open /d/a.doc ro=1 win=1"));
    EXPECT_EQ(office.calls.back(), "/d/a.doc: Close");
    EXPECT_EQ(log.messagesOf("find_doc"), (std::vector<std::string>{"sNum=3", "aNum=3"}));
    EXPECT_EQ(host.captions, std::vector<std::string>{kPath});
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(WordSearchTest, EmptyDocumentGivesNoHits) {
    office.wordFiles[kPath] = FakeWordFile{};
    startRun();
    EXPECT_TRUE(search(kPath, false));
    EXPECT_TRUE(search(kPath, true));
    EXPECT_TRUE(host.rows.empty() && host.messages.empty());
}

TEST_F(WordSearchTest, FastModeReadsTheMainTextOnlyByLineIndex) {
    office.wordFiles[kPath] = FakeWordFile{{"foo\r", "bar\r", "\r", "baz foo"}, {"foo box"}, {}};
    startRun();
    EXPECT_TRUE(search(kPath, true));
    EXPECT_EQ(rows(), (std::vector<std::string>{"2|a.doc|foo|/d/a.doc|0,1",
                                                "2|a.doc|baz foo|/d/a.doc|3,5"}));
    // The whole main text (16 characters) selected and read at once; no shape is read.
    EXPECT_TRUE(office.called("/d/a.doc: Range(0,16).Select"));
    EXPECT_TRUE(office.callsStartingWith("/d/a.doc: Shapes").empty());
    EXPECT_EQ(office.calls.back(), "/d/a.doc: Close");
}

TEST_F(WordSearchTest, FastModeFindsItsDocumentAmongOnesLeftOpenByFailures) {
    office.wordFiles["/d/bad.doc"] = FakeWordFile{{"x"}, {}, {}};
    office.wordFiles[kPath] = FakeWordFile{{"foo"}, {}, {}};
    office.failures["/d/bad.doc: Characters.Count"] = 4;
    startRun();
    EXPECT_FALSE(search("/d/bad.doc", true));  // stays open in the run's Word
    EXPECT_TRUE(search(kPath, true));
    EXPECT_TRUE(office.called("Word.Documents(2)"));
    EXPECT_EQ(rows(), std::vector<std::string>{"2|a.doc|foo|/d/a.doc|0,1"});
}

// Every failing step: the warning and the log line carry the step reached and the error
// number; the searcher answers false and the walk can go on.
TEST_F(WordSearchTest, FailuresReportTheStepReached) {
    struct Case {
        bool fast;
        std::string failingCall;  // empty: the file is missing
        int position;
        long errorNumber;
    } cases[] = {
        {false, "", 0, test::kFakeMissingFile},
        {false, "Word.Visible=false", 0, 7},
        {false, "Word.Open /d/a.doc ro=1 win=1", 0, 5408},
        {false, "/d/a.doc: Sentences.Count", 1, 11},
        {false, "/d/a.doc: Shapes.Count", 2, 12},
        {false, "/d/a.doc: Sentences.Text", 4, 13},
        {false, "/d/a.doc: Close", 7, 14},
        {true, "", 0, test::kFakeMissingFile},
        {true, "Word.Documents.Count", 1, 21},
        {true, "Word.Documents(1)", 1, 22},
        {true, "/d/a.doc: FullName", 1, 23},
        {true, "/d/a.doc: Characters.Count", 3, 24},
        {true, "/d/a.doc: Range(0,3).Select", 3, 25},
        {true, "Word.Selection.Text", 4, 26},
        {true, "/d/a.doc: Close", 5, 27},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failingCall + (c.fast ? " (fast)" : ""));
        FakeOffice fake;
        OfficeSession own(fake);
        ASSERT_TRUE(startWordRun(own));
        if (!c.failingCall.empty()) {
            fake.wordFiles[kPath] = FakeWordFile{{"foo"}, {}, {}};
            fake.failures[c.failingCall] = c.errorNumber;
        }
        test::RecordingHost recorder;
        WordSearcher searcher(own, test::contextOf(recorder, matcher, flags));
        const auto before = log.messagesOf("find_doc").size();

        EXPECT_FALSE(c.fast ? searcher.find_docFast(kPath) : searcher.find_doc(kPath));

        const std::string position = std::to_string(c.position);
        const std::string number = std::to_string(c.errorNumber);
        test::expectOneMessage(recorder,
                               "検索中にエラーが発生しました Position=" + position +
                                   "  ErrNo=" + number + "\rファイル名=/d/a.doc",
                               app::MessageStyle::Exclamation);
        auto lines = log.messagesOf("find_doc");
        ASSERT_GT(lines.size(), before);
        EXPECT_EQ(lines.back(),
                  "エラー発生 Pos=" + position + " ErrNo=" + number + " ファイル名=/d/a.doc");
        EXPECT_TRUE(recorder.rows.empty());
    }
}

TEST_F(WordSearchTest, DocumentOpenedUnderAnotherNameIsAStepTwoFailureWithoutErrorNumber) {
    office.wordFiles[kPath] = FakeWordFile{{"foo"}, {}, std::string("/D/A.DOC")};
    startRun();
    EXPECT_FALSE(search(kPath, true));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text,
              "検索中にエラーが発生しました Position=2  ErrNo=0\rファイル名=/d/a.doc");
    EXPECT_FALSE(office.called("/d/a.doc: Close"));  // left to the run's Quit
}

// The stop request is looked at after every 500th element (normal mode) or line (fast mode,
// from line 0), only when that element or line is not empty. A stop ends the document with the
// message, also when it ended the office in the middle of a call.
TEST_F(WordSearchTest, StopRequestIsLookedAtEveryFiveHundredElements) {
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
        FakeWordFile file;
        for (int i = 0; i < 1200; ++i) {
            const int index = c.fast ? i : i + 1;
            const bool empty = std::find(c.emptyIndexes.begin(), c.emptyIndexes.end(), index) !=
                               c.emptyIndexes.end();
            // Normal mode: an empty sentence is an empty element. Fast mode: a lone CR is an
            // empty line.
            file.sentences.push_back(empty ? (c.fast ? "\r" : "") : "foo\r");
        }
        FakeOffice fake;
        fake.wordFiles[kPath] = file;
        if (c.officeStopped)
            fake.failures["/d/a.doc: Sentences.Text"] = platform::office::stoppedCallError;
        OfficeSession own(fake);
        ASSERT_TRUE(startWordRun(own));
        test::RecordingHost recorder;
        search::SearchFlags stop;
        if (c.stop)
            recorder.onDoEvents = [&stop] { stop.isAbort = true; };
        WordSearcher searcher(own, test::contextOf(recorder, matcher, stop));
        EXPECT_EQ(c.fast ? searcher.find_docFast(kPath) : searcher.find_doc(kPath), !c.stop);
        EXPECT_EQ(recorder.doEventsCalls, c.expectedChecks);
        EXPECT_EQ(recorder.rows.size(), c.rows);
        if (c.stop) {
            test::expectOneMessage(recorder, "中断ボタンが押されました",
                                   app::MessageStyle::Information);
            EXPECT_EQ(recorder.statusTexts, std::vector<std::string>{""});
        }
    }
}

// A Quit that fails still lets the run go of its Word (a Word that cannot start is
// office_run_test's).
TEST_F(WordSearchTest, RunStartsHiddenWithoutAlertsAndQuitsRestoringThem) {
    office.wordDisplayAlerts = -1;
    office.failures["Word.Quit"] = 462;
    ASSERT_TRUE(startWordRun(session));
    endWordRun(session);
    const std::vector<std::string> calls = {
        "createWord Search",    "Word.Visible=false",    "Word.DisplayAlerts",
        "Word.DisplayAlerts=0", "Word.DisplayAlerts=-1", "Word.Quit",
    };
    EXPECT_EQ(office.calls, calls);
    EXPECT_EQ(session.wordApp, nullptr);
    office.calls.clear();
    endWordRun(session);  // nothing held: nothing to do
    EXPECT_TRUE(office.calls.empty());
}

TEST_F(WordSearchTest, OpenerReusesOrStartsWordAndJumpsUnlessTold) {
    const std::string open = "Word.Open /d/a.doc ro=0 win=1";
    struct Case {
        const char* name;
        bool running, noJump;
        std::string failingCall;
        std::vector<std::string> calls;  // after "runningWord Open"
        int position;                    // -1: no message
    } cases[] = {
        // clang-format off
        {"new Word", false, false, "",
         {"createWord Open", open, "Word.Visible=true", "Word.Find the line"}, -1},
        {"running Word", true, false, "", {open, "Word.Visible=true", "Word.Find the line"}, -1},
        {"NoJump", true, true, "", {open, "Word.Visible=true"}, -1},
        {"no Word at all", false, false, "createWord Open", {"createWord Open"}, 0},
        {"open fails", true, false, open, {open}, 1},
        {"find refused", true, false, "Word.Find the line",
         {open, "Word.Visible=true", "Word.Find the line"}, 3},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOffice fake;
        fake.wordRunning = c.running;
        fake.wordFiles[kPath] = FakeWordFile{{"the line\r"}, {}, {}};
        if (!c.failingCall.empty())
            fake.failures[c.failingCall] = 5;
        OfficeSession own(fake);
        test::RecordingHost recorder;
        app::Settings options;
        options.noJump = c.noJump;
        openWordFile(own, recorder, options, kPath, "the line");
        std::vector<std::string> calls = {"runningWord Open"};
        calls.insert(calls.end(), c.calls.begin(), c.calls.end());
        EXPECT_EQ(fake.calls, calls);  // never Quit, never Close
        if (c.position < 0) {
            EXPECT_TRUE(recorder.messages.empty());
        } else {
            test::expectOneMessage(
                recorder,
                "Word文書を開く際にエラーが発生しました\rファイル名:/d/a.doc\r文字列:the "
                "line\r原因コード=" +
                    std::to_string(c.position),
                app::MessageStyle::Critical);
        }
        EXPECT_EQ(own.wordApp, nullptr);  // the search run's Word is not touched
    }
}

}  // namespace
}  // namespace ferretta::searchers::office
