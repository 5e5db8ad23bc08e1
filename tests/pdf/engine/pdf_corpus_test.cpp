// End-to-end: the engine over real PDFs written by TeX, Ghostscript, LibreOffice, qpdf and
// MuPDF (tests/data/pdf/corpus, made by tools/make_pdf_corpus.sh and its neighbours) and over
// the hand-made files of tests/data/pdf/handmade (broken and unusual structure). Each
// NAME.expected lists PAGE<TAB>WORD lines; every word must give a hit on that page, and a word
// after "-" none at all. A file whose list is empty is only searched: it must not throw and
// must not report hits on pages it does not have.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pdf/engine/engine_run.h"
#include "search/query.h"

namespace ferretta::pdf {
namespace {

namespace fs = std::filesystem;

const fs::path folders[] = {fs::path(FERRETTA_TEST_DATA) / "pdf" / "corpus",
                            fs::path(FERRETTA_TEST_DATA) / "pdf" / "handmade"};

// The file NAME.pdf of either folder, with `extension` for ".pdf".
std::string fileOf(const std::string& name, const std::string& extension) {
    const fs::path folder = fs::exists(folders[0] / (name + ".pdf")) ? folders[0] : folders[1];
    return (folder / (name + extension)).string();
}

struct Expectation {
    std::string page;
    std::string word;
};

std::vector<std::string> corpusNames() {
    std::vector<std::string> names;
    for (const fs::path& folder : folders) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.path().extension() == ".pdf")
                names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<Expectation> readExpectations(const fs::path& file) {
    std::vector<Expectation> lines;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto tab = line.find('\t');
        if (line.empty() || tab == std::string::npos)
            continue;
        lines.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return lines;
}

class PdfCorpus : public testing::TestWithParam<std::string> {};

TEST_P(PdfCorpus, FindsEveryExpectedWordOnItsPage) {
    const std::string name = GetParam();
    const std::string path = fileOf(name, ".pdf");
    const auto expectations = readExpectations(fileOf(name, ".expected"));

    for (const auto& [page, word] : expectations) {
        SCOPED_TRACE(name + ".pdf page " + page + " word " + word);
        search::Matcher matcher(false, false);
        matcher.targetStrsSplit(word);
        EngineRun run;
        ASSERT_NO_THROW(runEngine(path, matcher, run));
        EXPECT_TRUE(run.completed);
        bool onPage = false;
        int lastPage = 0;
        for (const auto& hit : run.host.rows) {
            EXPECT_EQ(hit.fileType, app::FileType::Pdf);
            EXPECT_EQ(hit.location, path);
            EXPECT_EQ(hit.name, name + ".pdf");
            // The hit's text is not checked: it is the stream's text cut at its first carriage
            // return, and raw CID bytes in literal strings may hold one anywhere.
            onPage = onPage || hit.position == page;
            EXPECT_GE(std::stoi(hit.position), lastPage) << "hits come in page order";
            lastPage = std::stoi(hit.position);
        }
        if (page == "-")
            EXPECT_TRUE(run.host.rows.empty()) << "a hit on page " << run.host.rows[0].position;
        else
            EXPECT_TRUE(onPage) << "no hit on page " << page << " among " << run.host.rows.size();
    }
}

// A word in none of the files: the whole page tree is walked, nothing is reported, and the
// files no expectation covers (text this engine cannot map yet) are at least read safely.
TEST_P(PdfCorpus, WalksEveryPageWithoutFalseHits) {
    const std::string name = GetParam();
    const std::string path = fileOf(name, ".pdf");
    ASSERT_TRUE(fs::exists(fileOf(name, ".expected")));
    const auto expectations = readExpectations(fileOf(name, ".expected"));

    search::Matcher matcher(false, false);
    matcher.targetStrsSplit("存在しない語zq");
    EngineRun run;
    ASSERT_NO_THROW(runEngine(path, matcher, run));
    EXPECT_TRUE(run.host.rows.empty());
    if (name.ends_with("_password")) {
        // Protected by a password nobody typed: skipped, but counted as searched.
        EXPECT_TRUE(run.completed);
        EXPECT_EQ(run.pages, 0);
    }
    if (expectations.empty())
        return;
    EXPECT_TRUE(run.completed);
    int lastPage = 0;
    for (const auto& expectation : expectations) {
        if (expectation.page != "-")
            lastPage = std::max(lastPage, std::stoi(expectation.page));
    }
    EXPECT_GE(run.pages, lastPage);
}

INSTANTIATE_TEST_SUITE_P(Files, PdfCorpus, testing::ValuesIn(corpusNames()),
                         [](const testing::TestParamInfo<std::string>& file) {
                             return file.param;
                         });

}  // namespace
}  // namespace ferretta::pdf
