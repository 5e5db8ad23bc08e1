// Strings read by the current font: Tf with q/Q in the content stream, and the page's font
// resources resolved (inherited, indirect, broken) into how a Type0 Identity font's strings
// are read. The test CID table maps 0x034B to あ, 0x034D to い and 0x0001 to a space.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pdf/engine/content_stream.h"
#include "pdf/engine/pdf_engine.h"
#include "pdf/engine/pdf_test_support.h"
#include "platform/data_folder.h"
#include "support/recording_host.h"
#include "support/test_context.h"

namespace ferretta::pdf {
namespace {

// A content stream's fonts and forms by name; a form's own names are found in its scope.
class FakeFonts final : public FontSource {
  public:
    FakeFonts() {
        identity.kind = FontDecoder::Kind::Composite;
        identity.japan1 = true;
        fonts[{0, "/CJK"}] = &identity;
        fonts[{0, "/F1"}] = nullptr;
    }
    const FontDecoder* fontOf(int scope, std::string_view name) override {
        asked.emplace_back(name);
        const auto it = fonts.find({scope, std::string(name)});
        return it == fonts.end() ? nullptr : it->second;
    }
    const FormXObject* formOf(int scope, std::string_view name) override {
        const auto it = forms.find({scope, std::string(name)});
        return it == forms.end() ? nullptr : &it->second;
    }
    FontDecoder identity;
    std::map<std::pair<int, std::string>, const FontDecoder*> fonts;
    std::map<std::pair<int, std::string>, FormXObject> forms;
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
        {"/CJK 1 Tf (\\003K\\003) Tj", "あ"},  // a code cut short is ignored
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

TEST(FontText, FormXObjectsAreReadInPlace) {
    FakeFonts fonts;
    FontDecoder simple;
    simple.kind = FontDecoder::Kind::Simple;
    for (int c = 'a'; c <= 'z'; ++c)
        simple.codeText[static_cast<std::size_t>(c)] = std::string(1, static_cast<char>(c - 32));
    fonts.fonts[{1, "/CJK"}] = &simple;  // the form's scope names another font
    fonts.forms[{0, "/Inner"}] = {1, "(in) Tj", 0};
    fonts.forms[{0, "/Scoped"}] = {2, "/CJK 1 Tf (abc) Tj /Nested Do", 1};
    fonts.forms[{1, "/Nested"}] = {3, "(xy) Tj", 1};
    fonts.forms[{0, "/Self"}] = {4, "(s) Tj /Self Do", 0};
    fonts.forms[{0, "/PingA"}] = {5, "(a) Tj /PingB Do", 0};
    fonts.forms[{0, "/PingB"}] = {6, "(b) Tj /PingA Do", 0};
    fonts.forms[{0, "/Font"}] = {7, "/CJK 1 Tf q", 0};
    fonts.forms[{0, "/Deep"}] = {8, "(d) Tj /Deep2 Do", 0};
    for (int k = 2; k < 12; ++k) {
        fonts.forms[{0, "/Deep" + std::to_string(k)}] = {
            static_cast<std::uint64_t>(100 + k), "(d) Tj /Deep" + std::to_string(k + 1) + " Do", 0};
    }
    struct Case {
        std::string stream;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"(a) Tj /Inner Do (b) Tj", "ainb"},
        {"/Inner Do /Inner Do", "inin"},  // a form shown twice gives its text twice
        {"/Scoped Do (abc) Tj", "ABCXYabc"},
        {"/Self Do", "s"},                          // a form that shows itself is read once
        {"/PingA Do", "ab"},                        // so are two forms showing each other
        {"/Font Do (\\003K) Tj", "\x03K"},          // a form's font and q end with it
        {"/CJK 1 Tf /Inner Do (\\003K) Tj", "あ"},  // the form inherits the font: "in" is one CID
        {"/Missing Do /F1 Do Do (x) Tj", "x"},
        {"/Deep Do", std::string(ContentTextExtractor::maxFormDepth, 'd')},
        {"BT /Inner Do ET", "in"},
    };
    ContentTextExtractor extractor(test::testCidTable());
    for (const Case& c : cases) {
        extractor.beginPage(&fonts);
        EXPECT_EQ(extractor.extract(c.stream), c.text) << c.stream;
    }
    // The page's budget of forms.
    extractor.beginPage(&fonts);
    std::string many;
    for (std::size_t k = 0; k < ContentTextExtractor::maxFormsPerPage + 10; ++k)
        many += "/Inner Do ";
    EXPECT_EQ(extractor.extract(many).size(), 2 * ContentTextExtractor::maxFormsPerPage);
}

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

// The predefined CMaps are read from beside the program, as the programs have them.
void provideJapanCMaps() {
    const auto beside = platform::executableFolder() / "JapanCMaps.dat";
    if (!std::filesystem::exists(beside)) {
        std::filesystem::copy_file(
            std::filesystem::path(FERRETTA_SOURCE_DIR) / "resources" / "JapanCMaps.dat", beside);
    }
}

// The text of every content stream, in page order (all streams show "mark").
std::vector<std::string> streamTexts(const std::string& bytes) {
    provideJapanCMaps();
    test::RecordingHost host;
    search::Matcher matcher(false, false);
    matcher.targetStrsSplit("mark");
    search::SearchFlags flags;
    PdfEngine engine(test::contextOf(host, matcher, flags), test::testCidTable());
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
        {"other ordering",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, type0Font("/Identity-H", "[" + cidFont("<< /Ordering (Identity) >>") + "]")}},
         bytes},
        {"predefined CMap: its codes, not the 2-byte CIDs",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, type0Font("/90ms-RKSJ-H", "[" + cidFont(japan1) + "]")}},
         "1:mark"},
        {"unknown predefined CMap",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, type0Font("/UniGB-UCS2-H", "[" + cidFont(japan1) + "]")}},
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
        {"missing font object", "<< /Font << /R8 99 0 R >> >>", {}, bytes},
        {"font reference loop",
         "<< /Font << /R8 11 0 R >> >>",
         {{11, "12 0 R"}, {12, "11 0 R"}},
         bytes},
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

