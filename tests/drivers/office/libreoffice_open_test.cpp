// Opening a hit in the visible office: the document on screen, the hit selected, the office
// kept for the next double-click. Needs an X server (open_at_hit_check.sh runs it under
// xvfb-run); skipped without one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "drivers/office/libreoffice.h"
#include "drivers/office/office_test_support.h"
#include "platform/error.h"

namespace ferretta::platform::office {
namespace {

namespace fs = std::filesystem;

// The documents are opened read-only for the test and closed: nothing keeps the visible
// office, so it ends with the automation.
class OpenAtHitTest : public test::office::AutomationTest {
  protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0')
            GTEST_SKIP() << "no X server";
        AutomationTest::SetUp();
    }
};

using test::office::automationCode;

TEST_F(OpenAtHitTest, WordFindsAndSelectsTheLineAndTheOfficeIsReused) {
    EXPECT_FALSE(m_automation->runningWord(Purpose::Open));
    auto word = m_automation->createWord(Purpose::Open);
    const fs::path path = test::office::converted("writer.fodt", "doc");
    ASSERT_FALSE(path.empty());
    auto document = word->open(path.string(), OpenOptions{true, true});
    word->setVisible(true);
    EXPECT_TRUE(word->findAndSelect("検索語はフェレッタです。"));
    // Read back from the document's view.
    EXPECT_EQ(word->selectionText(), "検索語はフェレッタです。");
    EXPECT_TRUE(word->findAndSelect("表の中の鍵語"));
    EXPECT_EQ(word->selectionText(), "表の中の鍵語");
    EXPECT_FALSE(word->findAndSelect("どこにもない文"));
    // Word refuses a find text this long; the opener reports that step.
    automationCode([&] { word->findAndSelect(std::string(300, 'x')); });

    // A later double-click finds the same office running.
    const auto pids = test::office::ourOfficePids("open");
    EXPECT_FALSE(pids.empty());
    auto again = m_automation->runningWord(Purpose::Open);
    ASSERT_TRUE(again);
    EXPECT_GE(again->documentCount(), 1);
    EXPECT_EQ(test::office::ourOfficePids("open"), pids);
    EXPECT_FALSE(m_automation->runningWord(Purpose::Search));
    document->close();
}

TEST_F(OpenAtHitTest, ExcelActivatesTheSheetAndSelectsTheCell) {
    auto excel = m_automation->createExcel(Purpose::Open);
    const fs::path path = test::office::converted("calc.fods", "xls");
    ASSERT_FALSE(path.empty());
    auto book = excel->open(path.string(), OpenOptions{true, true});
    excel->setVisible(true);
    // Each call reads the active sheet and the selection back from the view and fails when the
    // office did not follow.
    auto sheet = book->worksheetNamed("Second");
    sheet->activate();
    sheet->selectCell(5, 4);
    book->worksheet(3)->activate();
    book->worksheet(3)->selectCell(1, 1);
    automationCode([&] { sheet->selectCell(0, 1); });
    automationCode([&] { sheet->selectCell(1, 100000); });
    automationCode([&] { book->worksheetNamed("gone"); });
    book->close();
}

TEST_F(OpenAtHitTest, PowerPointShowsTheSlide) {
    auto powerPoint = m_automation->createPowerPoint(Purpose::Open);
    const fs::path path = test::office::converted("impress.fodp", "ppt");
    ASSERT_FALSE(path.empty());
    auto presentation = powerPoint->open(path.string(), OpenOptions{true, true});
    powerPoint->setVisible(true);
    // The view's current page is read back: it must be the slide asked for.
    presentation->slide(2)->select();
    presentation->slide(1)->select();
    automationCode([&] { presentation->slide(3); });
    presentation->close();
    powerPoint->quit();
}

}  // namespace
}  // namespace ferretta::platform::office
