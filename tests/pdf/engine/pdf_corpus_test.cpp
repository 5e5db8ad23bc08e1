// End-to-end: the engine over real PDFs written by TeX, Ghostscript, LibreOffice, qpdf and
// MuPDF (tests/data/pdf/corpus, made by tools/make_pdf_corpus.sh and its neighbours). Each
// NAME.expected lists PAGE<TAB>WORD lines; every word must give a hit on that page, and a word
// after "-" none at all. A file whose list is empty is only searched: it must not throw and
// must not report hits on pages it does not have.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pdf/engine/engine_run.h"
#include "search/query.h"

namespace ferretta::pdf {
namespace {

namespace fs = std::filesystem;

const fs::path corpusFolder = fs::path(FERRETTA_TEST_DATA) / "pdf" / "corpus";

struct Expectation {
    std::string page;
    std::string word;
};

std::vector<std::string> corpusNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(corpusFolder, ec)) {
        if (entry.path().extension() == ".pdf")
            names.push_back(entry.path().stem().string());
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
    const std::string path = (corpusFolder / (name + ".pdf")).string();
    const auto expectations = readExpectations(corpusFolder / (name + ".expected"));

    int found = 0;
    for (const auto& [page, word] : expectations) {
        SCOPED_TRACE(name + ".pdf page " + page + " word " + word);
        search::Matcher matcher(false, false);
        matcher.targetStrsSplit(word);
        EngineRun run;
        ASSERT_NO_THROW(runEngine(path, matcher, run));
        EXPECT_TRUE(run.completed);
        bool onPage = false;
        for (const auto& hit : run.host.rows) {
            EXPECT_EQ(hit.fileType, app::FileType::Pdf);
            EXPECT_EQ(hit.location, path);
            EXPECT_EQ(hit.name, name + ".pdf");
            // The hit's text is not checked: it is the stream's text cut at its first carriage
            // return, and raw CID bytes in literal strings may hold one anywhere.
            if (hit.position == page)
                onPage = true;
        }
        if (page == "-") {
            EXPECT_TRUE(run.host.rows.empty()) << "a hit on page " << run.host.rows[0].position;
            found += run.host.rows.empty() ? 1 : 0;
            continue;
        }
        EXPECT_TRUE(onPage) << "no hit on page " << page << " among " << run.host.rows.size();
        found += onPage ? 1 : 0;
    }
    std::printf("[ corpus   ] %-28s %3d/%-3zu found\n", (name + ".pdf").c_str(), found,
                expectations.size());
}

// A word in none of the files: the whole page tree is walked, nothing is reported, and the
// files no expectation covers (text this engine cannot map yet) are at least read safely.
TEST_P(PdfCorpus, WalksEveryPageWithoutFalseHits) {
    const std::string name = GetParam();
    const std::string path = (corpusFolder / (name + ".pdf")).string();
    const auto expectations = readExpectations(corpusFolder / (name + ".expected"));

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

// One word of every page in one query (any word matches): each of those pages gets its hit,
// and the hits come in page order.
TEST_P(PdfCorpus, AnyWordHitsEveryExpectedPage) {
    const std::string name = GetParam();
    const std::string path = (corpusFolder / (name + ".pdf")).string();
    const auto expectations = readExpectations(corpusFolder / (name + ".expected"));
    if (expectations.empty())
        GTEST_SKIP() << "no expectations (see the corpus README)";

    // At most ten words per query: take the first word of each page.
    std::string query;
    std::vector<std::string> pages;
    for (const auto& [page, word] : expectations) {
        if (page == "-" || std::find(pages.begin(), pages.end(), page) != pages.end())
            continue;
        pages.push_back(page);
        query += (query.empty() ? "" : " ") + word;
    }
    search::Matcher matcher(false, false);
    matcher.targetStrsSplit(query);
    EngineRun run;
    ASSERT_NO_THROW(runEngine(path, matcher, run));
    std::vector<std::string> hitPages;
    for (const auto& hit : run.host.rows)
        hitPages.push_back(hit.position);
    for (const auto& page : pages) {
        EXPECT_NE(std::find(hitPages.begin(), hitPages.end(), page), hitPages.end())
            << "query \"" << query << "\": no hit on page " << page;
    }
    EXPECT_TRUE(std::is_sorted(
        hitPages.begin(), hitPages.end(),
        [](const std::string& a, const std::string& b) { return std::stoi(a) < std::stoi(b); }))
        << "hits are reported in page order";
}

INSTANTIATE_TEST_SUITE_P(Files, PdfCorpus, testing::ValuesIn(corpusNames()),
                         [](const testing::TestParamInfo<std::string>& file) {
                             return file.param;
                         });

TEST(PdfCorpusFiles, EveryPdfHasItsExpectations) {
    const auto names = corpusNames();
    EXPECT_GE(names.size(), 20U);
    for (const auto& name : names) {
        EXPECT_TRUE(fs::exists(corpusFolder / (name + ".expected"))) << name;
        EXPECT_LT(fs::file_size(corpusFolder / (name + ".pdf")), 128U * 1024U) << name;
    }
}

}  // namespace
}  // namespace ferretta::pdf
