#include "platform/regex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace ferretta::platform {
namespace {

constexpr std::optional<std::size_t> kNone = std::nullopt;

struct MatchCase {
    const char* pattern;
    std::u16string text;
    std::optional<std::size_t> index;
};

std::optional<std::size_t> firstIndex(const char* pattern, std::u16string_view text) {
    std::string error;
    auto regex = Regex::compile(pattern, &error);
    EXPECT_TRUE(regex.has_value()) << pattern << ": " << error;
    if (!regex)
        return std::nullopt;
    return regex->firstIndex(text);
}

void runTable(const std::vector<MatchCase>& cases) {
    for (const MatchCase& c : cases)
        EXPECT_EQ(firstIndex(c.pattern, c.text), c.index) << "pattern " << c.pattern;
}

// Patterns follow JScript's syntax, case-insensitive, and full-width letters match too.
TEST(RegexTest, SyntaxFollowsJScript) {
    runTable({
        {"a.c", u"xxABC", 2},
        {"ABC", u"xabc", 1},
        {"\xef\xbc\xa1", u"x\uff41", 1},  // full-width A finds full-width a
        {"abc$", u"abc\n", kNone},        // $ only at the very end
        {"x{", u"ax{", 1},                // not a quantifier: a literal brace
        {"\\u{2}", u"uu", 0},             // \u without four digits is 'u', then {2}
        {"a*?", u"b", 0},
        {"", u"abc", 0},
        {"^$", u"", 0},
        // The dot excludes exactly JScript's line ends.
        {".", u"\n\r\u2028\u2029x", 4},
        {".", u"\v", 0},
        {".", u"\u0085", 0},
        {"[.]", u"a.", 1},
        {"\\.", u"a.", 1},
        // Lookbehind and a repeated lookahead are taken as PCRE2 takes them.
        {"(?<=a)b", u"bab", 2},
        {"(?=a)*b", u"b", 0},
        // Indexes count UTF-16 units; a lone surrogate in the text does not stop the search.
        {"x", u"\U0001F600x", 2},
        {"\u3042", u"\U0001F600\U0001F600\u3042", 4},
        {"b", {u'\xD800', u'b'}, 1},
        {"a", {u'\xDC00', u'\xD800', u'\xD800', u'a'}, 3},
    });
}

TEST(RegexTest, ClassesAndEscapesFollowJScript) {
    runTable({
        {"[^]", u"\n", 0},
        {"[]", u"abc", kNone},
        {"[]a]", u"a]", kNone},        // [] is a class of nothing, followed by "a]"
        {"\\d", u"\uff11\uff123", 2},  // full-width digits are not \d
        {"\\w", u"\uff41b", 1},
        {"\\W", u"ab\u3042", 2},
        {"[a-c]", u"xB", 1},
        {"[\\d-z]", u"a-", 1},
        {"[a-\\d]", u"b-", 1},
        {"[\\s-z]", u"a-", 1},
        {"[[:alpha:]]", u"a", kNone},  // no POSIX classes: "[[:alph" and then "]"
        {"[\\b]", u"a\b", 1},
        {"[\\B]", u"xb", 1},
        {"[\\1]", u"a\x01", 1},
        {"[\\cJ]", u"a\n", 1},
        {"[\\u3042]", u"x\u3042", 1},
        // \s and \S know the Unicode spaces, inside classes too.
        {"\\s", u"\u3042\u3000", 1},
        {"\\s", u"a\u00a0", 1},
        {"\\S", u"\u3000 \tx", 3},
        {"[\\s]", u"a\u3000", 1},
        {"[^\\s]", u" \u3000b", 2},
        {"[\\S]", u"\u3000a", 1},
        {"[\\Sa]", u" a", 1},
        {"[^\\S]", u"a\u3000", 1},
        {"[^\\Sb]", u"b\u3000", 1},
        {"[^\\S]+x", u"ab \u3000x", 2},
        {"\\v", u"a\nb\v", 3},
        {"\\u3042", u"\u3044\u3042", 1},
        {"\\x41", u"xa", 1},
        {"\\x4g", u"x4g", 0},  // \x without two digits is 'x'
        {"\\uD83D\\uDE00", u"x\U0001F600", 1},
        {"\\uD83Dx", u"\xD83Dx", kNone},  // the lone surrogate became U+FFFD
        {"\\cJ", u"a\n", 1},
        {"\\c", u"\\c", 0},
        {"\\A", u"xa", 1},  // letters PCRE2 knows as escapes are plain letters
        {"\\Q", u"q", 0},
        {"\\h", u" h", 1},
        {"\\p{L}", u"p{L}", 0},  // \p is "p", {L} is no quantifier
        {"\\p", u"ap", 1},
        {"\\\u3042", u"x\u3042", 1},
        {"\\0", std::u16string(u"a\0", 2), 1},
        {"\\101", u"xA", 1},  // no groups: octal
        {"\\8", u"x8", 1},
        {"(a)\\1", u"xaa", 1},
        {"(a)\\10", u"a\b", 0},  // more than the groups: octal 010
        {"\\1(a)", u"a", 0},     // a reference to an unset group matches empty
        {"(a)\\2", u"a\x02", 0},
    });
}

// Search workers share one compiled pattern; each match must see only its own text.
TEST(RegexTest, ThreadsMatchWithOnePattern) {
    const auto regex = Regex::compile("(b+)c");
    ASSERT_TRUE(regex);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const std::u16string text = std::u16string(static_cast<std::size_t>(t), u'a') + u"bbc";
            for (int i = 0; i < 200000; ++i) {
                if (regex->firstIndex(text) != static_cast<std::size_t>(t))
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

TEST(RegexTest, InvalidPatternsGiveAnError) {
    for (const char* pattern : {"(", "a)", "[a", "\\", "*", "a**", "a++", "a{2}+", "a{2,1}",
                                "(*LIMIT_MATCH=1)a", "(?i)a", "(?<n>a)", "(?#x)", "(?>a)", "^*"}) {
        std::string error;
        EXPECT_FALSE(Regex::compile(pattern, &error).has_value()) << pattern;
        EXPECT_FALSE(error.empty()) << pattern;
    }
    EXPECT_FALSE(Regex::compile("(").has_value());  // no error text wanted
    // The error names the position in the pattern.
    std::string error;
    ASSERT_FALSE(Regex::compile("\\s\\s(ab", &error));
    EXPECT_NE(error.find("character"), std::string::npos) << error;
}

TEST(RegexTest, CatastrophicPatternGivesUpQuickly) {
    // Generous for sanitizer builds; an uncapped engine takes minutes here.
    const std::tuple<const char*, std::u16string, int> cases[] = {
        {"(a+)+$", std::u16string(30, u'a') + u"b", 2},
        {"(x+x+)+y", std::u16string(5000, u'x'), 5}};
    for (const auto& [pattern, text, seconds] : cases) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(firstIndex(pattern, text), kNone) << pattern;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(seconds))
            << pattern;
    }
}

TEST(RegexTest, HeavyButHonestPatternsStillMatchLongLinesToTheEnd) {
    std::u16string pairs;
    for (int i = 0; i < 50'000; ++i)
        pairs += u"ab";
    pairs += u"c";
    EXPECT_EQ(firstIndex("(a|b)*c", pairs), 0u);
    EXPECT_EQ(firstIndex("^(ab)+c$", pairs), 0u);
    EXPECT_EQ(firstIndex("a.*b.*c$", pairs), 0u);
    EXPECT_EQ(firstIndex("x\\d", std::u16string(1'000'000, u'a') + u"x1"), 1'000'000u);
}

}  // namespace
}  // namespace ferretta::platform
