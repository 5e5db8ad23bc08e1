#include "pdf/engine/fonts/simple_encoding.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ferretta::pdf {
namespace {

// glibc's converters, an implementation independent of the tables, as the reference: the one
// character a byte decodes to, or nothing (undefined byte, or the converter is missing).
std::u32string glibcDecode(const char* charset, unsigned char byte) {
    const iconv_t cd = iconv_open("UTF-32LE", charset);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    char in = static_cast<char>(byte);
    char* inPtr = &in;
    std::size_t inLeft = 1;
    char32_t out[2] = {};
    char* outPtr = reinterpret_cast<char*>(out);
    std::size_t outLeft = sizeof out;
    const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || outLeft != sizeof out - sizeof(char32_t))
        return {};
    return {out[0]};
}

bool glibcHas(const char* charset) {
    const iconv_t cd = iconv_open("UTF-32LE", charset);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv_close(cd);
    return true;
}

// Every code from 0x20 agrees with glibc's converter except the differences the PDF tables
// deliberately have.
TEST(BaseEncodingTest, AgreesWithGlibcConvertersExceptTheKnownDifferences) {
    struct Case {
        BaseEncoding encoding;
        const char* charset;
        std::map<int, std::u32string> differences;
    };
    const std::u32string none;
    std::vector<Case> cases = {
        {BaseEncoding::WinAnsi,
         "CP1252",
         // Unused codes show the bullet; 0xA0 and 0xAD are the glyphs space and hyphen.
         {{0x7F, U"\u2022"},
          {0x81, U"\u2022"},
          {0x8D, U"\u2022"},
          {0x8F, U"\u2022"},
          {0x90, U"\u2022"},
          {0x9D, U"\u2022"},
          {0xA0, U" "},
          {0xAD, U"-"}}},
        {BaseEncoding::MacRoman,
         "MACINTOSH",
         {{0xCA, U" "}, {0xDB, U"\u00A4"}}},  // currency, not euro; the Latin set only:
        {BaseEncoding::PdfDoc, "ISO-8859-1", {{0xAD, none}}},
    };
    // no Mac OS Roman symbols, no Apple logo.
    for (const int code : {0x7F, 0xAD, 0xB0, 0xB2, 0xB3, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBD, 0xC3,
                           0xC5, 0xC6, 0xD7, 0xF0})
        cases[1].differences[code] = none;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charset);
        if (!glibcHas(c.charset)) {
            ADD_FAILURE() << "glibc lacks the converter";
            continue;
        }
        const auto& table = baseEncodingTable(c.encoding);
        for (int code = 0x20; code <= 0xFF; ++code) {
            // PDFDoc's own block (0x7F-0xA0, 0xAD) is checked by the samples below.
            if (c.encoding == BaseEncoding::PdfDoc && (code >= 0x7F && code <= 0xA0))
                continue;
            const auto difference = c.differences.find(code);
            const std::u32string expected =
                difference != c.differences.end()
                    ? difference->second
                    : glibcDecode(c.charset, static_cast<unsigned char>(code));
            EXPECT_EQ(std::u32string(table[static_cast<std::size_t>(code)]), expected)
                << std::hex << "code 0x" << code;
        }
    }
}

