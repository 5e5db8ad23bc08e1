// The engine over real PDFs. tests/data/pdf/corpus (tools/make_pdf_corpus.sh: TeX,
// Ghostscript, LibreOffice, qpdf and MuPDF rewrites, encryption) and tests/data/pdf/handmade
// (broken and unusual structure): NAME.expected lists PAGE<TAB>WORD lines; every word must give
// a hit on that page, and a word after "-" none at all; a file whose list is empty is only
// searched. tests/data/pdf/producers (tools/make_pdf_producers.sh): poppler as the oracle.
// NAME.pdftotext holds `pdftotext -enc UTF-8`'s text, pages ended by form feeds; for every page
// the engine's text must contain poppler's, and a few words from poppler's page must hit that
// page. Compared without whitespace (U+3000 and U+00A0 included: the engine joins shown
// strings, poppler spaces them by position), with U+2010/U+2011 as "-" (poppler's name for
// Adobe-Japan1's hyphen where "-" was typed) and a Kangxi radical as its ideograph
// (wkhtmltopdf's ToUnicode names the radical for a glyph shared with the ideograph). Where only
// whole lines are ordered differently (headers, table cells) every poppler line must be in the
// engine's text; on vertical pages poppler reads across the columns, so only the characters are
// compared and no words are taken.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/engine/fonts/cid_map.h"
#include "pdf/engine/lookalike.h"
#include "pdf/engine/pdf_engine.h"
#include "pdf/engine/text_dump.h"
#include "platform/unicode.h"
#include "search/query.h"
#include "search/search_flags.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"
#include "support/test_context.h"

