// Strings read by the current font: Tf with q/Q in the content stream, and the page's font
// resources resolved (inherited, indirect, broken) into how a Type0 Identity font's strings
// are read. The test CID table maps 0x034B to あ, 0x034D to い and 0x0001 to a space.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pdf/engine/content_stream.h"
#include "pdf/engine/pdf_engine.h"
#include "pdf/engine/pdf_test_support.h"
#include "support/recording_host.h"

namespace ferretta::pdf {
namespace {

class FakeFonts final : public FontSource {
  public:
    FontCoding codingOf(std::string_view fontName) override {
        asked.emplace_back(fontName);
        const auto it = codings.find(std::string(fontName));
        return it == codings.end() ? FontCoding::Default : it->second;
    }
    std::map<std::string, FontCoding> codings{{"/CJK", FontCoding::TwoByteCids},
                                              {"/F1", FontCoding::Default}};
    std::vector<std::string> asked;
};

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

TEST(FontText, StringsFollowTheCurrentFont) {
    struct Case {
        std::string stream;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"/CJK 1 Tf (\\003K\\003M) Tj", "あい"},
        {"/CJK 1 Tf (\\003K\\003) Tj", "あ"},  // a trailing odd byte is ignored
        {"/CJK 1 Tf (\\000\\001) Tj", " "},    // NUL bytes are part of the CIDs
        {"/CJK 1 Tf [(\\003K) -50 <034D>] TJ (\\003M) ' 1 2 (\\003K) \"", "あいいあ"},
        {"/CJK 1 Tf <034B034D> Tj", "あい"},
        {"/F1 1 Tf <034B> Tj", "あ"},  // hex strings stay CIDs under a simple font
        {"/F1 1 Tf (abc) Tj", "abc"},
        {"(\\003K) Tj", "\x03K"},  // no font selected
        {"/Unknown 1 Tf (\\003K) Tj", "\x03K"},
        {"/CJK 1 Tf /F1 1 Tf (ab) Tj", "ab"},
        {"/CJK 1 Tf 1 Tf (\\003K) Tj", "あ"},  // Tf without a name changes nothing
        {"/C#4AK 1 Tf (\\003K) Tj", "あ"},     // name escapes
        {"BT /CJK 1 Tf ET BT (\\003K) Tj ET", "あ"},
        // q saves the font and Q restores it; a Q without a q changes nothing.
        {"/F1 1 Tf q /CJK 1 Tf (\\003K) Tj Q (\\003K) Tj", "あ\x03K"},
        {"q /CJK 1 Tf q /F1 1 Tf Q (\\003M) Tj Q (\\003M) Tj", "い\x03M"},
        {"/CJK 1 Tf Q Q (\\003K) Tj", "あ"},
        // CP932 bytes pending before a CID string are converted first.
        {"(ab) Tj /CJK 1 Tf (\\003K) Tj /F1 1 Tf (cd) Tj", "abあcd"},
        // Past the saved depth, Q leaves the font until the depth is back within it.
        {repeat("q ", 300) + "/CJK 1 Tf " + repeat("Q ", 10) + "(\\003K) Tj", "あ"},
        {repeat("q ", 300) + "/CJK 1 Tf " + repeat("Q ", 300) + "(\\003K) Tj", "\x03K"},
        {"/CJK 1 Tf <</F1 1>> BDC (\\003K) Tj EMC", "あ"},
    };
    ContentTextExtractor extractor(test::testCidTable());
    FakeFonts fonts;
    for (const Case& c : cases) {
        extractor.beginPage(&fonts);
        EXPECT_EQ(extractor.extract(c.stream), c.text) << c.stream;
    }
}

TEST(FontText, FontHoldsAcrossStreamsOfAPageButNotIntoTheNext) {
    ContentTextExtractor extractor(test::testCidTable());
    FakeFonts fonts;
    extractor.beginPage(&fonts);
    EXPECT_EQ(extractor.extract("q /CJK 1 Tf"), "");
    EXPECT_EQ(extractor.extract("(\\003K) Tj Q (\\003K) Tj"), "あ\x03K");
    extractor.extract("/CJK 1 Tf");
    extractor.beginPage(&fonts);
    EXPECT_EQ(extractor.extract("(\\003K) Tj"), "\x03K");
    extractor.beginPage(nullptr);
    EXPECT_EQ(extractor.extract("/CJK 1 Tf (\\003K) Tj"), "\x03K");
    EXPECT_EQ(fonts.asked, (std::vector<std::string>{"/CJK", "/CJK"}));
}

// --- the engine: font resources of real files -------------------------------------------

constexpr const char* cidShow = "(mark) Tj /R8 1 Tf (\\003K\\003M) Tj";

std::string type0Font(const std::string& encoding, const std::string& descendants) {
    return "<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding " + encoding +
           (descendants.empty() ? "" : " /DescendantFonts " + descendants) + " >>";
}

std::string cidFont(const std::string& systemInfo) {
    return "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /X /CIDSystemInfo " + systemInfo +
           " >>";
}

constexpr const char* japan1 = "<< /Registry (Adobe) /Ordering (Japan1) /Supplement 6 >>";

// The text of every content stream, in page order (all streams show "mark").
std::vector<std::string> streamTexts(const std::string& bytes) {
    test::RecordingHost host;
    search::Matcher matcher(false, false);
    matcher.targetStrsSplit("mark");
    search::SearchFlags flags;
    PdfEngine engine(host, matcher, flags, test::testCidTable());
    engine.p2tMain(test::writeTemp("font.pdf", bytes));
    std::vector<std::string> texts;
    for (const auto& row : host.rows)
        texts.push_back(row.position + ":" + row.content);
    return texts;
}

// One page (3) showing cidShow with /Resources `resources`; the objects from 10 on are given.
std::string onePage(const std::string& resources, const std::map<int, std::string>& objects) {
    test::PdfBuilder pdf;
    pdf.pages("3 0 R", 1)
        .object(3, "<< /Type /Page /Parent 2 0 R /Resources " + resources + " /Contents 4 0 R >>")
        .stream(4, cidShow);
    for (const auto& [number, body] : objects)
        pdf.object(number, body);
    return pdf.build();
}

TEST(FontResources, WhichFontsAreReadAsTwoByteCids) {
    const std::string cids = "1:markあい";
    const std::string bytes = "1:mark\x03K\x03M";
    struct Case {
        std::string name;
        std::string resources;
        std::map<int, std::string> objects;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"Identity-H, Japan1, all indirect",
         "<< /Font 10 0 R >>",
         {{10, "<< /R8 11 0 R >>"},
          {11, type0Font("/Identity-H", "[12 0 R]")},
          {12, cidFont("13 0 R")},
          {13, japan1}},
         cids},
        {"Identity-V, inline dictionaries",
         "<< /Font << /R8 << /Subtype /Type0 /Encoding /Identity-V /DescendantFonts [<< "
         "/Subtype /CIDFontType0 /CIDSystemInfo " +
             std::string(japan1) + " >>] >> >> >>",
         {},
         cids},
        {"indirect resources, descendants and ordering",
         "10 0 R",
         {{10, "<< /Font << /R8 11 0 R >> >>"},
          {11, type0Font("/Identity-H", "14 0 R")},
          {14, "[12 0 R]"},
          {12, cidFont("<< /Ordering 15 0 R >>")},
          {15, "(Japan1)"}},
         cids},
        {"hex ordering",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, type0Font("/Identity-H", "[" + cidFont("<< /Ordering <4A6170616E31> >>") + "]")}},
         cids},
        {"no descendants: ordering unknown",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, type0Font("/Identity-H", "")}},
         cids},
        {"descendant unreachable",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, type0Font("/Identity-H", "[99 0 R]")}},
         cids},
        {"other ordering",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, type0Font("/Identity-H", "[" + cidFont("<< /Ordering (Identity) >>") + "]")}},
         bytes},
        {"other ordering, GB1",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, type0Font("/Identity-H", "[" + cidFont("<< /Ordering (GB1) >>") + "]")}},
         bytes},
        {"predefined CMap",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, type0Font("/90ms-RKSJ-H", "[" + cidFont(japan1) + "]")}},
         bytes},
        {"embedded CMap",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, type0Font("12 0 R", "[" + cidFont(japan1) + "]")},
          {12, "<< /Length 0 >>\nstream\n\nendstream"}},
         bytes},
        {"simple font",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>"}},
         bytes},
        {"font name not in resources",
         "<< /Font << /R9 11 0 R >> >>",
         {{11, type0Font("/Identity-H", "")}},
         bytes},
        {"missing resources object", "99 0 R", {}, bytes},
        {"missing font object", "<< /Font << /R8 99 0 R >> >>", {}, bytes},
        {"font reference loop",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, "12 0 R"}, {12, "11 0 R"}},
         bytes},
        {"resources reference to itself", "10 0 R", {{10, "10 0 R"}}, bytes},
        {"font dictionary is a number", "<< /Font 10 0 R >>", {{10, "42"}}, bytes},
        {"font is an array", "<< /Font << /R8 [1 2 3] >> >>", {}, bytes},
        {"broken font object",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, "<< /Subtype /Type0 /Encoding"}},
         bytes},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(streamTexts(onePage(c.resources, c.objects)), std::vector<std::string>{c.text})
            << c.name;
    }
}

