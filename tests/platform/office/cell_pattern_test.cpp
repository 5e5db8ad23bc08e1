#include "platform/office/cell_pattern.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/width_fold.h"

namespace ferretta::platform::office {
namespace {

// The Excel search rules cells out by a byte search for the plain run; that is sound only if
// no other character folds to a character kept as itself.
TEST(CellPattern, OnlyAKeptCharacterFoldsToIt) {
    for (unsigned code = 0; code <= 0xFFFF; ++code) {
        const auto unit = static_cast<char16_t>(code);
        const std::u16string folded = foldForMatch(std::u16string(1, unit));
        if (CellPattern::keepsItself(unit)) {
            EXPECT_EQ(folded, std::u16string(1, unit)) << std::hex << code;
        }
        for (const char16_t out : folded) {
            if (CellPattern::keepsItself(out)) {
                EXPECT_EQ(out, unit) << std::hex << code;
            }
        }
    }
}

TEST(CellPattern, PlainRunIsHeldByEveryCellFound) {
    const struct {
        std::u16string word;
        std::u16string plain;
        std::u16string found;  // a cell the word finds
    } cases[] = {
        {u"検索", u"検索", u"全文検索です"},
        {u"ab検索", u"検索", u"ＡＢ検索"},
        {u"会議*資料です", u"資料です", u"会議の資料です"},
        {u"東?京都", u"京都", u"東西京都"},
        {u"カタカナ", u"", u"ｶﾀｶﾅ"},    // katakana changes width
        {u"が゛", u"が", u"が\uFF9E"},  // the voicing mark folds
        {u"abc", u"", u"ABC"},
    };
    for (const auto& c : cases) {
        const CellPattern pattern(c.word);
        EXPECT_EQ(pattern.plainRun(), c.plain);
        EXPECT_TRUE(pattern.foundIn(c.found));
        EXPECT_NE(c.found.find(c.plain), std::u16string::npos);
    }
}

}  // namespace
}  // namespace ferretta::platform::office
