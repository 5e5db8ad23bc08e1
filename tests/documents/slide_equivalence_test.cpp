// Every presentation of the corpus (tools/office_corpus/slide.py: LibreOffice's own documents,
// a PowerPoint-like package and LibreOffice's conversion of it, OpenDocument as another
// program writes it) read by the native reader and by the real LibreOffice as the PowerPoint
// searcher reads it: the same units, the same slide count.
#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/office/office_test_support.h"
#include "support/office_corpus.h"
#include "support/office_units.h"

namespace ferretta::test {
namespace {

namespace fs = std::filesystem;

std::string listed(const cache::Extract& extract) {
    std::ostringstream out;
    for (const auto& unit : extract.units)
        out << unit.place << " [" << unit.text << "]\n";
    out << "slides " << extract.count << "\n";
    return out.str();
}

class SlideEquivalenceTest : public office::AutomationTest {};

TEST_F(SlideEquivalenceTest, everyPresentationReadsAsTheOfficeReadsIt) {
    std::string why;
    const fs::path corpus = officeCorpus("slide", why);
    if (corpus.empty())
        GTEST_SKIP() << why;
    std::vector<fs::path> documents;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".pptx" || extension == ".odp")
            documents.push_back(entry.path());
    }
    std::sort(documents.begin(), documents.end());
    ASSERT_GE(documents.size(), 5U) << "the corpus at " << corpus << " is incomplete";

    for (const fs::path& document : documents) {
        SCOPED_TRACE(document.filename().string());
        documents::ReadResult result;
        const cache::Extract native =
            nativeUnits(document.string(), documents::Kind::PowerPoint, result);
        EXPECT_EQ(result.status, documents::ReadStatus::Complete) << result.reason;
        const cache::Extract office =
            officeUnits(*m_automation, document.string(), documents::Kind::PowerPoint);
        EXPECT_GT(office.count, 0) << "the office read no slide";
        EXPECT_EQ(listed(native), listed(office));
    }
}

}  // namespace
}  // namespace ferretta::test
