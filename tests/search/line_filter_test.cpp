#include "search/line_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/cp932.h"
#include "platform/unicode.h"

namespace ferretta::search {
namespace {

// What the filter looks for, per query: the part folding leaves alone, the letters of an ASCII
// word in either case with their full-width forms as triggers, or every line.
TEST(LineFilter, RequiredLiterals) {
    struct Case {
        const char* query;
        bool regular;
        bool strict;
        TextForm form;
        std::string expected;
    };
    const std::string kensaku = platform::utf8ToCp932("検索対象");
    const Case cases[] = {
        // The exact form without its first byte (it may be a trail byte) covers the folded one.
        {"検索対象ファイル", false, false, TextForm::Cp932, "\"" + kensaku.substr(1) + "\""},
        {"検索対象ファイル", false, true, TextForm::Cp932,
         "\"" + platform::utf8ToCp932("検索対象ファイル").substr(1) + "\""},
        // In UTF-8 text, the line's ANSI form may hold the word from the second byte of a
        // character on too: then the line holds the characters of the bytes after the first.
        {"検索対象ファイル", false, false, TextForm::Utf8,
         "\"検索対象\" \"沚\xEE\x8F\xBCﾎ象ファイル\""},
        {"ferrettaneedle", false, false, TextForm::Cp932, "ci:\"errettaneedle\" +1 trigger groups"},
        {"ferrettaneedle", false, true, TextForm::Utf8, "ci:\"errettaneedle\" +2 trigger groups"},
        {"データ", false, false, TextForm::Cp932, "every line"},
        {"a", false, false, TextForm::Cp932, "every line"},
        {"&& a x検索対象", false, false, TextForm::Utf8, "ci:\"検索対象\""},
        {"a😀", false, false, TextForm::Cp932, "no line"},
        {"id-\\d{4}-[a-z]{3}", true, false, TextForm::Cp932, "ci:\"id-\""},
        {"x?abc+d", true, false, TextForm::Utf8, "ci:\"abc\""},
        {"a|bcd", true, false, TextForm::Utf8, "every line"},
        {"(", true, false, TextForm::Utf8, "no line"},
    };
    for (const Case& c : cases) {
        Matcher matcher(c.regular, c.strict);
        matcher.targetStrsSplit(c.query);
        EXPECT_EQ(LineFilter(matcher, c.form).describe(), c.expected) << c.query;
    }
}

TEST(LineFilter, PatternRuns) {
    const std::pair<const char*, std::vector<std::u32string>> cases[] = {
        {"ab*c", {U"a", U"c"}},
        {"ab+c{2}d{0,1}", {U"ab", U"c"}},
        {"\\x41\\u3042\\.b\\d(cd)[ef]g", {U"Aあ.b", U"g"}},
        {"a{,3}b", {U"a{,3}b"}},  // no quantifier: plain characters, as the engine reads them
        {"^検索$", {U"検索"}},
        {"(a|b)c", {U"c"}},
        {"a|b", {}},
    };
    for (const auto& [pattern, runs] : cases)
        EXPECT_EQ(requiredPatternRuns(platform::utf8ToUtf16(pattern)), runs) << pattern;
}

}  // namespace
}  // namespace ferretta::search
