#include "searchers/office/powerpoint_search.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_native_reader.h"
#include "support/fake_office.h"

namespace ferretta::searchers::office {
namespace {

using test::FakeOffice;
using test::FakeShape;

constexpr const char* kDeck = "/d/deck.ppt";

class PowerPointSearchTest : public test::OfficeSearchTest {
  protected:
    void SetUp() override {
        matcher.targetStrsSplit("foo");
        office.powerPointFiles[kDeck] = {
            {FakeShape::textBox("ab\r\nfo\ro"), FakeShape::textBox("x\nfoo"), FakeShape::picture(),
             FakeShape::group({FakeShape::textBox("foo member"), FakeShape::picture(),
                               FakeShape::group({FakeShape::textBox("foo nested")})})},
            {FakeShape::textBox("nothing")},
            {FakeShape::textBox("foo"), FakeShape::textBox("")},
        };
    }

    void startRun() {
        ASSERT_TRUE(startPowerPoint(office, session.powerPoint, platform::office::Purpose::Search));
        office.calls.clear();
    }

    bool search(const std::string& path = kDeck) {
        PowerPointSearcher searcher(session, test::contextOf(host, matcher, flags));
        return searcher.find_ppt(path);
    }
};

TEST_F(PowerPointSearchTest, TextsLoseTheirBreaksAndGroupMembersButNotNestedGroupsAreSearched) {
    startRun();
    EXPECT_TRUE(search());
    const std::vector<std::string> expected = {
        "16|deck.ppt|abfoo|/d/deck.ppt|1",  // found only once the breaks are gone
        "16|deck.ppt|xfoo|/d/deck.ppt|1",
        "16|deck.ppt|foo member|/d/deck.ppt|1",
        "16|deck.ppt|foo|/d/deck.ppt|3",
    };
    EXPECT_EQ(rows(), expected);
    EXPECT_EQ(office.calls.front(), "PowerPoint.Open /d/deck.ppt ro=1 win=0");
    EXPECT_EQ(office.calls.back(), "/d/deck.ppt: Close");
    // The nested group's own text frame is asked for, its members never.
    EXPECT_TRUE(office.called("/d/deck.ppt slide 1 shape 4.3: HasTextFrame"));
    EXPECT_FALSE(office.called("/d/deck.ppt slide 1 shape 4.3: GroupItems.Count"));
    // The empty text box is not matched; pictures are skipped without a word.
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.doEventsCalls, 3);  // once after each slide
    EXPECT_EQ(host.captions, std::vector<std::string>{kDeck});
}

TEST_F(PowerPointSearchTest, StopRequestIsLookedAtAfterEverySlide) {
    std::vector<test::FakeSlide> slides(40, test::FakeSlide{FakeShape::textBox("foo")});
    office.powerPointFiles["/d/forty.ppt"] = slides;
    startRun();
    EXPECT_TRUE(search("/d/forty.ppt"));
    EXPECT_EQ(host.doEventsCalls, 40);
    EXPECT_EQ(host.rows.size(), 40u);

    host = test::RecordingHost();
    host.onDoEvents = [this] {
        if (host.doEventsCalls == 2)
            flags.isAbort = true;
    };
    EXPECT_FALSE(search("/d/forty.ppt"));
    EXPECT_EQ(host.rows.size(), 2u);
    EXPECT_EQ(host.doEventsCalls, 2);
    test::expectOneMessage(host, "中断ボタンが押されました", app::MessageStyle::Information);
    EXPECT_EQ(host.statusTexts, std::vector<std::string>{""});
    EXPECT_EQ(office.calls.back(), "/d/forty.ppt: Close");
}

// A presentation read natively has the stop looked at after each of its slides, also after
// those without text, which give no unit.
TEST_F(PowerPointSearchTest, NativeSlidesWithoutTextHaveTheirStopLookToo) {
    test::FakeNativeReader native;
    native.install(session);
    native.documents["/d/deck.pptx"] = {{}, {{2, 0, 0, "foo", ""}}, {}, 4};
    EXPECT_TRUE(search("/d/deck.pptx"));
    EXPECT_EQ(rows(), std::vector<std::string>{"16|deck.pptx|foo|/d/deck.pptx|2"});
    EXPECT_EQ(host.doEventsCalls, 4);
    EXPECT_TRUE(office.calls.empty());
}

// Once the presentation is open every failing call is passed over in silence.
TEST_F(PowerPointSearchTest, FailuresAfterOpeningAreSkipped) {
    struct Case {
        const char* failingCall;
        std::vector<std::string> positions;  // of the hits still found
    } cases[] = {
        {"/d/deck.ppt: Slides.Count", {}},
        {"/d/deck.ppt: Slides(1)", {"3"}},
        {"/d/deck.ppt slide 1: Shapes.Count", {"3"}},
        {"/d/deck.ppt slide 1: Shapes(2)", {"1", "1", "3"}},
        {"/d/deck.ppt slide 1 shape 2: HasTextFrame", {"1", "1", "3"}},
        {"/d/deck.ppt slide 1 shape 2: Text", {"1", "1", "3"}},
        {"/d/deck.ppt slide 1 shape 4: GroupItems.Count", {"1", "1", "3"}},
        {"/d/deck.ppt slide 1 shape 4: GroupItems(1)", {"1", "1", "3"}},
        {"/d/deck.ppt: Close", {"1", "1", "1", "3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failingCall);
        office.failures.clear();
        office.failures[c.failingCall] = -2147467259;
        host = test::RecordingHost();
        startRun();
        EXPECT_TRUE(search());
        std::vector<std::string> positions;
        for (const auto& row : host.rows)
            positions.push_back(row.position);
        EXPECT_EQ(positions, c.positions);
        EXPECT_TRUE(host.messages.empty());
        EXPECT_EQ(host.doEventsCalls, c.positions.empty() ? 0 : 3);
    }
}

TEST_F(PowerPointSearchTest, BorrowedPowerPointIsShownAgainCreatedOneQuits) {
    struct Case {
        bool running;
        std::vector<std::string> calls;
    } cases[] = {
        {true, {"runningPowerPoint Search", "PowerPoint.Visible=false", "PowerPoint.Visible=true"}},
        {false, {"runningPowerPoint Search", "createPowerPoint Search", "PowerPoint.Quit"}},
    };
    for (const auto& c : cases) {
        FakeOffice fake;
        fake.powerPointRunning = c.running;
        PowerPointSlot slot;
        EXPECT_TRUE(startPowerPoint(fake, slot, platform::office::Purpose::Search));
        EXPECT_EQ(slot.reused, c.running);
        stopPowerPoint(slot);
        EXPECT_EQ(fake.calls, c.calls);
        EXPECT_EQ(slot.app, nullptr);
        fake.calls.clear();
        stopPowerPoint(slot);  // nothing held: nothing happens
        EXPECT_TRUE(fake.calls.empty());
    }
    FakeOffice none;
    none.failures["createPowerPoint Search"] = 429;
    PowerPointSlot slot;
    EXPECT_FALSE(startPowerPoint(none, slot, platform::office::Purpose::Search));
    EXPECT_EQ(slot.app, nullptr);
}

TEST_F(PowerPointSearchTest, OpenerSelectsTheSlideAndEndsItsPowerPointOnFailure) {
    struct Case {
        const char* name;
        bool running;
        std::string position;
        bool noJump;
        const char* failingCall;
        std::vector<std::string> calls;  // after "runningPowerPoint Open"
        int step;                        // -1: no message
    };
    const std::string open = "PowerPoint.Open /d/deck.ppt ro=0 win=1",
                      show = "PowerPoint.Visible=true";
    const std::string create = "createPowerPoint Open", quit = "PowerPoint.Quit";
    const Case cases[] = {
        // clang-format off
        {"slide 3", false, "3", false, nullptr,
         {create, open, show, "/d/deck.ppt: Slides(3)", "/d/deck.ppt slide 3: Select"}, -1},
        {"NoJump", false, "3", true, nullptr, {create, open, show}, -1},
        {"file-name hit", false, "", false, nullptr, {create, open, show}, -1},
        {"slide gone, created PowerPoint quits", false, "9", false, nullptr,
         {create, open, show, "/d/deck.ppt: Slides(9)", quit}, 3},
        {"slide gone, borrowed PowerPoint shown", true, "9", false, nullptr,
         {"PowerPoint.Visible=false", open, show, "/d/deck.ppt: Slides(9)", show}, 3},
        {"open fails", false, "1", false, open.c_str(), {create, open, quit}, 1},
        {"select refused", false, "2", false, "/d/deck.ppt slide 2: Select",
         {create, open, show, "/d/deck.ppt: Slides(2)", "/d/deck.ppt slide 2: Select", quit}, 3},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOffice fake;
        fake.powerPointRunning = c.running;
        fake.powerPointFiles = office.powerPointFiles;
        if (c.failingCall)
            fake.failures[c.failingCall] = -2147467259;
        OfficeSession own(fake);
        test::RecordingHost recorder;
        app::Settings options;
        options.noJump = c.noJump;
        openPowerPointFile(own, recorder, options, kDeck, c.position);
        std::vector<std::string> calls = {"runningPowerPoint Open"};
        calls.insert(calls.end(), c.calls.begin(), c.calls.end());
        EXPECT_EQ(fake.calls, calls);
        if (c.step < 0) {
            EXPECT_TRUE(recorder.messages.empty());
        } else {
            test::expectOneMessage(recorder,
                                   "PowerPoint文書を開く際にエラーが発生しました\rファイル名:/d/"
                                   "deck.ppt\r原因コード=" +
                                       std::to_string(c.step),
                                   app::MessageStyle::Critical);
        }
    }
}

TEST_F(PowerPointSearchTest, OpenerWithoutPowerPointSaysSo) {
    office.failures["createPowerPoint Open"] = 429;
    app::Settings options;
    openPowerPointFile(session, host, options, kDeck, "1");
    test::expectOneMessage(host, "PowerPointの操作が行えませんでした", app::MessageStyle::Critical);
}

}  // namespace
}  // namespace ferretta::searchers::office