namespace ferretta::pdf {
namespace {

namespace fs = std::filesystem;

const fs::path folders[] = {fs::path(FERRETTA_TEST_DATA) / "pdf" / "corpus",
                            fs::path(FERRETTA_TEST_DATA) / "pdf" / "handmade",
                            fs::path(FERRETTA_TEST_DATA) / "pdf" / "producers"};

// The file NAME.pdf of whichever folder holds it, with `extension` for ".pdf".
fs::path fileOf(const std::string& name, const std::string& extension) {
    for (const fs::path& folder : folders) {
        if (fs::exists(folder / (name + ".pdf")))
            return folder / (name + extension);
    }
    return {};
}

// The names of the PDFs of every folder, or of the producers' only.
std::vector<std::string> fileNames(bool producersOnly = false) {
    std::vector<std::string> names;
    for (const fs::path& folder : folders) {
        if (producersOnly && folder != folders[2])
            continue;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (entry.path().extension() == ".pdf")
                names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// resources/AdobeCID.dat, loaded once for all files.
const CidTable& shippedCidTable() {
    static const CidTable table = [] {
        CidTable loaded;
        EXPECT_TRUE(loaded.p2tCIDInit(fs::path(FERRETTA_SOURCE_DIR) / "resources" / "AdobeCID.dat"))
            << "resources/AdobeCID.dat could not be loaded";
        return loaded;
    }();
    return table;
}

struct EngineRun {
    bool completed = false;
    std::int32_t pages = 0;
    test::RecordingHost host;
};

void runEngine(const fs::path& path, const std::string& word, EngineRun& run) {
    search::Matcher matcher(false, false);
    matcher.targetStrsSplit(word);
    search::SearchFlags flags;
    PdfEngine engine(test::contextOf(run.host, matcher, flags), shippedCidTable());
    run.completed = engine.p2tMain(path.string());
    run.pages = engine.pageCounter();
}

// Pages of vertical writing.
struct VerticalPage {
    std::string_view file;
    int page;
};
constexpr VerticalPage verticalPages[] = {
    {"lo_writer_ipaex", 3}, {"lo_writer_noto", 3}, {"chromium_ipaex", 3}, {"chromium_noto", 3}};

bool isVertical(std::string_view file, int page) {
    return std::any_of(std::begin(verticalPages), std::end(verticalPages),
                       [&](const VerticalPage& v) { return v.file == file && v.page == page; });
}

// Texts are compared as UTF-16: every character of these documents is in the BMP.

// The text as the comparison sees it: without whitespace, with the folds named at the top.
std::u16string withoutBlanks(std::u16string_view text) {
    std::u16string out;
    for (const char16_t c : text) {
        if (std::u16string_view(u" \t\n\r\f\v\u3000\u00a0").find(c) != std::u16string_view::npos)
            continue;
        if (c == u'\u2010' || c == u'\u2011')
            out += u'-';
        else if (c >= u'\u2f00' && c < u'\u2fd6')
            out += static_cast<char16_t>(unifyLookalike(c));  // all map into the BMP
        else
            out += c;
    }
    return out;
}

std::string utf8(std::u16string_view text) {
    return platform::utf16ToUtf8(text);
}

// Splits poppler's output into pages (each ended by a form feed; a last piece without one is
// what follows the last page and is dropped) and each page into lines.
std::vector<std::vector<std::u16string>> popplerPages(const fs::path& file) {
    const std::u16string text = platform::utf8ToUtf16(test::readFile(file));
    std::vector<std::vector<std::u16string>> pages;
    std::vector<std::u16string> lines;
    std::u16string line;
    for (const char16_t c : text) {
        if (c == u'\n' || c == u'\f') {
            if (!withoutBlanks(line).empty())
                lines.push_back(line);
            line.clear();
            if (c == u'\f') {
                pages.push_back(lines);
                lines.clear();
            }
        } else {
            line += c;
        }
    }
    return pages;
}

// Where `actual` stops containing a prefix of `expected`, with context, for a readable failure.
std::string firstDifference(std::u16string_view expected, std::u16string_view actual) {
    std::size_t prefix = 0;
    while (prefix < expected.size() &&
           actual.find(expected.substr(0, prefix + 1)) != std::u16string_view::npos)
        ++prefix;
    const std::size_t from = prefix > 12 ? prefix - 12 : 0;
    return "poppler's text differs at character " + std::to_string(prefix) + " of " +
           std::to_string(expected.size()) + ": \"" + utf8(expected.substr(from, prefix - from)) +
           "[HERE]" + utf8(expected.substr(prefix, 12)) + "\"";
}

// The characters of `expected` (each as often as it occurs) that `actual` does not hold.
std::u16string charactersMissing(std::u16string_view expected, std::u16string_view actual) {
    std::map<char16_t, int> available;
    for (const char16_t c : actual)
        ++available[c];
    std::u16string missing;
    for (const char16_t c : expected) {
        if (available[c] > 0)
            --available[c];
        else
            missing += c;
    }
    return missing;
}

// Runs of one script: the words a user would type. 0 for characters that are no word.
int scriptOf(char16_t c) {
    if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))
        return 1;
    if ((c >= u'\u4e00' && c <= u'\u9fff') || c == u'\u3005')
        return 2;  // kanji
    if (c >= u'\u3041' && c <= u'\u309f')
        return 3;  // hiragana
    if (c >= u'\u30a1' && c <= u'\u30ff')
        return 4;  // katakana, with the long-vowel mark
    if ((c >= u'\uff10' && c <= u'\uff19') || (c >= u'\uff21' && c <= u'\uff3a') ||
        (c >= u'\uff41' && c <= u'\uff5a'))
        return 5;  // full-width letters and digits
    if (c >= u'\uff66' && c <= u'\uff9f')
        return 6;  // half-width katakana
    return 0;
}

// Up to `count` search words from a page's lines: runs of one script, 2 to 6 characters (a
// longer run gives its first six), in order of appearance, words on no other page first, and
// of those one of each script before a second of any.
std::vector<std::u16string> wordsOf(const std::vector<std::u16string>& lines,
                                    const std::vector<std::u16string>& otherPages,
                                    std::size_t count) {
    std::vector<std::pair<int, std::u16string>> ranked;  // 0: unique, new script; 1; 2: shared
    std::vector<int> scriptsTaken;
    for (const std::u16string& line : lines) {
        for (std::size_t i = 0, end; i < line.size(); i = end) {
            const int script = scriptOf(line[i]);
            for (end = i + 1; end < line.size() && script != 0 && scriptOf(line[end]) == script;)
                ++end;
            const std::u16string word = line.substr(i, std::min<std::size_t>(end - i, 6));
            if (script == 0 || word.size() < 2 ||
                std::any_of(ranked.begin(), ranked.end(),
                            [&](auto& r) { return r.second == word; }))
                continue;
            const bool unique = std::none_of(otherPages.begin(), otherPages.end(), [&](auto& p) {
                return p.find(word) != std::u16string::npos;
            });
            const bool newScript =
                std::find(scriptsTaken.begin(), scriptsTaken.end(), script) == scriptsTaken.end();
            if (unique && newScript)
                scriptsTaken.push_back(script);
            ranked.emplace_back(unique ? (newScript ? 0 : 1) : 2, word);
        }
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](auto& a, auto& b) { return a.first < b.first; });
    std::vector<std::u16string> words;
    for (std::size_t k = 0; k < ranked.size() && k < count; ++k)
        words.push_back(ranked[k].second);
    return words;
}

// The engine's text of every page, as ferretta-cli --pdf-text prints it.
std::map<int, std::u16string> engineTextByPage(const fs::path& path) {
    std::string text;
    EXPECT_NO_THROW(dumpPdfText(path.string(), shippedCidTable(),
                                [&](std::string_view page) { text += page; }));
    std::map<int, std::u16string> pages;
    int page = 1;
    for (std::size_t start = 0, end; (end = text.find('\f', start)) != std::string::npos;
         start = end + 1) {
        pages[page++] = platform::utf8ToUtf16(text.substr(start, end - start));
    }
    return pages;
}

struct Expectation {
    std::string page;  // "-": on no page
    std::string word;
};

std::vector<Expectation> readExpectations(const fs::path& file) {
    std::vector<Expectation> lines;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto tab = line.find('\t');
        if (tab != std::string::npos)
            lines.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return lines;
}

// The words a file must yield: its NAME.expected, or up to five of each page of poppler's text
// (none from vertical pages).
std::vector<Expectation> expectationsOf(const std::string& name) {
    if (!fs::exists(fileOf(name, ".pdftotext")))
        return readExpectations(fileOf(name, ".expected"));
    const auto poppler = popplerPages(fileOf(name, ".pdftotext"));
    std::vector<std::u16string> pageTexts;
    for (const auto& lines : poppler) {
        std::u16string text;
        for (const auto& line : lines)
            text += withoutBlanks(line);
        pageTexts.push_back(text);
    }
    std::vector<Expectation> expectations;
    for (std::size_t index = 0; index < poppler.size(); ++index) {
        if (isVertical(name, static_cast<int>(index) + 1))
            continue;
        std::vector<std::u16string> others = pageTexts;
        others.erase(others.begin() + static_cast<std::ptrdiff_t>(index));
        for (const auto& word : wordsOf(poppler[index], others, 5))
            expectations.push_back({std::to_string(index + 1), utf8(word)});
    }
    return expectations;
}

class PdfFiles : public testing::TestWithParam<std::string> {};

TEST_P(PdfFiles, FindsEveryExpectedWordOnItsPage) {
    const std::string& name = GetParam();
    const fs::path path = fileOf(name, ".pdf");
    for (const auto& [page, word] : expectationsOf(name)) {
        SCOPED_TRACE(name + ".pdf page " + page + " word " + word);
        EngineRun run;
        ASSERT_NO_THROW(runEngine(path, word, run));
        EXPECT_TRUE(run.completed);
        bool onPage = false;
        int lastPage = 0;
        for (const auto& hit : run.host.rows) {
            EXPECT_EQ(hit.fileType, app::FileType::Pdf);
            EXPECT_EQ(hit.location, path.string());
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
TEST_P(PdfFiles, WalksEveryPageWithoutFalseHits) {
    const std::string& name = GetParam();
    const bool poppler = fs::exists(fileOf(name, ".pdftotext"));
    ASSERT_TRUE(poppler || fs::exists(fileOf(name, ".expected")));
    EngineRun run;
    ASSERT_NO_THROW(runEngine(fileOf(name, ".pdf"), "存在しない語zq", run));
    EXPECT_TRUE(run.host.rows.empty());
    if (name.ends_with("_password")) {
        // Protected by a password nobody typed: skipped, but counted as searched.
        EXPECT_TRUE(run.completed);
        EXPECT_EQ(run.pages, 0);
    }
    if (poppler) {
        EXPECT_TRUE(run.completed);
        EXPECT_EQ(run.pages,
                  static_cast<std::int32_t>(popplerPages(fileOf(name, ".pdftotext")).size()));
    }
}

class PopplerText : public testing::TestWithParam<std::string> {};

TEST_P(PopplerText, EngineTextContainsPopplersText) {
    const std::string& name = GetParam();
    const auto poppler = popplerPages(fileOf(name, ".pdftotext"));
    const auto engine = engineTextByPage(fileOf(name, ".pdf"));
    ASSERT_FALSE(poppler.empty()) << name << ".pdftotext is missing or empty";

    for (std::size_t index = 0; index < poppler.size(); ++index) {
        const int page = static_cast<int>(index) + 1;
        std::u16string expected;
        for (const auto& line : poppler[index])
            expected += withoutBlanks(line);
        if (expected.empty())
            continue;  // nothing stored as text on this page: only searched
        const auto found = engine.find(page);
        const std::u16string actual = found == engine.end() ? u"" : withoutBlanks(found->second);
        const std::u16string missing = charactersMissing(expected, actual);
        const std::size_t characters = expected.size() - missing.size();

        bool ok;
        std::string how;
        if (isVertical(name, page)) {
            ok = missing.empty();
            how = "characters";
        } else if (actual.find(expected) != std::u16string::npos) {
            ok = true;
            how = "whole";
        } else {
            ok = std::all_of(poppler[index].begin(), poppler[index].end(),
                             [&](const std::u16string& line) {
                                 return actual.find(withoutBlanks(line)) != std::u16string::npos;
                             });
            how = "lines";
        }
        EXPECT_TRUE(ok) << name << ".pdf page " << page << " (" << how << ", "
                        << characters * 100 / expected.size() << "% of the characters): "
                        << (how == "characters" ? "the engine lacks \"" + utf8(missing) + "\""
                                                : firstDifference(expected, actual));
    }
}

const auto nameOf = [](const testing::TestParamInfo<std::string>& file) { return file.param; };
INSTANTIATE_TEST_SUITE_P(Files, PdfFiles, testing::ValuesIn(fileNames()), nameOf);
INSTANTIATE_TEST_SUITE_P(Producers, PopplerText, testing::ValuesIn(fileNames(true)), nameOf);

}  // namespace
}  // namespace ferretta::pdf