TEST(FontResources, InheritedFromThePagesNodes) {
    const std::string font = "<< /Font << /R8 11 0 R >> >>";
    test::PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [5 0 R 8 0 R] /Count 3 /Resources " + font + " >>")
        .object(5, "<< /Type /Pages /Parent 2 0 R /Kids [6 0 R] /Count 1 >>")
        .object(6, "<< /Type /Page /Parent 5 0 R /Contents 4 0 R >>")  // from the root
        .object(8,
                "<< /Type /Pages /Parent 2 0 R /Kids [9 0 R 3 0 R] /Count 2 "
                "/Resources << /Font << /R8 12 0 R >> >> >>")
        .object(9, "<< /Type /Page /Parent 8 0 R /Contents 4 0 R >>")  // nearest node wins
        .object(3, "<< /Type /Page /Parent 8 0 R /Resources " + font +
                       " /Contents 4 0 R >>")  // its own
        .stream(4, cidShow)
        .object(11, type0Font("/Identity-H", "[" + cidFont(japan1) + "]"))
        .object(12, "<< /Subtype /Type1 /BaseFont /Courier >>");
    EXPECT_EQ(streamTexts(pdf.build()),
              (std::vector<std::string>{"1:markあい", "2:mark\x03K\x03M", "3:markあい"}));
}

