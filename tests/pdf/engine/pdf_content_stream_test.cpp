// The text of content streams, read as a token stream (how strings are decoded is the lexer's).
#include <gtest/gtest.h>

#include "pdf/engine/content_stream.h"
#include "pdf/engine/pdf_test_support.h"

namespace ferretta::pdf {
namespace {

TEST(ContentText, Table) {
    struct Case {
        std::string stream;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"[(He) -20 (llo)] TJ", "Hello"},
        {"(A) Tj (B) Tj", "AB"},
        {"BT /F1 12 Tf (x) Tj ET", "x"},  // operators around it on the same line
        {"(foo) Tj\n(bar) Tj", "foobar"},
        {"(a) '\n1 2 (b) \"", "ab"},
        {"(a)Tj(b)Tj", "ab"},
        {"(not shown) Tf (shown) Tj", "shown"},
        {"(\\101\\102\\7) Tj", "AB\a"},
        {"(con\\\ntinued) Tj", "continued"},
        {"(across\r\nlines) Tj", "across\nlines"},
        {"(x\r\ny\\r\\n) Tj", "x\ny"},  // an escaped CR LF pair is removed
        {"(a\\0b) Tj", "ab"},           // NUL removed
        {"<034B034D> Tj", "あい"},
        {"<034B 034D> Tj", "あい"},
        {"<034B0> Tj", "あ"},  // trailing digits ignored
        {"<0000> Tj <FFFF> Tj", ""},
        {"<03ZZ> Tj (after) Tj", "after"},  // malformed hex skipped
        {"<</ActualText (hidden)>> BDC (seen) Tj EMC", "seen"},
        {"% (comment) Tj\n(real) Tj", "real"},
        {"BI /W 1 /H 1 ID \x01(\xff EI (img) Tj", "img"},
        {"[(\x93\xfa) (\x96\x7b)] TJ", "日本"},
        {"(\x93) Tj (\xfa) Tj", "日"},  // a double-byte character split over two strings
        {"(\x93\xfa) Tj <034B> Tj (\x96\x7b) Tj", "日あ本"},
        {"(unterminated", ""},
        {"(open) Tj (still open", "open"},
    };
    ContentTextExtractor extractor(test::testCidTable());
    for (const Case& c : cases)
        EXPECT_EQ(extractor.extract(c.stream), c.text) << c.stream;
}

// OCR layers: a blank after invisible CJK text goes where the next text starts within an em
// (10 here) of where the blank ended, or on another line; it stays before a wider gap, in
// visible text, and beside other scripts. Without a font each byte is half an em wide, so
// "あ " (three bytes) ends 15 past its start.
TEST(ContentText, OcrBlanksBetweenCjkWords) {
    struct Case {
        std::string_view stream;
        std::string_view text;
    };
    const Case cases[] = {
        {"BT 3 Tr /F 10 Tf (\x82\xa0 ) Tj 15 0 Td (\x82\xa2) Tj ET", "あい"},
        {"BT 3 Tr /F 10 Tf (\x82\xa0 ) Tj 24 0 Td (\x82\xa2) Tj ET", "あい"},
        {"BT 3 Tr /F 10 Tf (\x82\xa0 ) Tj 26 0 Td (\x82\xa2) Tj ET", "あ い"},
        {"BT 3 Tr /F 10 Tf (\x82\xa0 ) Tj 0 -12 Td (\x82\xa2) Tj ET", "あい"},
        {"BT 3 Tr /F 10 Tf [(\x82\xa0 ) -500 (\x82\xa2)] TJ ET", "あい"},
        {"BT 3 Tr /F 10 Tf [(\x82\xa0 ) -1500 (\x82\xa2)] TJ ET", "あ い"},
        {"BT /F 10 Tf (\x82\xa0 ) Tj 15 0 Td (\x82\xa2) Tj ET", "あ い"},
        {"BT 3 Tr /F 10 Tf (ab ) Tj 15 0 Td (\x82\xa2) Tj ET", "ab い"},
        {"BT 3 Tr /F 10 Tf (\x82\xa0 ) Tj 15 0 Td (cd) Tj ET", "あ cd"},
        {"q 3 Tr BT /F 10 Tf (\x82\xa0 ) Tj ET Q BT 15 0 Td (\x82\xa2) Tj ET", "あ い"},
        {"BT 3 Tr /F 10 Tf (\x82\xa0 ) Tj ET", "あ "},
    };
    ContentTextExtractor extractor(test::testCidTable());
    for (const Case& c : cases) {
        extractor.beginPage(nullptr);  // the text state holds across a page's streams
        EXPECT_EQ(extractor.extract(c.stream), c.text) << c.stream;
    }
}

TEST(ContentText, CountsMalformedHexStrings) {
    ContentTextExtractor extractor(test::testCidTable());
    extractor.extract("<12G4> Tj <<>> (x) Tj <zz> Tj");
    EXPECT_EQ(extractor.malformedHexStrings(), 2u);
}

}  // namespace
}  // namespace ferretta::pdf
