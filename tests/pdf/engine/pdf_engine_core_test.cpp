// The engine from file to hits: cross-reference sections, object and cross-reference streams,
// the repair scan, the page walk, content streams, abort, and the hand-made PDFs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pdf/engine/pdf_engine.h"
#include "pdf/engine/pdf_test_support.h"
#include "pdf/engine/text_dump.h"
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

TEST(PdfEngine, ReportsOneHitPerStreamWithPageAndProgress) {
    test::PdfBuilder pdf;
    pdf.pages("3 0 R 4 0 R", 2)
        .page(3, "5 0 R")
        .page(4, "[6 0 R 7 0 R]")
        .stream(5, "BT (nothing here) Tj ET")
        .stream(6, "BT (word one) Tj (word two) Tj ET")
        .stream(7, "BT [(wo) 10 (rd)] TJ ET");
    const std::string path = test::writeTemp("report.pdf", pdf.build());
    auto run = searchFile(path, "word");
    EXPECT_TRUE(run->result);
    ASSERT_EQ(run->host.rows.size(), 2u);
    EXPECT_EQ(run->host.rows[0].fileType, app::FileType::Pdf);
    EXPECT_EQ(run->host.rows[0].name, "report.pdf");
    EXPECT_EQ(run->host.rows[0].content, "word oneword two");
    EXPECT_EQ(run->host.rows[0].location, path);
    EXPECT_EQ(pagesOf(*run), (std::vector<std::string>{"2", "2"}));
    EXPECT_EQ(run->host.captions, std::vector<std::string>{path});
    EXPECT_EQ(run->host.progressTexts,
              (std::vector<std::string>{"検索中...report.pdf(1/2)", "検索中...report.pdf(2/2)"}));
}

