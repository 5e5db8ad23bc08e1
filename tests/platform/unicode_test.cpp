#include "platform/unicode.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <string>

namespace ferretta::platform {
namespace {

struct Utf8Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
    bool valid;
};

class Utf8Decode : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Decode, DecodesAndJudgesValidity) {
    const Utf8Case& c = GetParam();
    EXPECT_EQ(utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(isValidUtf8(c.utf8), c.valid);
    if (c.valid) {
        EXPECT_EQ(utf16ToUtf8(c.utf16), c.utf8);
    }
}

const std::u16string kBad = u"\uFFFD";

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Decode,
    testing::Values(Utf8Case{"Empty", "", u"", true},
                    Utf8Case{"Ascii", "plain text, long enough for the wide path\n",
                             u"plain text, long enough for the wide path\n", true},
                    Utf8Case{"Nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3), true},
                    Utf8Case{"TwoBytes", "\xC2\x80\xDF\xBF", u"\u0080\u07FF", true},
                    Utf8Case{"ThreeBytes", "\xE0\xA0\x80\xEF\xBF\xBF", u"\u0800\uFFFF", true},
                    Utf8Case{"Japanese", "日本語のテキスト", u"日本語のテキスト", true},
                    Utf8Case{"FourBytes", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
                             u"\U00010000\U0010FFFF", true},
                    Utf8Case{"AsciiAfterMultiByte",
                             "\xC3\xA9"
                             "abcdefghijk",
                             u"éabcdefghijk", true},
                    Utf8Case{"StrayContinuation",
                             "a\x80"
                             "b",
                             u"a\uFFFDb", false},
                    Utf8Case{"OverlongTwo", "\xC0\x80", kBad + kBad, false},
                    Utf8Case{"OverlongTwoC1", "\xC1\xBF", kBad + kBad, false},
                    Utf8Case{"OverlongThree", "\xE0\x80\x80", kBad + kBad + kBad, false},
                    Utf8Case{"OverlongThreeHigh", "\xE0\x9F\xBF", kBad + kBad + kBad, false},
                    Utf8Case{"OverlongFour", "\xF0\x8F\xBF\xBF", kBad + kBad + kBad + kBad, false},
                    Utf8Case{"EncodedSurrogate", "\xED\xA0\x80\xED\xBF\xBF",
                             kBad + kBad + kBad + kBad + kBad + kBad, false},
                    Utf8Case{"BeyondUnicode", "\xF4\x90\x80\x80", kBad + kBad + kBad + kBad, false},
                    Utf8Case{"F5Lead", "\xF5\x80", kBad + kBad, false},
                    Utf8Case{"FF",
                             "\xFF"
                             "a",
                             u"\uFFFDa", false},
                    Utf8Case{"TruncatedAtEnd", "a\xE3\x81", u"a\uFFFD\uFFFD", false},
                    Utf8Case{"TruncatedBeforeAscii",
                             "\xE3\x81"
                             "a",
                             u"\uFFFD\uFFFDa", false},
                    Utf8Case{"TruncatedBeforeLead", "\xE3\xE3\x81\x82", u"\uFFFDあ", false},
                    Utf8Case{"TooManyContinuations", "\xC3\xA9\xA9", u"é\uFFFD", false},
                    Utf8Case{"FourTruncated", "\xF0\x9F\x98", kBad + kBad + kBad, false}),
    [](const testing::TestParamInfo<Utf8Case>& param) { return param.param.name; });

TEST(Utf16ToUtf8, UnpairedSurrogatesBecomeReplacement) {
    struct Case {
        std::u16string utf16;
        std::string utf8;
    };
    const Case cases[] = {
        {u"a\xD83D"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {u"a\xDE00", "a\xEF\xBF\xBD"},
        {u"\xD83D", "\xEF\xBF\xBD"},
        {u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {u"\xD800\xDC00\xDBFF\xDFFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf16ToUtf8(c.utf16), c.utf8);
    }
}

TEST(IsValidUtf8, TruncatedEndOnlyWhenAllowed) {
    struct Case {
        std::string bytes;
        bool strict;
        bool truncatedAllowed;
    };
    const Case cases[] = {
        {"abc", true, true},
        {"a\xE3\x81", false, true},
        {"a\xE3", false, true},
        {"\xF0\x9F\x98", false, true},
        {"\xC3", false, true},
        {"\xE0\x80", false, false},  // over-long even before it ends
        {"\xED\xA0", false, false},  // a surrogate
        {"\xF4\x90", false, false},  // past U+10FFFF
        {"\xC0", false, false},      // can never start a sequence
        {"\xE3\x81"
         "a",
         false, false},  // cut off before the end
        {"\xE3\x81\x82\x80", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isValidUtf8(c.bytes), c.strict) << testing::PrintToString(c.bytes);
        EXPECT_EQ(isValidUtf8(c.bytes, true), c.truncatedAllowed)
            << testing::PrintToString(c.bytes);
    }
}

// glibc's converter as an independent reference for every scalar value.
TEST(Utf8Utf16, AllScalarValuesAgreeWithGlibc) {
    std::u16string all;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            continue;
        }
        if (cp < 0x10000) {
            all += static_cast<char16_t>(cp);
        } else {
            all += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            all += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    std::string le;
    for (const char16_t u : all) {
        le += static_cast<char>(u & 0xFF);
        le += static_cast<char>(u >> 8);
    }
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string reference(le.size() * 2, '\0');
    char* in = le.data();
    std::size_t inLeft = le.size();
    char* out = reference.data();
    std::size_t outLeft = reference.size();
    const std::size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
    iconv_close(cd);
    ASSERT_NE(result, static_cast<std::size_t>(-1));
    reference.resize(reference.size() - outLeft);

    const std::string utf8 = utf16ToUtf8(all);
    EXPECT_EQ(utf8, reference);
    EXPECT_TRUE(isValidUtf8(utf8));
    EXPECT_EQ(utf8ToUtf16(utf8), all);
}

TEST(Utf8Utf16, RandomBytesNeverGrowAndRoundTripExactlyWhenValid) {
    std::mt19937 random(8);
    // Bytes weighted towards the interesting ranges: ASCII, continuations and lead bytes.
    const unsigned char pool[] = {'a',  0x00, 0x7F, 0x80, 0x8F, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2,
                                  0xDF, 0xE0, 0xE3, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof pool - 1);
    for (int i = 0; i < 20000; ++i) {
        std::string bytes;
        for (int j = 0; j < i % 24; ++j) {
            bytes += static_cast<char>(pool[pick(random)]);
        }
        const std::u16string text = utf8ToUtf16(bytes);
        ASSERT_LE(text.size(), bytes.size());
        const std::string back = utf16ToUtf8(text);
        ASSERT_EQ(back == bytes, isValidUtf8(bytes)) << testing::PrintToString(bytes);
        ASSERT_TRUE(isValidUtf8(back));
        // A prefix of a valid text is valid once truncation at the end is allowed.
        if (isValidUtf8(bytes) && !bytes.empty()) {
            ASSERT_TRUE(isValidUtf8(std::string_view(bytes).substr(0, bytes.size() - 1), true));
        }
    }
}

}  // namespace
}  // namespace ferretta::platform
