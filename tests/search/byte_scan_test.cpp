#include "search/byte_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace ferretta::search {
namespace {

using namespace std::string_literals;

bool sameAt(std::string_view text, std::size_t at, const LiteralFinder::Literal& literal) {
    if (text.size() - at < literal.bytes.size())
        return false;
    for (std::size_t k = 0; k < literal.bytes.size(); ++k) {
        const auto a = static_cast<unsigned char>(text[at + k]);
        const auto b = static_cast<unsigned char>(literal.bytes[k]);
        const bool letters = ((a | 0x20) >= 'a' && (a | 0x20) <= 'z' && (a | 0x20) == (b | 0x20));
        if (a != b && !(literal.caseless && letters))
            return false;
    }
    return true;
}

// Random texts of a few bytes that make near misses likely, line ends among them: every vector
// loop (line ends counted, found forwards and backwards, one literal by its anchors, many by
// their fingerprints of four bytes or, in UTF-8 when each literal holds a character that is
// not common, of that character's last two) must answer what a plain loop answers, at every
// offset and near the ends.
TEST(ByteScan, AgreesWithPlainLoops) {
    // Near misses of Japanese text; the last three are デ, ﾀ and ー.
    const std::vector<std::string> alphabet = {
        "a",    "B",    "\r",           "\n",           "\xE3\x83",    "\x83", "x",
        "\xEF", "\xBD", "\xE3",         "\x82\xBF",     "ab",          "AB",   "\r\n",
        "\0"s,  "c",    "\xE3\x83\x87", "\xEF\xBE\x80", "\xE3\x83\xBC"};
    std::mt19937 random(2024);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (std::size_t i = 0, n = pick(200); i < n; ++i)
            text += alphabet[pick(alphabet.size())];
        std::size_t ends = 0;
        for (std::size_t i = 0; i < text.size(); ++i)
            ends += text[i] == '\n' ||
                    (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
        ASSERT_EQ(countLineEnds(text), ends) << round;
        if (round < 3) {
            // Counts kept in byte lanes must not wrap over a long run of line ends.
            const std::string many[] = {std::string(70001, '\n'), std::string(70001, '\r')};
            ASSERT_EQ(countLineEnds(many[round % 2] + text), 70001 + ends) << round;
        }
        const std::size_t from = pick(text.size() + 1);
        const std::size_t end = text.find_first_of("\r\n", from);
        EXPECT_EQ(lineEndFrom(text, from), end == std::string::npos ? text.size() : end);
        const std::size_t before =
            from == 0 ? std::string::npos : text.find_last_of("\r\n", from - 1);
        EXPECT_EQ(lineStartOf(text, from), before == std::string::npos ? 0 : before + 1);

        std::vector<LiteralFinder::Literal> literals;
        const bool utf8 = round % 2 == 1;
        for (std::size_t i = 0, n = 1 + pick(round % 3 == 0 ? 2 : 12); i < n; ++i) {
            std::string bytes;
            for (std::size_t k = 0, m = 1 + pick(3); k < m; ++k)
                bytes += alphabet[pick(alphabet.size())];
            if (utf8 && round % 4 == 1)
                bytes.insert(pick(bytes.size() + 1), alphabet[alphabet.size() - 3 + pick(2)]);
            literals.push_back({bytes, pick(2) == 0});
        }
        const LiteralFinder finder(literals,
                                   utf8 ? LiteralFinder::Text::Utf8 : LiteralFinder::Text::Bytes);
        LiteralFinder::Scan scan(finder, text);
        for (std::size_t at = 0; at <= text.size(); at += 1 + pick(7)) {
            std::size_t expected = std::string::npos;
            for (std::size_t p = at; p < text.size() && expected == std::string::npos; ++p) {
                for (const auto& literal : literals)
                    expected =
                        expected == std::string::npos && sameAt(text, p, literal) ? p : expected;
            }
            ASSERT_EQ(finder.find(text, at), expected) << "round " << round << " at " << at;
            ASSERT_EQ(scan.next(at), expected) << "round " << round << " at " << at;
        }
    }
}

}  // namespace
}  // namespace ferretta::search
