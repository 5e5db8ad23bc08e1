#include "platform/unicode.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "support/encodings.h"

namespace ferretta::platform {
namespace {

TEST(Utf8Test, DecodesAndJudgesValidity) {
    const std::u16string bad = u"\uFFFD";
    // Valid texts round-trip exactly; every byte of an invalid sequence becomes one U+FFFD
    // (over-long forms, encoded surrogates, values beyond U+10FFFF, cut sequences).
    const std::tuple<std::string, std::u16string, bool> cases[] = {
        {"", u"", true},
        {"plain text, long enough for the wide path\n",
         u"plain text, long enough for the wide path\n", true},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3), true},
        {"\xC3\xA9zyxwvutsrqp", u"ézyxwvutsrqp", true},
        {"z\x80z", u"z\uFFFDz", false},
        {"\xC1\xBF", bad + bad, false},
        {"\xE0\x9F\xBF", bad + bad + bad, false},
        {"\xF0\x8F\xBF\xBF", bad + bad + bad + bad, false},
        {"\xED\xA0\x80\xED\xBF\xBF", bad + bad + bad + bad + bad + bad, false},
        {"\xF4\x90\x80\x80", bad + bad + bad + bad, false},
        {"\xF5\x80", bad + bad, false},
        {"z\xE3\x81", u"z\uFFFD\uFFFD", false},
        {"\xE3\x81z", u"\uFFFD\uFFFDz", false},
        {"\xE3\xE3\x81\x82", u"\uFFFDあ", false},
        {"\xC3\xA9\xA9", u"é\uFFFD", false}};
    for (const auto& [utf8, utf16, valid] : cases) {
        EXPECT_EQ(utf8ToUtf16(utf8), utf16) << testing::PrintToString(utf8);
        EXPECT_EQ(isValidUtf8(utf8), valid) << testing::PrintToString(utf8);
        if (valid) {
            EXPECT_EQ(utf16ToUtf8(utf16), utf8);
        }
    }

    // Unpaired surrogates become U+FFFD.
    const std::pair<std::u16string, std::string> unpaired[] = {
        {u"a\xD83Dz", "a\xEF\xBF\xBDz"},
        {u"a\xDE00", "a\xEF\xBF\xBD"},
        {u"\xD83D", "\xEF\xBF\xBD"},
        {u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"}};
    for (const auto& [utf16, utf8] : unpaired)
        EXPECT_EQ(utf16ToUtf8(utf16), utf8);
}

TEST(Utf8Test, TruncatedEndIsValidOnlyWhenAllowed) {
    // Valid without and with truncation allowed: only a sequence cut at the end may pass, not
    // one that is over-long, a surrogate or past U+10FFFF even before it ends.
    const std::tuple<std::string, bool, bool> cases[] = {
        {"abc", true, true},           {"a\xE3\x81", false, true},
        {"\xF0\x9F\x98", false, true}, {"\xC3", false, true},
        {"\xE0\x80", false, false},    {"\xED\xA0", false, false},
        {"\xF4\x90", false, false},    {"\xC0", false, false},
        {"\xE3\x81z", false, false},   {"\xE3\x81\x82\x80", false, false}};
    for (const auto& [bytes, strict, truncatedAllowed] : cases) {
        EXPECT_EQ(isValidUtf8(bytes), strict) << testing::PrintToString(bytes);
        EXPECT_EQ(isValidUtf8(bytes, true), truncatedAllowed) << testing::PrintToString(bytes);
    }
}

// glibc's converter as an independent reference for every scalar value.
TEST(Utf8Utf16, AllScalarValuesAgreeWithGlibc) {
    std::u16string all;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        if (cp < 0x10000) {
            all += static_cast<char16_t>(cp);
        } else {
            all += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            all += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    const auto reference =
        test::GlibcIconv("UTF-8", "UTF-16LE")(test::utf16Bytes(all, false, false));
    ASSERT_TRUE(reference);

    const std::string utf8 = utf16ToUtf8(all);
    EXPECT_EQ(utf8, *reference);
    EXPECT_TRUE(isValidUtf8(utf8));
    EXPECT_EQ(utf8ToUtf16(utf8), all);
}

}  // namespace
}  // namespace ferretta::platform
