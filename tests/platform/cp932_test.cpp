#include "platform/cp932.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/encodings.h"

namespace ferretta::platform {
namespace {

constexpr std::uint16_t kNone = 0xFFFF;

// glibc's CP932 converter as the reference: the character of a whole code, the code of a
// character, or kNone.
std::uint16_t glibcDecode(std::uint16_t code) {
    static const test::GlibcIconv decoder("UTF-16LE", "CP932");
    std::string in(code >= 0x100 ? 1 : 0, static_cast<char>(code >> 8));
    const auto out = decoder(in + static_cast<char>(code & 0xFF));
    return !out || out->size() != 2
               ? kNone
               : static_cast<std::uint16_t>(static_cast<unsigned char>((*out)[0]) |
                                            static_cast<unsigned char>((*out)[1]) << 8);
}
std::uint16_t glibcEncode(char16_t ch) {
    static const test::GlibcIconv encoder("CP932", "UTF-16LE");
    const auto out = encoder(test::utf16Bytes(std::u16string(1, ch), false, false));
    if (!out || out->empty() || out->size() > 2)
        return kNone;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>((*out)[i]); };
    return static_cast<std::uint16_t>(out->size() == 1 ? byte(0) : byte(0) << 8 | byte(1));
}

// Every code that a CP932 byte sequence can hold: the non-lead single bytes and every lead
// byte with every possible trail byte.
std::vector<std::uint16_t> allCodes() {
    std::vector<std::uint16_t> codes;
    for (unsigned b = 0; b < 0x100; ++b) {
        if (!isCp932LeadByte(static_cast<unsigned char>(b))) {
            codes.push_back(static_cast<std::uint16_t>(b));
            continue;
        }
        for (unsigned trail = 0; trail < 0x100; ++trail)
            codes.push_back(static_cast<std::uint16_t>(b << 8 | trail));
    }
    return codes;
}

// Where glibc's CP932 is not Windows' code page 932; Windows is right by definition. Both
// lists are complete: every other code and character must agree.
//
// Decoding: glibc leaves undefined the single bytes that Windows maps to U+0080 and to the
// private-use characters U+F8F0-U+F8F3.
const std::map<std::uint16_t, std::uint16_t> kDecodingDifferences = {
    {0x80, 0x0080}, {0xA0, 0xF8F0}, {0xFD, 0xF8F1}, {0xFE, 0xF8F2}, {0xFF, 0xF8F3},
};

// Encoding: the same five in the other direction, and the characters glibc writes with the JIS
// reading of a code whose Windows character is another: for us only their best-fit forms.
// ¢ £ ¥ ¬ — ‖ ‾ − 〜: glibc writes 0x8191 0x8192 0x5C 0x81CA 0x815C 0x8161 0x7E 0x817C 0x8160,
// which Windows reads as ￠ ￡ \ ￢ ― ∥ ~ － ～.
const std::map<char16_t, std::uint16_t> kEncodingDifferences = {
    {u'\u0080', 0x80},  {u'\uF8F0', 0xA0},  {u'\uF8F1', 0xFD},  {u'\uF8F2', 0xFE},
    {u'\uF8F3', 0xFF},  {u'\u00A2', kNone}, {u'\u00A3', kNone}, {u'\u00A5', kNone},
    {u'\u00AC', kNone}, {u'\u2014', kNone}, {u'\u2016', kNone}, {u'\u203E', kNone},
    {u'\u2212', kNone}, {u'\u301C', kNone},
};

TEST(Cp932Table, DecodingMatchesGlibcExceptKnownDifferences) {
    ASSERT_TRUE(test::GlibcIconv("UTF-16LE", "CP932").ok()) << "glibc lacks CP932";
    int defined = 0;
    for (const std::uint16_t code : allCodes()) {
        const auto known = kDecodingDifferences.find(code);
        if (known != kDecodingDifferences.end()) {
            EXPECT_EQ(glibcDecode(code), kNone) << "glibc changed; update the list";
            EXPECT_EQ(cp932CodeToUnicode(code), known->second);
        } else {
            ASSERT_EQ(cp932CodeToUnicode(code), glibcDecode(code)) << std::hex << "0x" << code;
        }
        defined += cp932CodeToUnicode(code) != kNone;
    }
    // 196 single bytes; JIS X 0208 6879, NEC row 13 83, NEC-selected IBM 374, IBM 388,
    // user-defined 1880 double-byte codes.
    EXPECT_EQ(defined, 196 + 6879 + 83 + 374 + 388 + 1880);
}

// Without a code of its own a character is '?', or with BestFit its best-fit form; glibc
// writes the JIS reading for the characters of kEncodingDifferences, which is their best fit.
TEST(Cp932Table, EncodingMatchesGlibcExceptKnownDifferences) {
    int mismatches = 0;
    for (unsigned u = 0; u < 0x10000 && mismatches < 20; ++u) {
        const auto ch = static_cast<char16_t>(u);
        const std::uint16_t fromGlibc = glibcEncode(ch);
        std::uint16_t expected = fromGlibc;
        const auto known = kEncodingDifferences.find(ch);
        if (known != kEncodingDifferences.end()) {
            EXPECT_NE(expected, known->second) << std::hex << "U+" << u << ": glibc changed";
            expected = known->second;
        }
        const std::uint16_t strict = unicodeToCp932Code(ch);
        const std::uint16_t bestFit = unicodeToCp932Code(ch, Cp932Fallback::BestFit);
        const bool jisReading = known != kEncodingDifferences.end() && known->second == kNone;
        if (strict != expected || (strict != kNone && bestFit != strict) ||
            (jisReading && bestFit != fromGlibc)) {
            ++mismatches;
            ADD_FAILURE() << std::hex << "U+" << u << ": ours 0x" << strict << "/0x" << bestFit
                          << ", expected 0x" << expected;
        }
        // A best-fit form is another character's code, never a character of its own.
        if (strict == kNone && bestFit != kNone) {
            EXPECT_NE(cp932CodeToUnicode(bestFit), ch);
        }
    }
}

// Every code comes back from encoding its character, or is a duplicate (NEC row 13, NEC-selected
// IBM, IBM) of the code Windows writes; cp932WrittenCode knows which.
TEST(Cp932Table, EveryCodeRoundTripsOrIsADuplicateOfTheCodeWindowsWrites) {
    for (const std::uint16_t code : allCodes()) {
        const char16_t ch = cp932CodeToUnicode(code);
        if (ch == kNone)
            continue;
        const std::uint16_t written = unicodeToCp932Code(ch);
        ASSERT_NE(written, kNone) << std::hex << "0x" << code;
        EXPECT_EQ(cp932CodeToUnicode(written), ch);
        EXPECT_EQ(cp932WrittenCode(code), written) << std::hex << "0x" << code;
        if (written != code) {
            EXPECT_TRUE(cp932CodeHasDuplicates(written)) << std::hex << "0x" << written;
            // Only the NEC row 13 / IBM duplicates may lose; JIS X 0208 always wins.
            EXPECT_TRUE((code >= 0x8740 && code <= 0x879C) || (code >= 0xED40 && code <= 0xEEFC) ||
                        (code >= 0xFA40 && code <= 0xFC4B))
                << std::hex << "0x" << code << " -> 0x" << written;
        }
    }
    EXPECT_FALSE(cp932CodeHasDuplicates(0x82A0));  // あ
}

TEST(Cp932Text, NormalizesDuplicateCodesCharacterByCharacter) {
    const std::pair<std::string, std::string> cases[] = {
        {"\xEE\xE0\x8B\xB4", "\xFB\xFC\x8B\xB4"},                    // 髙橋 as Python writes it
        {"a\x87\x9A\xFA\x5B\xEE\xF9", "a\x81\xE6\x81\xE6\x81\xCA"},  // ∵ ∵ ￢
        {"\xFA\x4A\xED\x40", "\x87\x54\xFA\x5C"},                    // Ⅰ and an ideograph
        // 0xEE is the trail byte of ゐ here, and 0xEE at the end is a lone lead byte.
        {"\x82\xEE\xE0\x40\xEE", ""},
        {"\xEE\n\xE0", ""}};
    for (const auto& [text, expected] : cases) {
        std::string out = "untouched";
        EXPECT_EQ(normalizeCp932Duplicates(text, out), !expected.empty())
            << testing::PrintToString(text);
        EXPECT_EQ(out, expected.empty() ? "untouched" : expected) << testing::PrintToString(text);
    }
}

// What the code tables above do not show: how texts with stray or undefined bytes decode, and
// how characters without a code encode.
TEST(Cp932Text, DecodesAndEncodes) {
    const std::pair<std::string, std::u16string> decoded[] = {
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"\x95\x5C\x5C", u"表\\"},  // a trail byte '\\'
        // An undefined double-byte code is one U+30FB; a lead byte at the end is '?'; a lead
        // byte before a byte that is no trail byte is U+30FB and leaves that byte alone.
        {"\x85@a\xEB\x9F", u"\u30FBa\u30FB"},
        {"a\x82", u"a?"},
        {"\x82\n\x82\xA0", u"\u30FB\nあ"},
        {"\x82\x82\xA0", u"ｂ\uF8F0"}};
    for (const auto& [bytes, text] : decoded)
        EXPECT_EQ(cp932ToUtf16(bytes), text) << testing::PrintToString(bytes);