TEST(FontResources, SharedFontsAndSeveralStreams) {
    const std::string resources = " /Resources << /Font << /R8 11 0 R /T 12 0 R >> >>";
    test::PdfBuilder pdf;
    pdf.pages("3 0 R 4 0 R", 2)
        .object(3, "<< /Type /Page /Parent 2 0 R" + resources + " /Contents [5 0 R 6 0 R] >>")
        .object(4, "<< /Type /Page /Parent 2 0 R" + resources + " /Contents [6 0 R 7 0 R] >>")
        .stream(5, "BT (mark) Tj /R8 1 Tf (\\003K) Tj")
        .stream(6, "(\\003M) Tj /T 1 Tf (mark) Tj /R8 1 Tf ET")
        .stream(7, "(\\003K) Tj /T 1 Tf (mark) Tj")
        .object(11, type0Font("/Identity-H", "[" + cidFont(japan1) + "]"))
        .object(12, "<< /Subtype /TrueType /BaseFont /Arial >>");
    // The font of the page's first stream holds in its second; each page starts with none.
    EXPECT_EQ(streamTexts(pdf.build()),
              (std::vector<std::string>{"1:markあ", "1:いmark", "2:\x03Mmark", "2:あmark"}));
}

}  // namespace
}  // namespace ferretta::pdf
