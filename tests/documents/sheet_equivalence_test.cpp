// The native workbook reader against the office: every workbook of the corpus (made by real
// producers, tools/make_office_corpus.py --kinds sheet) read both ways must give the same
// sheets and the same units; a shown value the native reader cannot tell is left out of the
// comparison, since the search then asks the office. Skipped where soffice or a producer is
// missing.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "drivers/office/office_test_support.h"
#include "support/office_corpus.h"
#include "support/office_units.h"

namespace ferretta::test::office {
namespace {

namespace fs = std::filesystem;

class SheetEquivalenceTest : public AutomationTest {};

TEST_F(SheetEquivalenceTest, NativeUnitsAreTheOfficeUnits) {
    std::string why;
    const fs::path corpus = officeCorpus("sheet", why);
    if (corpus.empty())
        GTEST_SKIP() << why;
    std::vector<fs::path> workbooks;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".xlsx" || extension == ".xlsm" || extension == ".ods")
            workbooks.push_back(entry.path());
    }
    std::sort(workbooks.begin(), workbooks.end());
    ASSERT_GE(workbooks.size(), 8u);
    // An application of our own keeps the office running from one workbook to the next.
    auto keep = m_automation->createExcel(po::Purpose::Search);
    std::size_t compared = 0;
    std::size_t shownCompared = 0;
    for (const fs::path& path : workbooks) {
        SCOPED_TRACE(path.filename().string());
        documents::ReadResult result;
        const cache::Extract native = nativeUnits(path, documents::Kind::Excel, result);
        if (path.stem().string().ends_with("-office")) {
            EXPECT_EQ(result.status, documents::ReadStatus::ForOffice);
            continue;
        }
        ASSERT_EQ(result.status, documents::ReadStatus::Complete) << result.reason;
        const cache::Extract office = officeUnits(*m_automation, path, documents::Kind::Excel);
        EXPECT_EQ(native.names, office.names);
        ASSERT_EQ(native.units.size(), office.units.size());
        for (std::size_t i = 0; i < native.units.size(); ++i) {
            const cache::Unit& n = native.units[i];
            const cache::Unit& o = office.units[i];
            EXPECT_EQ(std::tie(n.place, n.row, n.column, n.text),
                      std::tie(o.place, o.row, o.column, o.text))
                << n.place << "," << n.row << "," << n.column;
            if (n.shown != "\x01unknown") {
                EXPECT_EQ(n.shown, o.shown) << n.place << "," << n.row << "," << n.column;
                shownCompared += o.shown.empty() ? 0 : 1;
            }
        }
        ++compared;
    }
    keep->quit();
    EXPECT_GE(compared, 8u);
    EXPECT_GT(shownCompared, 20u) << "the corpus no longer shows stored formula values";
}

}  // namespace
}  // namespace ferretta::test::office
