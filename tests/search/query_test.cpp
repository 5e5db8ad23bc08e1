#include "search/query.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/cp932.h"

namespace ferretta::search {
namespace {

struct SplitCase {
    const char* query;
    std::vector<std::string> words;
    bool isAnd;
};

TEST(TargetStrsSplit, SplitsWordsAndMode) {
    const SplitCase cases[] = {
        {"ａｂｃ　def", {"ａｂｃ", "def"}, false},
        {"&& foo bar", {"foo", "bar"}, true},
        {"&&foo", {"&&foo"}, false},
        {"a  b", {"a", "b"}, false},
        {"   ", {}, false},
        {"x && y", {"x", "&&", "y"}, false},
        {"&&　foo", {"foo"}, true},  // the ideographic space is a blank before the prefix test
        {"1 2 3 4 5 6 7 8 9 10 11 12", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, false},
    };
    for (const auto& c : cases) {
        Matcher m(false, false);
        m.targetStrsSplit(c.query);
        ASSERT_EQ(m.targetStrsNumber(), static_cast<int>(c.words.size())) << c.query;
        EXPECT_EQ(m.isAndCondition(), c.isAnd) << c.query;
        for (std::size_t i = 0; i < c.words.size(); ++i)
            EXPECT_EQ(m.targetStr(static_cast<int>(i)), c.words[i]) << c.query;
    }
}

TEST(TargetStrsSplit, RegularKeepsWholeQueryAndOldMode) {
    Matcher m(true, false);
    m.targetStrsSplit("a b　c");
    EXPECT_EQ(m.targetStrsNumber(), 1);
    EXPECT_EQ(m.targetStr(0), "a b　c");
    EXPECT_FALSE(m.isAndCondition());
}

struct FindCase {
    const char* name;
    const char* query;
    bool strict;
    bool regular;
    std::string text;  // UTF-8
    std::int32_t expected;
};

TEST(SmartFind, Table) {
    const std::string longPrefix(40000, 'x');
    const FindCase cases[] = {
        {"folded full-width word", "ａｂｃ　def", false, false, "xx ABC", 4},
        {"and mode answers word 0", "&& foo bar", false, false, "bar foo", 5},
        {"and mode needs every word", "&& foo bar", false, false, "foo", 0},
        {"or mode first word found wins", "zzz bar foo", false, false, "foo bar", 5},
        {"strict keeps case", "ABC", true, false, "abc", 0},
        {"folded finds case", "ABC", false, false, "..abc", 3},
        {"three kanji then word", "abc", false, false, "漢字列abc", 7},
        {"exact before folded", "abc", false, false, "ABC abc", 5},
        {"byte-wise inside a double-byte character", "A", true, false, "ア", 2},
        {"full-width query matches half-width text", "ＦＥＲＲＥＴＴＡ", false, false,
         "日本ferretta", 5},
        {"katakana folds to half-width", "データ", false, false, "ﾃﾞｰﾀ", 1},
        {"half-width query finds full-width katakana", "ﾃﾞｰﾀ", false, false, "「データ」", 3},
        // A voiced katakana folds to two characters; the folded character position is applied
        // to the original text, so the column after it shifts by one.
        {"voiced katakana shifts the folded position", "ABC", false, false, "ガabc", 4},
        {"ideographic space in the text counts as a character", "b", false, false, "　b", 3},
        {"regex ignores case", "a.c", false, true, "xxABC", 3},
        {"regex position counts double-byte characters", "b+", false, true, "日本abb", 6},
        {"regex invalid pattern never matches", "(", false, true, "(((", 0},
        {"regex ignores strict", "abc", true, true, "ABC", 1},
        {"empty text", "a", false, false, "", 0},
        {"blank query", " ", false, false, "a b", 0},
        {"position beyond 16 bits is reported", "abc", false, false, longPrefix + "abc", 40001},
    };
    for (const auto& c : cases) {
        Matcher m(c.regular, c.strict);
        m.targetStrsSplit(c.query);
        EXPECT_EQ(m.smartFind(c.text), c.expected) << c.name;
    }
}

TEST(SmartFind, CharactersWithoutACodeOfTheirOwn) {
    const FindCase cases[] = {
        // Best-fit forms: what a Unicode input method types finds the CP932 character.
        {"wave dash finds fullwidth tilde", "10〜20", true, false, "10～20", 1},
        {"minus finds fullwidth hyphen-minus", "−5", true, false, "差は－5", 5},
        {"accented letter finds its best fit", "café", true, false, "Cafe cafe", 6},
        // A character without any form matches only itself, never a '?'.
        {"emoji is not a question mark", "a😀", false, false, "a? a?", 0},
        {"emoji finds itself", "a😀", false, false, "xa😀", 2},
        {"emoji finds itself, not another", "😀", false, false, "😁😀", 2},
        {"question mark is not an emoji", "?", true, false, "😀?", 2},
        {"and mode with an emoji", "&& a 😀", false, false, "a?", 0},
    };
    for (const auto& c : cases) {
        Matcher m(c.regular, c.strict);
        m.targetStrsSplit(c.query);
        EXPECT_EQ(m.smartFind(c.text), c.expected) << c.name;
    }
}

// A CP932 line is matched as its own bytes, with each duplicate code (what other tools write
// for NEC and IBM characters) matching the code the encoder writes; columns are the line's.
TEST(SmartFind, Cp932LinesWithDuplicateCodes) {
    const std::tuple<const char*, bool, std::string, std::int32_t> cases[] = {
        {"髙橋", true, "\xEE\xE0\x8B\xB4", 1},
        {"髙橋", false, "\x83\x4B\xEE\xE0\x8B\xB4", 3},  // after ガ: a byte column
        {"∵ ≒", true, "\xFA\x5B", 1},
        {"∵", true, "xx\x87\x9A", 3},
        {"ⅰ", true, "\xEE\xEF", 1},
        {"&& ＡＢＣ 検索", false, "abc\x82\xCC\x8C\x9F\x8D\xF5", 1},
        {"〜", true, "\x81\x60", 1},
        {"😀", false, "?", 0},
    };
    for (const auto& [query, strict, line, expected] : cases) {
        Matcher m(false, strict);
        m.targetStrsSplit(query);
        EXPECT_EQ(m.smartFindCp932(line), expected) << query;
        // The same line from a UTF-8 file gives the same answer.
        if (platform::utf8ToCp932(platform::cp932ToUtf8(line)) == line) {
            EXPECT_EQ(m.smartFind(platform::cp932ToUtf8(line)), expected) << query;
        }
    }
}

TEST(CountDoubleByteChars, CountsTwoByteCharacters) {
    EXPECT_EQ(countDoubleByteChars(u""), 0);
    EXPECT_EQ(countDoubleByteChars(u"abc"), 0);
    EXPECT_EQ(countDoubleByteChars(u"日本abc"), 2);
    EXPECT_EQ(countDoubleByteChars(u"ｱｲｳ"), 0);  // half-width katakana take one byte
}

}  // namespace
}  // namespace ferretta::search
