#include "search/line_filter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/unicode.h"
#include "search/query.h"

namespace ferretta::search {
namespace {

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

// A UTF-8 line found at a full-width letter of an ASCII word is read only around its letters:
// every line the matcher matches must still be let through, and a line whose letters are far
// apart is not.
TEST(LineFilter, Utf8FullWidthLettersAreReadAroundTheirPlaces) {
    const std::pair<const char*, bool> lines[] = {
        {"ＵＰ 検索 検索 検索 upＤate", true},  // the match far behind the first letter
        {"xx upＤate", true},                   // ASCII before the letter
        {"ＵＰ 検索 update", true},             // the literal
        {"ｕｐｄａｔｅ", true},
        {"検索 ùpdate", true},  // best fit to ANSI
        {"ＵＰ 検索 date", false},
    };
    Matcher matcher(false, false);
    matcher.targetStrsSplit("update");
    const LineFilter filter(matcher, TextForm::Utf8);
    std::string block;
    for (const auto& [line, matches] : lines)
        block += std::string(line) + "\n";
    LineFilter::Scan scan(filter, block);
    std::size_t start = 0;
    for (const auto& [line, matches] : lines) {
        const std::string_view text = std::string_view(block).substr(start, std::strlen(line));
        ASSERT_EQ(matcher.smartFind(text) != 0, matches) << line;
        const std::size_t at = scan.next(start);
        const bool passed = at < start + text.size() && scan.lineMayMatch(text);
        EXPECT_EQ(passed, matches) << line;
        start += text.size() + 1;
    }
}

}  // namespace
}  // namespace ferretta::search
