#include "platform/width_fold.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <clocale>
#include <cwctype>
#include <string>
#include <tuple>

namespace ferretta::platform {
namespace {

TEST(WidthFold, ConvertsAndFolds) {
    // text, its half-width form, its upper case (the upper case of single characters is checked
    // against glibc below).
    const std::tuple<std::u16string, std::u16string, std::u16string> cases[] = {
        {u"", u"", u""},
        {u"ａｂｃ１！～", u"abc1!~", u"ＡＢＣ１！～"},
        {u"\uFF01\uFF5E\uFF00\uFF5F", u"!~\uFF00\uFF5F", u"\uFF01\uFF5E\uFF00\uFF5F"},
        {u"a\u3000b", u"a b", u"A\u3000B"},
        {u"アイウエオン", u"ｱｲｳｴｵﾝ", u"アイウエオン"},
        {u"ァッャョ", u"ｧｯｬｮ", u"ァッャョ"},
        {u"ガザダバヴ", u"ｶﾞｻﾞﾀﾞﾊﾞｳﾞ", u"ガザダバヴ"},
        {u"パピプペポ", u"ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ", u"パピプペポ"},
        {u"ヮヰヱヵヶヸヹ", u"ヮヰヱヵヶヸヹ", u"ヮヰヱヵヶヸヹ"},  // no half-width form
        {u"ヷヺヲ", u"ﾜﾞｦﾞｦ", u"ヷヺヲ"},
        {u"、。「」・ー゛゜", u"､｡｢｣･ｰﾞﾟ", u"、。「」・ー゛゜"},
        {u"〃〆『』ヽヾ゠", u"〃〆『』ヽヾ゠", u"〃〆『』ヽヾ゠"},
        {u"ひらがな漢字ｱｶﾞﾊﾟ", u"ひらがな漢字ｱｶﾞﾊﾟ", u"ひらがな漢字ｱｶﾞﾊﾟ"},
        // A character outside the BMP keeps its surrogates whatever its case.
        {u"a\xD801\xDC28\xDC00", u"a\xD801\xDC28\xDC00", u"A\xD801\xDC28\xDC00"}};
    for (const auto& [text, half, upper] : cases) {
        EXPECT_EQ(toHalfWidth(text), half);
        EXPECT_EQ(toUpperCase(text), upper);
        EXPECT_EQ(foldForMatch(text), toUpperCase(half));
    }
}

TEST(WidthFold, OnlyTheFullWidthBlocksChangeAndTheResultIsStable) {
    for (unsigned u = 0; u < 0x10000; ++u) {
        const std::u16string one(1, static_cast<char16_t>(u));
        const std::u16string half = toHalfWidth(one);
        const bool mayChange = (u >= 0x3000 && u <= 0x30FF) || (u >= 0xFF01 && u <= 0xFF5E);
        if (!mayChange) {
            ASSERT_EQ(half, one) << std::hex << u;
        }
        ASSERT_LE(half.size(), 2u);
        ASSERT_EQ(toHalfWidth(half), half) << std::hex << u;
        ASSERT_EQ(toUpperCase(one).size(), 1u);
        ASSERT_EQ(foldForMatch(one), toUpperCase(half)) << std::hex << u;
    }
}

// glibc's towupper in C.UTF-8 is a simple mapping built from its own copy of the Unicode data:
// an independent reference. They agree on the whole BMP (glibc 2.36 and our Unicode 15 data);
// should a newer Unicode version on either side make them part, list the characters here.
TEST(WidthFold, UpperCaseAgreesWithGlibc) {
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (utf8 == static_cast<locale_t>(nullptr))
        GTEST_SKIP() << "no C.UTF-8 locale";
    int mismatches = 0;
    for (unsigned u = 0; u < 0x10000 && mismatches < 20; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF)
            continue;
        const auto ch = static_cast<char16_t>(u);
        wint_t reference = towupper_l(static_cast<wint_t>(u), utf8);
        if (reference > 0xFFFF) {
            reference = u;  // leaves the BMP: not a one-unit mapping
        }
        const auto expected = static_cast<char16_t>(reference);
        const char16_t ours = toUpperCase(std::u16string(1, ch))[0];
        if (ours != expected) {
            ++mismatches;
            ADD_FAILURE() << std::hex << "U+" << u << ": ours U+" << unsigned{ours} << ", glibc U+"
                          << unsigned{expected};
        }
    }
    freelocale(utf8);
}

}  // namespace
}  // namespace ferretta::platform
