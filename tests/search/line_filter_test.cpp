#include "search/line_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/unicode.h"

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

}  // namespace
}  // namespace ferretta::search
