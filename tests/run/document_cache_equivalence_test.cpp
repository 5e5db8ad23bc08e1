// A search through the document cache finds exactly what a search without it finds: the same
// rows in the same order and the same counts, cold, warm, and after files were changed,
// touched, renamed, deleted and added. Random documents, random queries (AND/OR, strict,
// regular expressions, names only).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "pdf/engine/fonts/cid_map.h"
#include "pdf/engine/pdf_test_support.h"
#include "platform/cp932.h"
#include "run/document_cache_use.h"
#include "run/search_run.h"
#include "search/file_dispatch.h"
#include "searchers/office/office_session.h"
#include "support/fake_office.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace ferretta::run {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kPieces = {
    "東京", "都",   "会議", "資料", "ファイル", "ﾌｧｲﾙ", "データ", "ﾃﾞｰﾀ", "の",  "を", "ア",
    "ｱ",    "表示", "abc",  "ABC",  "ａｂｃ",   "x",    "Y",      "12",   " ",   "-",  "〜",
    "～",   "髙橋", "é",    "BCx",  "日本語",   "語",   "検索",   "対象", "pdf", "PDF"};

std::string randomText(std::mt19937& random, int pieces) {
    std::string text;
    for (int i = 0; i < pieces; ++i)
        text += kPieces[random() % kPieces.size()];
    return text;
}

// A literal PDF string of CP932 bytes, its delimiters escaped.
std::string pdfString(const std::string& utf8) {
    std::string out = "(";
    for (const char c : platform::utf8ToCp932(utf8)) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + ")";
}

std::string randomPdf(std::mt19937& random) {
    const int pages = 1 + static_cast<int>(random() % 4);
    test::PdfBuilder pdf;
    std::string kids;
    int next = 3;
    for (int p = 0; p < pages; ++p) {
        const int page = next++;
        kids += std::to_string(page) + " 0 R ";
        std::string contents = "[";
        for (int s = 0, n = 1 + static_cast<int>(random() % 3); s < n; ++s) {
            std::string data = "BT\n";
            for (int l = 0, lines = 1 + static_cast<int>(random() % 3); l < lines; ++l)
                data += pdfString(randomText(random, 1 + static_cast<int>(random() % 6))) + " Tj\n";
            pdf.stream(next, data + "ET");
            contents += std::to_string(next++) + " 0 R ";
        }
        pdf.page(page, contents + "]");
    }
    std::string out = pdf.pages(kids, pages).build();
    // One file in eight is cut short: the engine reads what it can and answers false.
    if (random() % 8 == 0)
        out.resize(out.size() * 2 / 3);
    return out;
}

struct Findings {
    std::vector<app::Hit> rows;
    std::int64_t files = 0;
    std::int64_t fromCache = 0;
};

}  // namespace
}  // namespace ferretta::run

// Beside the hit record, where the comparisons of hit lists find it.
namespace ferretta::app {
bool operator==(const Hit& a, const Hit& b) {
    return a.fileType == b.fileType && a.name == b.name && a.content == b.content &&
           a.location == b.location && a.position == b.position;
}
}  // namespace ferretta::app

