// The native workbook reader against the office: every workbook of the corpus (made by real
// producers, tools/make_office_corpus.py --kinds sheet) read both ways must give the same
// sheets and the same units; a shown value the native reader cannot tell is left out of the
// comparison, since the search then asks the office. Skipped where soffice or a producer is
// missing.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "drivers/office/office_test_support.h"
#include "support/office_units.h"

namespace ferretta::test::office {
namespace {

namespace fs = std::filesystem;

// The corpus, made once and kept under the temporary folder until its generator changes;
// empty when a producer is missing.
fs::path sheetCorpus() {
    const fs::path source = fs::path(FERRETTA_SOURCE_DIR) / "tools";
    const fs::path corpus = scratchRoot() / "sheet-corpus";
    const fs::path stamp = corpus / ".made";
    const auto fresh = [&] {
        std::error_code error;
        return fs::exists(stamp, error) &&
               fs::last_write_time(stamp, error) >=
                   std::max(fs::last_write_time(source / "office_corpus" / "sheet.py", error),
                            fs::last_write_time(source / "make_office_corpus.py", error));
    };
    fs::create_directories(scratchRoot());
    const int lock =
        ::open((scratchRoot() / ".sheet-corpus.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0)
        ::flock(lock, LOCK_EX);
    if (!fresh()) {
        fs::remove_all(corpus);
        fs::create_directories(corpus);
        // Debian's interpreter, whose packages (python3-openpyxl) tools/deps lists.
        const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
        const std::string command = python + " '" + (source / "make_office_corpus.py").string() +
                                    "' '" + corpus.string() + "' --kinds sheet >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0)
            std::ofstream(stamp) << "made\n";
    }
    if (lock >= 0)
        ::close(lock);
    return fresh() ? corpus : fs::path();
}

class SheetEquivalenceTest : public AutomationTest {};

TEST_F(SheetEquivalenceTest, NativeUnitsAreTheOfficeUnits) {
    const fs::path corpus = sheetCorpus();
    if (corpus.empty())
        GTEST_SKIP() << "the corpus could not be made (openpyxl or soffice missing)";
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