    // A character without a code is one '?' (a surrogate pair too, and a lone surrogate), or
    // its best-fit form when asked for.
    struct Encoded {
        std::u16string text;
        std::string bytes;
        std::string bestFit;
    };
    const Encoded encoded[] = {{u"a表〜−‖¢£¬", "a\x95\x5C??????",
                                "a\x95\x5C\x81\x60\x81\x7C\x81\x61\x81\x91\x81\x92\x81\xCA"},
                               {u"Café¥", "Caf??", "Cafe\\"},
                               {u"a\U0001F600b€", "a?b?", "a?b?"},
                               {u"a\xD83Dx\xDE00", "a?x?", "a?x?"},
                               {u"\xD83D\xD83D\xDE00", "??", "??"}};
    for (const auto& [text, bytes, bestFit] : encoded) {
        EXPECT_EQ(utf16ToCp932(text), bytes) << testing::PrintToString(bytes);
        EXPECT_EQ(cp932Length(text), bytes.size());
        EXPECT_EQ(utf16ToCp932(text, Cp932Fallback::BestFit), bestFit);
        EXPECT_EQ(cp932Length(text, Cp932Fallback::BestFit), bestFit.size());
    }
    EXPECT_EQ(utf8ToCp932("\xFF"), "?");  // invalid UTF-8 becomes U+FFFD, which has no code
}

}  // namespace
}  // namespace ferretta::platform