namespace ferretta::run {
namespace {

class CacheEquivalenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pdf::cidTable().loaded() ||
                    pdf::cidTable().p2tCIDInit(fs::path(FERRETTA_SOURCE_DIR) / "resources" /
                                               "AdobeCID.dat"));
        // A cache of its own: other test programs running at the same time empty theirs.
        ::setenv("XDG_CACHE_HOME", tree.path("cache").c_str(), 1);
        closeDocumentCache();
        settings.dir = tree.path("docs");
        settings.fileTypes.setTarget(app::FileType::Pdf, true);
        settings.pdfOwnEngine = true;
        for (int i = 0; i < 40; ++i)
            writePdf("d" + std::to_string(i) + ".pdf");
        for (app::FileType type :
             {app::FileType::Word, app::FileType::Excel, app::FileType::PowerPoint})
            settings.fileTypes.setTarget(type, true);
        // A sheet where the find must come back to A1 last, and a formula that shows a value.
        office.excelFiles[tree.write("docs/fixed.xlsx", "x")] = {
            {"Sheet1", {{"東京都", "=A1"}, {"abc", "東京駅"}}}};
        for (int i = 0; i < 8; ++i) {
            writeOffice("w" + std::to_string(i) + ".docx");
            writeOffice("x" + std::to_string(i) + ".xlsx");
            writeOffice("p" + std::to_string(i) + ".pptx");
        }
    }

    // A document on disk (its identity) and its contents in the in-memory office.
    void writeOffice(const std::string& name) {
        const std::string path = tree.write("docs/" + name, randomText(random, 3));
        if (name.ends_with(".docx")) {
            test::FakeWordFile file;
            for (int i = 0, n = 1 + static_cast<int>(random() % 4); i < n; ++i)
                file.sentences.push_back(randomText(random, 1 + static_cast<int>(random() % 5)) +
                                         (random() % 3 ? "\r" : "\r\n" + randomText(random, 2)));
            file.shapes = {std::nullopt, randomText(random, 3)};
            office.wordFiles[path] = file;
        } else if (name.ends_with(".xlsx")) {
            std::vector<test::FakeSheet> sheets;
            for (int i = 0, n = 1 + static_cast<int>(random() % 3); i < n; ++i) {
                test::FakeSheet sheet{"Sheet" + std::to_string(i + 1), {}};
                for (int r = 0, rows = static_cast<int>(random() % 4); r < rows; ++r) {
                    auto& row = sheet.cells.emplace_back();
                    for (int c = 0, cols = 1 + static_cast<int>(random() % 3); c < cols; ++c)
                        row.push_back(random() % 4 ? randomText(random, 2) : "");
                }
                sheets.push_back(sheet);
            }
            office.excelFiles[path] = sheets;
        } else {
            std::vector<test::FakeSlide> slides;
            for (int i = 0, n = static_cast<int>(random() % 4); i < n; ++i) {
                slides.push_back(
                    {test::FakeShape::textBox(randomText(random, 2) + "\r\n" +
                                              randomText(random, 2)),
                     test::FakeShape::picture(),
                     test::FakeShape::group({test::FakeShape::textBox(randomText(random, 3))})});
            }
            office.powerPointFiles[path] = slides;
        }
    }

    void renameOffice(const std::string& from, const std::string& to) {
        const std::string a = tree.path("docs/" + from), b = tree.path("docs/" + to);
        fs::rename(a, b);
        if (auto word = office.wordFiles.extract(a))
            office.wordFiles.insert({b, word.mapped()});
        if (auto excel = office.excelFiles.extract(a))
            office.excelFiles.insert({b, excel.mapped()});
    }
    void TearDown() override { closeDocumentCache(); }

    std::int64_t documents() const {
        std::int64_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(settings.dir))
            switch (search::fileTypeOfPath(entry.path().string(), "")) {
                case app::FileType::Pdf:
                case app::FileType::Word:
                case app::FileType::Excel:
                case app::FileType::PowerPoint:
                    ++count;
                    break;
                default:
                    break;
            }
        return count;
    }

    void writePdf(const std::string& name) { tree.write("docs/" + name, randomPdf(random)); }

    Findings search(const std::string& query, bool cache) {
        test::RecordingHost host;
        search::SearchFlags flags;
        settings.textCache = cache;
        SearchRunHooks hooks;
        hooks.officeSession = [this]() -> searchers::office::OfficeSession& { return session; };
        hooks.hitCount = [&host] { return static_cast<std::int64_t>(host.rows.size()); };
        const SearchOutcome outcome = runSearchCommand(host, settings, flags, query, hooks);
        if (cache)
            documentCache(settings)->flush();
        // The count is shown as it grows: 0 at the start, then one more per document.
        EXPECT_EQ(host.fromCacheShown.size(), static_cast<std::size_t>(outcome.fromCache) + 1);
        return {host.rows, outcome.files, outcome.fromCache};
    }

    // A query of 1-3 words taken from the documents' pieces, in a random mode.
    std::string randomQuery() {
        settings.strict = random() % 4 == 0;
        settings.regular = random() % 6 == 0;
        settings.fileNameOnly = random() % 10 == 0;
        settings.wordFast = random() % 3 == 0;
        if (settings.regular)
            return random() % 2 ? "東.都" : "(abc|日本)語?";
        if (random() % 8 == 0)
            return random() % 2 ? "東*都" : "ファ?ル";  // wildcards of Excel's cell find
        std::string query = random() % 2 ? "&& " : "";
        for (int i = 0, n = 1 + static_cast<int>(random() % 3); i < n; ++i) {
            std::string word = randomText(random, 1 + static_cast<int>(random() % 2));
            word.erase(std::remove(word.begin(), word.end(), ' '), word.end());
            query += (word.empty() ? "x" : word) + " ";
        }
        return query;
    }

    void expectSameFindings(int queries) {
        // Queries that meet the fixed workbook first, then random ones.
        for (const char* query : {"東京", "&& 東京 ABC", "東*都"}) {
            settings.strict = settings.regular = settings.fileNameOnly = false;
            compare(query);
        }
        for (int i = 0; i < queries; ++i)
            compare(randomQuery());
    }

    void compare(const std::string& query) {
        const Findings live = search(query, false);
        const Findings cold = search(query, true);
        const Findings warm = search(query, true);
        EXPECT_EQ(cold.rows, live.rows) << query;
        EXPECT_EQ(warm.rows, live.rows) << query;
        EXPECT_EQ(warm.files, live.files) << query;
        // Every document comes from the cache the second time (names alone read none).
        EXPECT_EQ(warm.fromCache, settings.fileNameOnly ? 0 : documents()) << query;
        foundSomething += live.rows.empty() ? 0 : 1;
    }

    std::mt19937 random{20240607};
    test::TempTree tree;
    app::Settings settings;
    test::FakeOffice office;
    searchers::office::OfficeSession session{office};
    int foundSomething = 0;
};

