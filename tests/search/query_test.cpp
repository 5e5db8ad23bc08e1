#include "search/query.h"

#include <gtest/gtest.h>

#include <string>
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

TEST(SmartFind, AnsiAndUtf8FormsAgree) {
    Matcher m(false, false);
    m.targetStrsSplit("&& ＡＢＣ 検索");
    for (std::string text : {"検索abc", "abcの検索", "ＡＢＣと検索", "検索", "abc", "ｶﾞabc検索"}) {
        std::string ansi = platform::utf8ToCp932(text);
        EXPECT_EQ(m.smartFindCp932(ansi), m.smartFind(text)) << text;
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
