#include "pdf/frontends/pdf_filter_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace ferretta::pdf {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;
using PageHits = std::vector<std::pair<std::string, std::string>>;  // page, content

TEST(FilterCommandTest, PutsThePathIntoTheSplitTemplate) {
    struct Case {
        const char* filterTemplate;
        const char* path;
        std::optional<Words> argv;
    };
    const Case cases[] = {
        {"pdftotext -q -enc UTF-8 %1", "/d/a.pdf",
         Words{"pdftotext", "-q", "-enc", "UTF-8", "/d/a.pdf"}},
        // Blanks, quotes and shell text in a path never split it or run anything.
        {"conv '%1'", "/d/a b'$(x)\"c;d|e`f`.pdf", Words{"conv", "/d/a b'$(x)\"c;d|e`f`.pdf"}},
        {"'/opt/my conv/run' --in=%1 %1", "/d/a.pdf",
         Words{"/opt/my conv/run", "--in=/d/a.pdf", "/d/a.pdf"}},
        // %2 is the text file the search reads, whatever the PDF's extension.
        {"pdftotext %1 %2", "/d/a.Pdf", Words{"pdftotext", "/d/a.Pdf", "/d/a.txt"}},
        {"pdftotext %1 %2", "/d.x/a", Words{"pdftotext", "/d.x/a", "/d.x/a.txt"}},
        // Placeholders inside a path are not replaced again; a template without them runs
        // unchanged.
        {"conv %1 %2", "/d/%2%1.pdf", Words{"conv", "/d/%2%1.pdf", "/d/%2%1.txt"}},
        {"conv-all --now", "/d/a.pdf", Words{"conv-all", "--now"}},
        {"conv \"%1", "/d/a.pdf", std::nullopt},
        {"", "/d/a.pdf", std::nullopt},
        {" \t", "/d/a.pdf", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(filterCommand(c.filterTemplate, c.path), c.argv) << c.filterTemplate;
}

using test::readFile;
using test::writeFile;

// A folder of the user's with a PDF, and beside it a filter script that records its arguments
// and the user's folder as it sees it, and copies out.bin to where the PDF's text belongs.
class PdfFilterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_pdf = (m_docs / "a.pdf").string();
        writeFile(m_pdf, "%PDF-1.4\n");
        m_matcher.targetStrsSplit("alpha ファイル");
        setFilter("cat '" + (m_dir / "out.bin").string() + "' > \"${1%.*}.txt\"");
    }

    void setFilter(const std::string& body) {
        const fs::path script = m_dir / "filter.sh";
        writeFile(script, "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done >> '" +
                              (m_dir / "args.log").string() + "'\nls -A '" + m_docs.string() +
                              "' > '" + (m_dir / "seen.ls").string() + "'\n" + body + "\n");
        m_settings.pdfFilterPath = "sh '" + script.string() + "' %1";
    }

    bool search(const std::string& path) {
        PdfFilterSearcher searcher({m_host, m_settings, m_matcher, m_flags});
        searcher.setWorkParent(m_dir / "work");
        return searcher.find_pdfFilter(path);
    }

    PageHits hits() const {
        PageHits out;
        for (const auto& row : m_host.rows) {
            EXPECT_EQ(row.fileType, app::FileType::Pdf);
            EXPECT_EQ(row.location, m_pdf);
            out.emplace_back(row.position, row.content);
        }
        return out;
    }

    // The names in the user's folder, and in the work folders' place, after a search.
    static std::vector<std::string> names(const fs::path& folder) {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    test::TempTree m_tree;
    fs::path m_dir = m_tree.root();
    fs::path m_docs = m_dir / "docs";
    std::string m_pdf;
    test::RecordingHost m_host;
    app::Settings m_settings;
    search::Matcher m_matcher{false, false};
    search::SearchFlags m_flags;
};

TEST_F(PdfFilterTest, CountsPagesBySeparatorLines) {
    struct Case {
        const char* pause;
        std::string output;
        PageHits expected;
    };
    const Case cases[] = {
        // pdftotext: a form feed ends every page, glued to the next page's first line.
        {"\\f",
         "x alpha\r\n\r\nalpha y\n\fpage two alpha\n\f\fpage four\nalpha end\n\f",
         {{"1", "x alpha"}, {"1", "alpha y"}, {"2", "page two alpha"}, {"4", "alpha end"}}},
        // Separator lines are never reported, even when they hold a search word.
        {"^== alpha ==$",
         "alpha 1\n== alpha ==\nalpha 2\n== alpha ==\n== alpha ==\nalpha 4",
         {{"1", "alpha 1"}, {"2", "alpha 2"}, {"4", "alpha 4"}}},
        // No pattern: no page breaks.
        {"", "alpha\n\falpha\n", {{"1", "alpha"}, {"1", "alpha"}}},
        // Text in the ANSI code page, and UTF-8 after a long stretch of ASCII, both found.
        {"\\f",
         "\x83t\x83@\x83"
         "C\x83\x8b\n\f" +
             std::string(70000, 'x') + "\nファイル\n",
         {{"1", "ファイル"}, {"2", "ファイル"}}},
        {"\\f",
         std::string("\xFF\xFE"
                     "a\0l\0p\0h\0a\0\n\0\x0C\0a\0l\0p\0h\0a\0",
                     26),
         {{"1", "alpha"}, {"2", "alpha"}}},
    };
    for (const Case& c : cases) {
        m_host.rows.clear();
        m_settings.pdfFilterPause = c.pause;
        writeFile(m_dir / "out.bin", c.output);
        EXPECT_TRUE(search(m_pdf)) << c.pause;
        EXPECT_EQ(hits(), c.expected) << c.pause;
        EXPECT_TRUE(m_host.messages.empty());
    }
}

// The filter gets a link to the PDF in a folder of the search's own, named for the PDF.
TEST_F(PdfFilterTest, ThePathReachesTheFilterAsOneArgument) {
    const fs::path folder = m_docs / "my docs $(touch pwned)";
    m_pdf = (folder / "a b'c\".Pdf").string();
    writeFile(m_pdf, "%PDF");
    writeFile(m_dir / "out.bin", "alpha\n");
    EXPECT_TRUE(search(m_pdf));
    const std::string args = readFile(m_dir / "args.log");
    EXPECT_TRUE(args.starts_with("[" + (m_dir / "work" / "run-").string())) << args;
    EXPECT_TRUE(args.ends_with("/a b'c\".pdf]\n")) << args;
    EXPECT_EQ(std::count(args.begin(), args.end(), '\n'), 1) << args;
    EXPECT_EQ(hits(), (PageHits{{"1", "alpha"}}));
    EXPECT_FALSE(fs::exists(m_dir / "pwned"));
    EXPECT_FALSE(fs::exists("pwned"));
}

// The user's a.txt stays where it is, untouched, while the filter runs and after every way a
// run can end; nothing is left in the user's folder or in the work folder.
TEST_F(PdfFilterTest, TheUsersTextFileIsNeverTouched) {
    std::string lines;
    for (int i = 0; i < 2000; ++i)
        lines += "alpha\n";
    writeFile(m_dir / "out.bin", lines);
    const std::string copy = "cat '" + (m_dir / "out.bin").string() + "' > \"${1%.*}.txt\"";
    struct Case {
        const char* name;
        std::string body;  // empty: a program that does not exist
        bool stopOnFirstHit;
        bool stopWhileWaiting;
        bool result;
        std::size_t hits;
        const char* message;
    };
    const Case cases[] = {
        {"success", copy, false, false, true, 2000, nullptr},
        {"failure after writing", copy + "; exit 3", false, false, true, 2000, nullptr},
        {"failure, no output", "exit 3", false, false, false, 0, filterRunErrorText.data()},
        {"a folder made at the name", "mkdir -p \"${1%.*}.txt/sub\"", false, false, false, 0,
         filterRunErrorText.data()},
        {"not startable", "", false, false, false, 0, filterStartErrorText.data()},
        {"stopped while reading", copy, true, false, false, 500, nullptr},
        {"stopped while waiting", copy + "; sleep 30", false, true, false, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_host = test::RecordingHost();
        m_flags = search::SearchFlags();
        writeFile(m_docs / "a.txt", "the user's own notes\n");
        fs::remove(m_dir / "seen.ls");
        if (c.body.empty()) {
            m_settings.pdfFilterPath = "no-such-filter-program %1";
        } else {
            setFilter(c.body);
        }
        m_host.onDoEvents = [&] {
            if ((c.stopOnFirstHit && !m_host.rows.empty()) ||
                (c.stopWhileWaiting && !readFile(m_dir / "seen.ls").empty())) {
                m_flags.isAbort = true;
            }
        };
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(search(m_pdf), c.result);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(m_host.rows.size(), c.hits);
        ASSERT_EQ(m_host.messages.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(m_host.messages[0].text, c.message);
        }
        if (!c.body.empty()) {
            EXPECT_EQ(readFile(m_dir / "seen.ls"), "a.pdf\na.txt\n");
        }
        EXPECT_EQ(readFile(m_docs / "a.txt"), "the user's own notes\n");
        EXPECT_EQ(names(m_docs), (std::vector<std::string>{"a.pdf", "a.txt"}));
        EXPECT_TRUE(fs::is_empty(m_dir / "work"));
    }
}

TEST_F(PdfFilterTest, TellsAFilterThatCannotStartOncePerSearch) {
    const fs::path second = m_dir / "b.pdf";
    writeFile(second, "%PDF");
    for (const char* filterTemplate : {"no-such-filter-program %1", "conv \"%1", ""}) {
        m_host.messages.clear();
        m_flags.filterErrorShown = false;  // what the search command does at every start
        m_settings.pdfFilterPath = filterTemplate;
        EXPECT_FALSE(search(m_pdf));
        EXPECT_FALSE(search(second.string()));
        SCOPED_TRACE(filterTemplate);
        test::expectOneMessage(m_host, filterStartErrorText, app::MessageStyle::Exclamation);
    }
    // Missing output and a broken page pattern are told for every file.
    for (const char* pause : {"", "("}) {
        m_host.messages.clear();
        m_settings.pdfFilterPause = pause;
        setFilter(*pause ? "cat /dev/null > \"${1%.*}.txt\"" : "exit 0");
        EXPECT_FALSE(search(m_pdf));
        EXPECT_FALSE(search(second.string()));
        ASSERT_EQ(m_host.messages.size(), 2u) << pause;
        EXPECT_EQ(m_host.messages[1].text, filterRunErrorText);
    }
    EXPECT_THROW(PdfFilterSearcher({m_host, m_settings, m_matcher, m_flags}).isPageSeparator("x"),
                 Error);
}

TEST_F(PdfFilterTest, AStoppedFilterThatIgnoresTerminationIsKilled) {
    const fs::path ready = m_dir / "ready";
    setFilter("trap '' TERM; : > '" + ready.string() + "'; sleep 30 & wait; sleep 30");
    m_host.onDoEvents = [&] { m_flags.isAbort = fs::exists(ready); };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(search(m_pdf));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::seconds(2));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    EXPECT_TRUE(m_host.messages.empty());
}

}  // namespace
}  // namespace ferretta::pdf