TEST(BaseEncodingTest, Samples) {
    struct Case {
        BaseEncoding encoding;
        int code;
        std::u32string_view text;
    };
    const std::vector<Case> cases = {
        {BaseEncoding::Standard, 0x27, U"\u2019"},  // quoteright, unlike ASCII
        {BaseEncoding::Standard, 0xA9, U"'"},       {BaseEncoding::Standard, 0xAE, U"\uFB01"},
        {BaseEncoding::Standard, 0xF5, U"\u0131"},  {BaseEncoding::Standard, 0xB5, U""},
        {BaseEncoding::PdfDoc, 0x18, U"\u02D8"},    {BaseEncoding::PdfDoc, 0x7F, U""},
        {BaseEncoding::PdfDoc, 0x80, U"\u2022"},    {BaseEncoding::PdfDoc, 0x9F, U""},
        {BaseEncoding::PdfDoc, 0xA0, U"\u20AC"},    {BaseEncoding::PdfDoc, 0xAD, U""},
        {BaseEncoding::Symbol, 0x44, U"\u0394"},     // Greek, not U+2206 increment
        {BaseEncoding::Symbol, 0x6D, U"\u03BC"},     // Greek, not U+00B5 micro
        {BaseEncoding::Symbol, 0xD2, U"\u00AE"},     // registerserif
        {BaseEncoding::Symbol, 0xE6, U""},           // parenlefttp: a glyph piece
        {BaseEncoding::MacExpert, 0x24, U"$"},       // dollaroldstyle
        {BaseEncoding::MacExpert, 0x61, U"a"},       // Asmall
        {BaseEncoding::MacExpert, 0x87, U"\u00E1"},  // Aacutesmall
        {BaseEncoding::MacExpert, 0x41, U""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(baseEncodingTable(c.encoding)[static_cast<std::size_t>(c.code)], c.text)
            << static_cast<int>(c.encoding) << std::hex << " code 0x" << c.code;
    }
}

TEST(BaseEncodingTest, EveryTableHoldsSingleVisibleCharacters) {
    for (const BaseEncoding encoding :
         {BaseEncoding::Standard, BaseEncoding::WinAnsi, BaseEncoding::MacRoman,
          BaseEncoding::MacExpert, BaseEncoding::Symbol, BaseEncoding::PdfDoc}) {
        const auto& table = baseEncodingTable(encoding);
        int defined = 0;
        for (std::size_t code = 0; code < table.size(); ++code) {
            const std::u32string_view text = table[code];
            if (text.empty())
                continue;
            ++defined;
            ASSERT_EQ(text.size(), 1u) << static_cast<int>(encoding) << " " << code;
            const char32_t c = text[0];
            EXPECT_FALSE(c < 0x20 || (c >= 0x7F && c < 0xA0)) << code;  // no control
            EXPECT_FALSE(c >= 0xE000 && c <= 0xF8FF) << code;           // no private use
            if (code >= 0x21 && code <= 0x7E && encoding != BaseEncoding::MacExpert &&
                encoding != BaseEncoding::Symbol) {
                // The printable ASCII codes are ASCII, but for Standard's two quotes.
                if (encoding != BaseEncoding::Standard || (code != 0x27 && code != 0x60)) {
                    EXPECT_EQ(c, static_cast<char32_t>(code));
                }
            }
        }
        EXPECT_GT(defined, 140) << static_cast<int>(encoding);
        EXPECT_EQ(table[0x20], U" ");
    }
}

TEST(BaseEncodingTest, ByName) {
    EXPECT_EQ(baseEncodingByName("MacExpertEncoding"), BaseEncoding::MacExpert);
    EXPECT_EQ(baseEncodingByName("PDFDocEncoding"), BaseEncoding::PdfDoc);
    using namespace std::string_view_literals;
    for (const std::string_view other : {"/WinAnsiEncoding"sv, "winansiencoding"sv,
                                         "SymbolEncoding"sv, ""sv, "WinAnsiEncoding\0"sv})
        EXPECT_EQ(baseEncodingByName(other), std::nullopt) << other;
}

TEST(GlyphNameTest, Forms) {
    const std::string longUni = "uni" + [] {
        std::string groups;
        for (int i = 0; i < 255; ++i)
            groups += "0041";
        return groups;
    }();
    const std::vector<std::pair<std::string, std::u32string>> cases = {
        // The Adobe Glyph List.
        {"afii10017", U"\u0410"},
        {"akatakana", U"\u30A2"},
        {"dalethatafpatah", U"\u05D3\u05B2"},
        {"bracelefttp", U"\uF8F1"},  // a glyph piece keeps the list's private-use value
        // Expert-font variants: the plain character.
        {"Asmall", U"a"},
        {"Aacutesmall", U"\u00E1"},
        {"dollarinferior", U"$"},
        {"Acute", U"\u00B4"},
        // uniXXXX and uXXXX, as a ligature's parts too, are read in the generated PDFs.
        {"uni00e9", U"\u00E9"},  // lower-case digits are accepted
        {"uniD800", U""},        // a surrogate
        {"uni0041DBFF", U""},    // a surrogate in a later group spoils the whole component
        {"uni004", U""},
        {"uni004G", U""},
        {longUni, std::u32string(255, U'A')},
        {"u0041", U"A"},
        {"u10FFFF", U"\U0010FFFF"},
        {"u110000", U""},
        {"uDFFF", U""},
        {"u0000041", U""},
        // Suffixes and ligatures.
        {"A.sc", U"A"},
        {"uni0041.alt", U"A"},
        {".notdef", U""},
        {"A_xyz_B", U"AB"},
        {"_A_", U"A"},
        // Unknown and damaged names.
        {"", U""},
        {"AE\xff", U""},
        {std::string("A\0B", 3), U""},
        // Bounded: longer than 1,024 bytes.
        {longUni + "0041", U""},
        {std::string(1025, 'A'), U""},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(unicodeOfGlyphName(name), expected) << name.substr(0, 40);
}

// A Type 1 program's own encoding: the clear text's array, or StandardEncoding by name.
TEST(Type1EncodingTest, ReadsTheClearText) {
    const auto program = type1BuiltinEncoding(
        "/FontName /CMR10 def /Encoding 256 array 0 1 255 {1 index exch /.notdef put} for "
        "dup 12 /fi put dup 300 /x put dup 65 (A) put dup 66 /B put readonly def dup 67 /C put");
    ASSERT_TRUE(program);
    EXPECT_EQ((*program)[12], U"\uFB01");
    EXPECT_EQ((*program)[66], U"B");
    for (const int unset : {0, 65, 67})  // a string, not a name; after the array's def
        EXPECT_EQ((*program)[unset], U"") << unset;
    const auto standard = type1BuiltinEncoding("/Encoding StandardEncoding def");
    ASSERT_TRUE(standard);
    EXPECT_EQ((*standard)[0x27], U"\u2019");
    for (const std::string_view none : {"", "/Encoding 256 array readonly def",
                                        "currentfile eexec /Encoding StandardEncoding def"})
        EXPECT_FALSE(type1BuiltinEncoding(none)) << none;
}

}  // namespace
}  // namespace ferretta::pdf