// The text dump: every page ends with a form feed, one in the text is a blank, and a page
// without contents is an empty page.
TEST(PdfEngine, TextDumpEndsEveryPageWithAFormFeed) {
    test::PdfBuilder pdf;
    pdf.pages("3 0 R 4 0 R 5 0 R", 3)
        .page(3, "[6 0 R 7 0 R]")
        .object(4, "<< /Type /Page /Parent 2 0 R >>")
        .page(5, "7 0 R")
        .stream(6, "(a\\fb) Tj")
        .stream(7, "(c) Tj");
    const std::string bytes = pdf.build();
    const std::string_view view(bytes);
    std::string text;
    EXPECT_TRUE(dumpPdfText(
        "d.pdf", test::testCidTable(), [&](std::string_view page) { text += page; }, &view));
    EXPECT_EQ(text, "a b\nc\f\fc\f");
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

std::string xrefStreamFile(bool hybrid) {
    // Objects 1-3 in an object stream (object 5), the content in object 4; index in object 6.
    const std::string members[] = {"<< /Type /Catalog /Pages 2 0 R >>",
                                   "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                   "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>"};
    std::string header, body;
    for (int i = 0; i < 3; ++i) {
        header += std::to_string(i + 1) + " " + std::to_string(body.size()) + " ";
        body += members[i] + " ";
    }
    std::string out = "%PDF-1.5\n";
    const std::size_t at4 = out.size();
    out += "4 0 obj\n<< /Length 16 >>\nstream\n(xrefstream) Tj \nendstream\nendobj\n";
    const std::size_t at5 = out.size();
    const std::string objstm = header + body;
    out += "5 0 obj\n<< /Type /ObjStm /N 3 /First " + std::to_string(header.size()) + " /Length " +
           std::to_string(objstm.size()) + " >>\nstream\n" + objstm + "\nendstream\nendobj\n";
    const std::size_t at6 = out.size();
    auto entry = [](int type, std::size_t field, int third) {
        std::string e(1, static_cast<char>(type));
        e += static_cast<char>((field >> 8) & 0xFF);
        e += static_cast<char>(field & 0xFF);
        e += static_cast<char>(third);
        return e;
    };
    std::string rows = entry(0, 0, 0) + entry(2, 5, 0) + entry(2, 5, 1) + entry(2, 5, 2) +
                       entry(1, at4, 0) + entry(1, at5, 0) + entry(1, at6, 0);
    out +=
        "6 0 obj\n<< /Type /XRef /Size 7 /W [1 2 1] /Index [0 7] /DecodeParms << /Columns 4 >> "
        "/Root 1 0 R /Length " +
        std::to_string(rows.size()) + " >>\nstream\n" + rows + "\nendstream\nendobj\n";
    if (!hybrid)
        return out + "startxref\n" + std::to_string(at6) + "\n%%EOF\n";
    // A classic table that lists only the plain objects and points at the stream with /XRefStm.
    const std::size_t table = out.size();
    char row[32];
    out += "xref\n0 1\n0000000000 65535 f \n4 1\n";
    std::snprintf(row, sizeof row, "%010zu 00000 n \n", at4);
    out += row;
    out += "trailer\n<< /Size 7 /Root 1 0 R /XRefStm " + std::to_string(at6) + " >>\nstartxref\n" +
           std::to_string(table) + "\n%%EOF\n";
    return out;
}

// The file without any cross-reference, and a second object 4 after the first: the repair scan.
std::string withNewerObject4(std::string bytes, const std::string& content) {
    bytes.resize(bytes.rfind("xref\n0 "));
    return bytes + "4 0 obj\n<< /Length " + std::to_string(content.size()) + " >>\nstream\n" +
           content + "\nendstream\nendobj\n";
}

// How the file is laid out decides where objects are found; every layout reads its text (more
// layouts are among the hand-made files of the corpus: an incremental update, an indirect
// length, object streams).
TEST(PdfEngine, FindsTheTextOfEveryLayout) {
    const std::string flate = test::deflate("BT (deflated text) Tj ET");
    test::PdfBuilder filtered;
    filtered.pages("3 0 R 7 0 R 4 0 R", 3)
        .page(3, "5 0 R")
        .page(4, "6 0 R")
        .object(7, "<< /Type /Page /Parent 2 0 R >>")  // no contents
        .stream(5, flate, " /Filter /FlateDecode")
        .stream(6, test::hexOf(flate), " /Filter [/ASCIIHexDecode /FlateDecode]");
    test::PdfBuilder plain;
    plain.pages("3 0 R", 1).page(3, "4 0 R").stream(4, "(old words) Tj");
    const std::string good = plain.build();
    std::string prevLoop = good;
    prevLoop.replace(prevLoop.find("/Root 1 0 R"), 11,
                     "/Root 1 0 R /Prev " + std::to_string(good.rfind("xref\n0 ")));
    const std::string noStartxref = good.substr(0, good.rfind("startxref"));
    std::string badStartxref = good;
    badStartxref.replace(badStartxref.rfind("startxref\n") + 10, 1, "9");
    test::PdfBuilder loops;
    loops.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [5 0 R 3 0 R 3 0 R 2 0 R 9 0 R] /Count 2 >>")
        .object(5, "<< /Type /Pages /Kids [2 0 R 4 0 R] /Count 1 >>")
        .page(3, "6 0 R")
        .page(4, "6 0 R")
        .stream(6, "(old) Tj");
    std::string brokenXrefStream = xrefStreamFile(false);
    brokenXrefStream.replace(brokenXrefStream.rfind("startxref\n") + 10, 1, "1");
    // With its cross-reference stream unreachable, an encrypted file's trailer is that
    // stream's dictionary, found by the scan: /Encrypt and /ID come from there.
    std::string encrypted = test::readFile(FERRETTA_TEST_DATA "/pdf/corpus/tex_ja_aes128.pdf");
    encrypted.resize(encrypted.rfind("startxref"));
    using Pages = std::vector<std::string>;
    struct Case {
        const char* name;
        std::string bytes;
        const char* word;
        Pages pages;
    };
    const Case cases[] = {
        {"flate, a filter array, a page without contents",
         filtered.build(),
         "deflated",
         {"1", "3"}},
        {"/Prev loop", prevLoop, "old", {"1"}},
        {"no startxref", noStartxref, "old", {"1"}},
        {"startxref elsewhere", badStartxref, "old", {"1"}},
        {"no trailer", noStartxref.substr(0, noStartxref.rfind("xref\n0 ")), "old", {"1"}},
        {"repair: later object wins", withNewerObject4(good, "(new words) Tj"), "new", {"1"}},
        {"repair: earlier object hidden", withNewerObject4(good, "(new words) Tj"), "old", {}},
        {"page tree loops, repeated kids", loops.build(), "old", {"1", "2"}},
        {"hybrid file", xrefStreamFile(true), "xrefstream", {"1"}},
        {"object stream by the repair scan", brokenXrefStream, "xrefstream", {"1"}},
        {"encrypted, by the repair scan", encrypted, "keyword", {"1"}},
    };
    for (const Case& c : cases) {
        auto run = searchBytes(c.bytes, c.word);
        EXPECT_TRUE(run->result) << c.name;
        EXPECT_EQ(pagesOf(*run), c.pages) << c.name;
    }
}

}  // namespace
}  // namespace ferretta::pdf
