#include "platform/width_fold.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <clocale>
#include <cwctype>
#include <string>

namespace ferretta::platform {
namespace {

struct FoldCase {
    const char* name;
    std::u16string text;
    std::u16string half;
    std::u16string upper;
};

class WidthFold : public testing::TestWithParam<FoldCase> {};

TEST_P(WidthFold, ConvertsAndFolds) {
    const FoldCase& c = GetParam();
    EXPECT_EQ(toHalfWidth(c.text), c.half);
    EXPECT_EQ(toUpperCase(c.text), c.upper);
    EXPECT_EQ(foldForMatch(c.text), toUpperCase(c.half));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WidthFold,
    testing::Values(
        FoldCase{"Empty", u"", u"", u""},
        FoldCase{"FullWidthAscii", u"ａｂｃ１！～", u"abc1!~", u"ＡＢＣ１！～"},
        FoldCase{"FullWidthEdges", u"\uFF01\uFF5E\uFF00\uFF5F", u"!~\uFF00\uFF5F",
                 u"\uFF01\uFF5E\uFF00\uFF5F"},
        FoldCase{"IdeographicSpace", u"a\u3000b", u"a b", u"A\u3000B"},
        FoldCase{"Katakana", u"アイウエオン", u"ｱｲｳｴｵﾝ", u"アイウエオン"},
        FoldCase{"SmallKatakana", u"ァッャョ", u"ｧｯｬｮ", u"ァッャョ"},
        FoldCase{"Voiced", u"ガザダバヴ", u"ｶﾞｻﾞﾀﾞﾊﾞｳﾞ", u"ガザダバヴ"},
        FoldCase{"SemiVoiced", u"パピプペポ", u"ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ", u"パピプペポ"},
        FoldCase{"NoHalfWidthForm", u"ヮヰヱヵヶヸヹ", u"ヮヰヱヵヶヸヹ", u"ヮヰヱヵヶヸヹ"},
        FoldCase{"VoicedWaWo", u"ヷヺヲ", u"ﾜﾞｦﾞｦ", u"ヷヺヲ"},
        FoldCase{"Marks", u"、。「」・ー゛゜", u"､｡｢｣･ｰﾞﾟ", u"、。「」・ー゛゜"},
        FoldCase{"OtherMarksStay", u"〃〆『』ヽヾ゠", u"〃〆『』ヽヾ゠", u"〃〆『』ヽヾ゠"},
        FoldCase{"HiraganaStays", u"ひらがな", u"ひらがな", u"ひらがな"},
        FoldCase{"KanjiStays", u"漢字", u"漢字", u"漢字"},
        FoldCase{"HalfWidthStays", u"ｱｶﾞﾊﾟ", u"ｱｶﾞﾊﾟ", u"ｱｶﾞﾊﾟ"},
        FoldCase{"Ascii", u"Hello, world 1!", u"Hello, world 1!", u"HELLO, WORLD 1!"},
        FoldCase{"SharpSStays", u"ß", u"ß", u"ß"}, FoldCase{"Latin", u"äéÿı", u"äéÿı", u"ÄÉŸI"},
        FoldCase{"Greek", u"αβςΐ", u"αβςΐ", u"ΑΒΣΐ"},
        FoldCase{"GreekIotaSubscript", u"ᾀᾳ", u"ᾀᾳ", u"ᾈᾼ"},
        FoldCase{"Cyrillic", u"жё", u"жё", u"ЖЁ"}, FoldCase{"RomanNumerals", u"ⅰⅻ", u"ⅰⅻ", u"ⅠⅫ"},
        FoldCase{"CircledLetters", u"ⓐ", u"ⓐ", u"Ⓐ"},
        FoldCase{"FullWidthLowerUppercases", u"ａ", u"a", u"Ａ"},
        FoldCase{"Surrogates", u"a\xD801\xDC28\xDC00", u"a\xD801\xDC28\xDC00",
                 u"A\xD801\xDC28\xDC00"}),
    [](const testing::TestParamInfo<FoldCase>& param) { return param.param.name; });

TEST(WidthFold, FoldsFullWidthGreekAndKatakanaTogether) {
    EXPECT_EQ(foldForMatch(u"ａｂｃガα"), u"ABCｶﾞΑ");
    EXPECT_EQ(foldForMatch(u"ｱ"), u"ｱ");
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
    if (utf8 == static_cast<locale_t>(nullptr)) {
        GTEST_SKIP() << "no C.UTF-8 locale";
    }
    int mismatches = 0;
    for (unsigned u = 0; u < 0x10000 && mismatches < 20; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) {
            continue;
        }
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
