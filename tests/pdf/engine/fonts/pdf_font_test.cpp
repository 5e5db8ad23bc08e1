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
        {"/CJK 1 Tf (\\003K\\003) Tj", "あ"},  // a code cut short is ignored
        {"/CJK 1 Tf (\\000\\001) Tj", " "},    // NUL bytes are part of the CIDs
        {"/F1 1 Tf <034B> Tj", "あ"},          // hex strings stay CIDs under a simple font
        {"(\\003K) Tj", "\x03K"},              // no font selected
        {"/Unknown 1 Tf (\\003K) Tj", "\x03K"},
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
        // Without a font: literal strings are CP932 (a character may be split between two),
        // hexadecimal ones CIDs.
        {"[(\x93\xfa) (\x96) 10 (\x7b)] TJ (\x93) Tj (\xfa) Tj", "日本日"},
        {"(\x93\xfa) Tj <034B 034D0> Tj <0000> Tj <03ZZ> Tj (\x96\x7b) Tj", "日あい本"},
        {"(con\\\ntinued\r\nx\r\ny\\r\\n\\0) Tj", "continued\nx\ny"},
        {"(not shown) Tf <</ActualText (hidden)>> BDC % (comment) Tj\n(seen) Tj EMC", "seen"},
        {"BI /W 1 /H 1 ID \x01(\xff EI (img) Tj", "img"},
        {"(open) Tj (still open", "open"},
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

TEST(FontText, CountsMalformedHexStrings) {
    ContentTextExtractor extractor(test::testCidTable());
    extractor.extract("<12G4> Tj <<>> (x) Tj <zz> Tj");
    EXPECT_EQ(extractor.malformedHexStrings(), 2u);
}

constexpr const char* japan1 = "<< /Registry (Adobe) /Ordering (Japan1) /Supplement 6 >>";

std::string type0Font(const std::string& encoding, const std::string& ordering) {
    return "<< /Subtype /Type0 /Encoding " + encoding +
           " /DescendantFonts [<< /Subtype /CIDFontType2 /CIDSystemInfo " + ordering + " >>] >>";
}

std::string streamObject(const std::string& entries, const std::string& data) {
    return "<< " + entries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream";
}

// What the generated files do not show: Form XObjects with resources of their own, and fonts
// the engine cannot read, whose strings stay bytes.
TEST(FontResources, FormsAndFontsThatCannotBeRead) {
    const std::string font = "<< /Font << /R8 11 0 R >> >>";
    const std::string cids = "(mark) Tj /R8 1 Tf (\\003K\\003M) Tj";
    const std::string bytes = "mark\x03K\x03M";
    struct Case {
        std::string name;
        std::string resources;
        std::string content;
        std::map<int, std::string> objects;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"Form XObjects: own resources, the page's, nested and self-invoking",
         "<< /Font << /R8 11 0 R >> /XObject << /Fm1 20 0 R /Fm2 21 0 R /Im 23 0 R >> >>",
         "(mark) Tj (a) Tj /Fm1 Do /Im Do q /Fm2 Do Q (b) Tj",
         {{11, "<< /Subtype /Type1 /Encoding /WinAnsiEncoding >>"},
          {20, streamObject("/Subtype /Form /Resources << /XObject << /Me 20 0 R /In 22 0 R "
                            ">> >>",
                            "(f1) Tj /In Do /Me Do")},
          {21, streamObject("/Type /XObject /Subtype /Form", "/R8 1 Tf <034B> Tj")},
          {22, streamObject("/Subtype 24 0 R", "(in) Tj")},
          {23, streamObject("/Subtype /Image", "(no) Tj")},
          {24, "/Form"}},
         "markaf1inKb"},
        {"no descendants: ordering unknown, read as Japan1",
         font,
         cids,
         {{11, "<< /Subtype /Type0 /Encoding /Identity-H >>"}},
         "markあい"},
        {"other ordering",
         font,
         cids,
         {{11, type0Font("/Identity-H", "<< /Ordering (Identity) >>")}},
         bytes},
        {"unknown predefined CMap", font, cids, {{11, type0Font("/UniGB-UCS2-H", japan1)}}, bytes},
        {"empty embedded CMap",
         font,
         cids,
         {{11, type0Font("12 0 R", japan1)}, {12, streamObject("", "")}},
         bytes},
        {"font name not in resources",
         "<< /Font << /R9 11 0 R >> >>",
         cids,
         {{11, type0Font("/Identity-H", japan1)}},
         bytes},
        {"missing font object", "<< /Font << /R8 99 0 R >> >>", cids, {}, bytes},
        {"font reference loop", font, cids, {{11, "12 0 R"}, {12, "11 0 R"}}, bytes},
        {"broken font object", font, cids, {{11, "<< /Subtype /Type0 /Encoding"}}, bytes},
    };
    for (const Case& c : cases) {
        test::PdfBuilder pdf;
        pdf.pages("3 0 R", 1)
            .object(
                3, "<< /Type /Page /Parent 2 0 R /Resources " + c.resources + " /Contents 4 0 R >>")
            .stream(4, c.content);
        for (const auto& [number, body] : c.objects)
            pdf.object(number, body);
        test::RecordingHost host;
        search::Matcher matcher(false, false);
        matcher.targetStrsSplit("mark");
        search::SearchFlags flags;
        const std::string file = pdf.build();
        PdfEngine(test::contextOf(host, matcher, flags), test::testCidTable())
            .p2tMain("font.pdf", file);
        ASSERT_EQ(host.rows.size(), 1u) << c.name;
        EXPECT_EQ(host.rows[0].content, c.text) << c.name;
    }
}

}  // namespace
}  // namespace ferretta::pdf