constexpr const char* toUnicodeCMap =
    "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
    "1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
    "3 beginbfchar <0001> <691C7D22> <0002> <D840DC0B> <0007> <2F08> endbfchar\n"
    "2 beginbfrange <0010> <0011> <3042> <0020> <0021> [<0066006C> <F9DC>] endbfrange\n"
    "endcmap CMapName currentdict /CMap defineresource pop end end";

std::string streamObject(const std::string& entries, const std::string& data) {
    return "<< " + entries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream";
}

// The common fonts of real producers (UniJIS-UTF8-H, a base encoding by name, ...) are read in
// the corpus's files; here the rest.
TEST(FontResources, HowEachKindOfFontIsRead) {
    const std::string font = "<< /Font << /R8 11 0 R >> >>";
    const std::string identityCidFont = cidFont("<< /Registry (Adobe) /Ordering (Identity) >>");
    struct Case {
        std::string name;
        std::string resources;
        std::string content;
        std::map<int, std::string> objects;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"Type0 of the producer's own glyphs with a compressed ToUnicode",
         font,
         "/R8 1 Tf <0001 0002> Tj [<0010> 10 <0011>] TJ <0003 0007 0020 0021 00> Tj",
         {{11, "<< /Subtype /Type0 /Encoding /Identity-H /ToUnicode 12 0 R /DescendantFonts [" +
                   identityCidFont + "] >>"},
          {12, streamObject("/Filter /FlateDecode", test::deflate(toUnicodeCMap))}},
         "検索𠀋あぃ人fl隆"},  // unmapped and odd bytes give nothing; look-alikes unified
        {"Japan1 font whose ToUnicode lacks a code: the CID table",
         font,
         "/R8 1 Tf <0001 034B> Tj",
         {{11, "<< /Subtype /Type0 /Encoding /Identity-H /ToUnicode 12 0 R /DescendantFonts [" +
                   cidFont(japan1) + "] >>"}},
         "検索あ"},
        {"predefined UniJIS-UCS2-H",
         font,
         "/R8 1 Tf <3042 3044> Tj",
         {{11, type0Font("/UniJIS-UCS2-H", "[" + cidFont(japan1) + "]")}},
         "あい"},
        {"predefined 90ms-RKSJ-V (usecmap of -H)",
         font,
         "/R8 1 Tf (\\202\\240A\\202\\242\\202) Tj",  // a code cut short at the end
         {{11, type0Font("/90ms-RKSJ-V", "[" + cidFont(japan1) + "]")}},
         "あい"},
        {"embedded CMap using a predefined one",
         font,
         "/R8 1 Tf <82A0 A1> Tj",
         {{11, type0Font("13 0 R", "[" + cidFont(japan1) + "]")},
          {13, streamObject("", "/90ms-RKSJ-H usecmap begincidchar <A1> 845 endcidchar")}},
         "あい"},
        {"simple font with Differences",
         font,
         "/R8 1 Tf (\\001AB\\002) Tj",
         {{11,
           "<< /Subtype /TrueType /Encoding << /BaseEncoding /WinAnsiEncoding "
           "/Differences [1 /uni3042 /ffi 66 /uni3044.alt] >> >>"}},
         "あAいffi"},  // a ligature as its letters
        {"simple font without /Encoding: its Type 1 program's own",
         font,
         "/R8 1 Tf (\\014l\\173s) Tj",
         {{11, "<< /Subtype /Type1 /FontDescriptor << /FontFile 13 0 R >> >>"},
          {13, streamObject("/Length1 180",
                            "%!PS-AdobeFont-1.0: CMR10\n/Encoding 256 array\n0 1 "
                            "255 {1 index exch /.notdef put} for\ndup 12 /fi "
                            "put\ndup 108 /l put\ndup 123 /endash put\nreadonly "
                            "def\ncurrentfile eexec\ndup 115 /s put")}},
         "fil–"},
        {"simple font with only a ToUnicode",
         font,
         "/R8 1 Tf (\\001) Tj",
         {{11, "<< /Subtype /Type3 /ToUnicode 12 0 R >>"}},
         "検索"},
        {"Form XObjects: own resources, the page's, nested and self-invoking",
         "<< /Font << /R8 11 0 R >> /XObject << /Fm1 20 0 R /Fm2 21 0 R /Im 23 0 R >> >>",
         "(a) Tj /Fm1 Do /Im Do q /Fm2 Do Q (b) Tj",
         {{11, "<< /Subtype /Type1 /Encoding /WinAnsiEncoding >>"},
          {20, streamObject("/Subtype /Form /Resources << /XObject << /Me 20 0 R /In 22 0 R "
                            ">> >>",
                            "(f1) Tj /In Do /Me Do")},
          {21, streamObject("/Type /XObject /Subtype /Form", "/R8 1 Tf <034B> Tj")},
          {22, streamObject("/Subtype 24 0 R", "(in) Tj")},
          {23, streamObject("/Subtype /Image", "(no) Tj")},
          {24, "/Form"}},
         "af1inKb"},
    };
    for (const Case& c : cases) {
        test::PdfBuilder pdf;
        pdf.pages("3 0 R", 1)
            .object(
                3, "<< /Type /Page /Parent 2 0 R /Resources " + c.resources + " /Contents 4 0 R >>")
            .stream(4, "(mark) Tj " + c.content)
            .stream(12, toUnicodeCMap);
        for (const auto& [number, body] : c.objects)
            pdf.object(number, body);
        EXPECT_EQ(streamTexts(pdf.build()), std::vector<std::string>{"1:mark" + c.text}) << c.name;
    }
}

}  // namespace
}  // namespace ferretta::pdf
