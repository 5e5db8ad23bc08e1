#include "search/query.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/cp932.h"
#include "platform/unicode.h"
#include "search/hit_spans.h"

namespace ferretta::search {
namespace {

struct SplitCase {
    const char* query;
    std::vector<std::string> words;
    bool isAnd;
    bool regular = false;
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
        {"a b　c", {"a b　c"}, false, true},  // a pattern is one word; the mode stays
    };
    for (const auto& c : cases) {
        Matcher m(c.regular, false);
        m.targetStrsSplit(c.query);
        ASSERT_EQ(m.targetStrsNumber(), static_cast<int>(c.words.size())) << c.query;
        EXPECT_EQ(m.isAndCondition(), c.isAnd) << c.query;
        for (std::size_t i = 0; i < c.words.size(); ++i)
            EXPECT_EQ(m.targetStr(static_cast<int>(i)), c.words[i]) << c.query;
    }
}

// Query, strict, regular, text (UTF-8), expected position.
using FindCase = std::tuple<const char*, bool, bool, std::string, std::int32_t>;

TEST(SmartFind, Table) {
    const FindCase cases[] = {
        {"ａｂｃ　def", false, false, "xx ABC", 4},  // folded full-width word
        {"&& foo bar", false, false, "bar foo", 5},  // AND answers word 0
        {"&& foo bar", false, false, "foo", 0},
        {"zzz bar foo", false, false, "foo bar", 5},  // OR: the first word found
        {"ABC", true, false, "abc", 0},
        {"ABC", false, false, "..abc", 3},
        {"abc", false, false, "漢字列abc", 7},
        {"abc", false, false, "ｱｲABC", 3},    // half-width katakana take one byte
        {"abc", false, false, "ABC abc", 5},  // the exact pass first
        {"A", true, false, "ア", 2},          // byte-wise inside a double-byte character
        {"データ", false, false, "ﾃﾞｰﾀ", 1},
        // A voiced katakana folds to two characters; the folded character position is applied
        // to the original text, so the column after it shifts by one.
        {"ABC", false, false, "ガabc", 4},
        {"b", false, false, "　b", 3},
        {"a.c", false, true, "xxABC", 3},  // regular expressions ignore case ...
        {"b+", false, true, "日本abb", 6},
        {"(", false, true, "(((", 0},
        {"abc", true, true, "ABC", 1},  // ... and strict
        {" ", false, false, "a b", 0},
        {"abc", false, false, std::string(40000, 'x') + "abc", 40001},  // beyond 16 bits
        // Best-fit forms: what a Unicode input method types finds the CP932 character.
        {"10〜20", true, false, "10～20", 1},
        {"−5", true, false, "差は－5", 5},
        {"café", true, false, "Cafe cafe", 6},
        // A character without any form matches only itself, never a '?'.
        {"a😀", false, false, "a? a?", 0},
        {"😀", false, false, "😁😀", 2},
        {"?", true, false, "😀?", 2},
        {"&& a 😀", false, false, "a?", 0},
    };
    for (const auto& [query, strict, regular, text, expected] : cases) {
        Matcher m(regular, strict);
        m.targetStrsSplit(query);
        EXPECT_EQ(m.smartFind(text), expected) << query << " in " << text;
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
        {"〜", true, "\x81\x60", 1},
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

// What the results list marks: every word where the matcher would find it, merged.
TEST(HitSpans, MarksEveryPlaceOfTheWordsAsTheyAreMatched) {
    struct Case {
        const char* query;
        bool regular, strict;
        const char* text;
        std::vector<TextSpan> spans;  // in UTF-16 units
    };
    const Case cases[] = {
        {"見積 議事録", false, false, "見積と議事録と見積", {{0, 2}, {3, 6}, {7, 9}}},
        {"ferretta", false, false, "Ｆｅｒｒｅｔｔａ and FERRETTA", {{0, 8}, {13, 21}}},
        {"ferretta", false, true, "Ｆｅｒｒｅｔｔａ and FERRETTA ferretta", {{22, 30}}},
        {"ﾃﾞｰﾀ", false, false, "新データ", {{1, 4}}},  // folded: ﾃﾞ is two halves of デ
        {"ｶ", false, false, "ガ", {{0, 1}}},
        {"ab bc", false, false, "abc", {{0, 3}}},  // overlapping words merge
        {"&& a b", false, false, "ba", {{0, 2}}},
        {"a.c", true, false, "abc ABC a\nc", {{0, 3}, {4, 7}}},
        {"x*", true, false, "axxb", {{1, 3}}},  // empty matches mark nothing
        {"(", true, false, "(((", {}},          // an invalid pattern marks nothing
        {"", false, false, "abc", {}},
    };
    for (const Case& c : cases) {
        Matcher m(c.regular, c.strict);
        m.targetStrsSplit(c.query);
        EXPECT_EQ(hitSpans(m, platform::utf8ToUtf16(c.text)), c.spans)
            << c.query << " / " << c.text;
    }
    Matcher many(false, false);
    many.targetStrsSplit("a");
    EXPECT_EQ(hitSpans(many, std::u16string(1000, u'a'), 3), (std::vector<TextSpan>{{0, 1000}}));
    EXPECT_EQ(hitSpans(many, u"a-a-a-a-a", 3).size(), 3u);  // at most the limit
}

}  // namespace
}  // namespace ferretta::search
