// The engine from file to hits where the generated files do not go: files it cannot read, a
// stop, loops in the file's structure, an encrypted file found by the repair scan. (How every
// layout, filter and font is read: pdf_generated_test.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "pdf/engine/pdf_engine.h"
#include "pdf/engine/pdf_test_support.h"
#include "platform/error.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"
#include "support/test_context.h"

namespace ferretta::pdf {
namespace {

struct Run {
    bool result = false;
    test::RecordingHost host;
};

// Searches the file at `path`, or `bytes` (when given) as that file.
std::unique_ptr<Run> searchFile(
    const std::string& path, const std::string& query,
    std::function<void(test::RecordingHost&, search::SearchFlags&)> hook = {},
    const std::string* bytes = nullptr) {
    auto run = std::make_unique<Run>();
    search::Matcher matcher(false, false);
    matcher.targetStrsSplit(query);
    search::SearchFlags flags;
    if (hook)
        hook(run->host, flags);
    PdfEngine engine(test::contextOf(run->host, matcher, flags), test::testCidTable());
    run->result = bytes ? engine.p2tMain(path, *bytes) : engine.p2tMain(path);
    return run;
}

std::unique_ptr<Run> searchBytes(const std::string& bytes, const std::string& query) {
    return searchFile("case.pdf", query, {}, &bytes);
}

std::vector<std::string> pagesOf(const Run& run) {
    std::vector<std::string> pages;
    for (const auto& row : run.host.rows)
        pages.push_back(row.position);
    return pages;
}

TEST(PdfEngine, FailedLookupsEndTheFileQuietly) {
    struct Case {
        std::string name;
        std::string bytes;
    };
    test::PdfBuilder noCount;
    noCount.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] >>")
        .page(3, "4 0 R")
        .stream(4, "(x) Tj");
    test::PdfBuilder unknownFilter;
    unknownFilter.pages("3 0 R", 1).page(3, "4 0 R").stream(4, "xx", " /Filter /JBIG2Decode");
    test::PdfBuilder noLength;
    noLength.pages("3 0 R", 1).page(3, "4 0 R").object(4, "<< >>\nstream\n(x) Tj\nendstream");
    test::PdfBuilder badKids;
    badKids.pages("3 0 R oops 0 R", 2).page(3, "4 0 R").stream(4, "(x) Tj");
    const std::vector<Case> cases = {
        {"empty", ""},
        {"garbage", "not a pdf at all"},
        {"no count", noCount.build()},
        {"unknown filter", unknownFilter.build()},
        {"no length", noLength.build()},
        {"bad kids", badKids.build()},
    };
    for (const Case& c : cases) {
        // Searched as far as it can be read: it counts as searched.
        auto run = searchBytes(c.bytes, "x");
        EXPECT_TRUE(run->result) << c.name;
    }
    // Hits reported before the failure stay.
    auto run = searchBytes(badKids.build(), "x");
    EXPECT_EQ(pagesOf(*run), std::vector<std::string>{"1"});
}

TEST(PdfEngine, UnreadableFileThrows) {
    try {
        searchFile((test::tempDir() / "missing.pdf").string(), "x");
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), Error::Kind::FileOpen);
    }
}

TEST(PdfEngine, AbortMidFileKeepsEarlierHits) {
    test::PdfBuilder pdf;
    std::string kids;
    for (int i = 0; i < 12; ++i) {
        kids += std::to_string(10 + i) + " 0 R ";
        pdf.page(10 + i, std::to_string(30 + i) + " 0 R").stream(30 + i, "(hit) Tj");
    }
    pdf.pages(kids, 12);
    const std::string path = test::writeTemp("abort.pdf", pdf.build());
    auto run = searchFile(path, "hit", [](test::RecordingHost& host, search::SearchFlags& flags) {
        host.onDoEvents = [&flags] { flags.isAbort = true; };
    });
    EXPECT_FALSE(run->result);
    // The yield comes every fifth stream; the stop is seen right after.
    EXPECT_EQ(run->host.rows.size(), 5u);
    EXPECT_EQ(run->host.doEventsCalls, 1);
}

// Loops in the file's structure end; a trailer found by the scan still brings the encryption.
TEST(PdfEngine, LoopsAndTheScanOfAnEncryptedFile) {
    test::PdfBuilder plain;
    plain.pages("3 0 R", 1).page(3, "4 0 R").stream(4, "(old words) Tj");
    std::string prevLoop = plain.build();
    prevLoop.replace(prevLoop.find("/Root 1 0 R"), 11,
                     "/Root 1 0 R /Prev " + std::to_string(prevLoop.rfind("xref\n0 ")));
    test::PdfBuilder loops;
    loops.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [5 0 R 3 0 R 3 0 R 2 0 R 9 0 R] /Count 2 >>")
        .object(5, "<< /Type /Pages /Kids [2 0 R 4 0 R] /Count 1 >>")
        .page(3, "6 0 R")
        .page(4, "6 0 R")
        .stream(6, "(old) Tj");
    // With its cross-reference stream unreachable, an encrypted file's trailer is that
    // stream's dictionary, found by the scan: /Encrypt and /ID come from there.
    std::string encrypted = test::readFile(FERRETTA_TEST_DATA "/pdf/corpus/tex_ja_aes128.pdf");
    encrypted.resize(encrypted.rfind("startxref"));
    using Pages = std::vector<std::string>;
    const std::tuple<const char*, std::string, const char*, Pages> cases[] = {
        {"/Prev loop", prevLoop, "old", {"1"}},
        {"page tree loops, repeated kids", loops.build(), "old", {"1", "2"}},
        {"encrypted, by the repair scan", encrypted, "keyword", {"1"}},
    };
    for (const auto& [name, bytes, word, pages] : cases) {
        auto run = searchBytes(bytes, word);
        EXPECT_TRUE(run->result) << name;
        EXPECT_EQ(pagesOf(*run), pages) << name;
    }
}

}  // namespace
}  // namespace ferretta::pdf