TEST_F(CacheEquivalenceTest, SameRowsColdWarmAndAfterChanges) {
    expectSameFindings(12);
    // Changed, touched, renamed, deleted and new documents.
    writePdf("d0.pdf");
    fs::last_write_time(tree.root() / "docs/d1.pdf",
                        fs::last_write_time(tree.root() / "docs/d1.pdf") + std::chrono::seconds(5));
    fs::rename(tree.root() / "docs/d2.pdf", tree.root() / "docs/renamed.pdf");
    fs::remove(tree.root() / "docs/d3.pdf");
    writePdf("new.pdf");
    writeOffice("w0.docx");
    writeOffice("x0.xlsx");
    writeOffice("p0.pptx");
    renameOffice("w1.docx", "w1 renamed.docx");
    renameOffice("x1.xlsx", "x1 renamed.xlsx");
    fs::remove(tree.root() / "docs/p1.pptx");
    expectSameFindings(12);
    EXPECT_GT(foundSomething, 8);
}

TEST_F(CacheEquivalenceTest, ThePdfFilterTooAndTheSummaryCountsTheCachedFiles) {
    // The "PDFs" are text, and the filter copies them: lines in UTF-8 and CP932, pages apart.
    settings.pdfOwnEngine = false;
    settings.pdfFilterPath = "cp %1 %2";
    settings.pdfFilterPause = "\\f";
    settings.dir = tree.path("filtered");
    for (app::FileType type :
         {app::FileType::Word, app::FileType::Excel, app::FileType::PowerPoint})
        settings.fileTypes.setTarget(type, false);
    for (int i = 0; i < 6; ++i) {
        tree.write("filtered/f" + std::to_string(i) + ".pdf",
                   randomText(random, 5) + "\n" + randomText(random, 5) + "\n\f" +
                       platform::utf8ToCp932(randomText(random, 5)) + "\n");
    }
    expectSameFindings(6);
    test::RecordingHost host;
    search::SearchFlags flags;
    settings.textCache = true;
    settings.fileNameOnly = settings.regular = false;
    const SearchOutcome outcome = runSearchCommand(host, settings, flags, "東京", {});
    EXPECT_NE(outcome.summary.find("（キャッシュから6ﾌｧｲﾙ）"), std::string::npos)
        << outcome.summary;
}

}  // namespace
}  // namespace ferretta::run
