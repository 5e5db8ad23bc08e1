#include "pdf/engine/lookalike.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace ferretta::pdf {
namespace {

bool isUnifiedIdeograph(char32_t c) {
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x20000 && c <= 0x2A6DF) || (c >= 0x2A700 && c <= 0x2EBEF) ||
           (c >= 0x30000 && c <= 0x323AF);
}

// What Unicode's data (checked below) does not decide: the radicals supplement, from the
// equivalents list, and the edges of the blocks.
TEST(LookalikeTest, Samples) {
    const std::vector<std::pair<char32_t, char32_t>> cases = {
        {0x2E8C, U'小'},  {0x2E9F, U'母'},      {0x2EF3, U'龟'},          {0x2E87, 0x20628},
        {0xFE45, 0xFE45}, {0x2E80, 0x2E80},     {0x2E9A, 0x2E9A},         {0x2EF4, 0x2EF4},
        {0xFA0E, 0xFA0E}, {0x110000, 0x110000}, {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& [from, to] : cases) {
        EXPECT_EQ(static_cast<std::uint32_t>(unifyLookalike(from)), static_cast<std::uint32_t>(to))
            << std::hex << static_cast<std::uint32_t>(from);
    }
}

// Against Unicode's own data, when the machine has it: each Kangxi radical is its compatibility
// decomposition, each compatibility ideograph its canonical one, and nothing else in the whole
// code space changes but the radicals supplement (vertical forms: their <vertical> mapping).
TEST(LookalikeTest, AgreesWithUnicodeData) {
    std::ifstream in("/usr/share/unicode/UnicodeData.txt");
    if (!in) {
        GTEST_SKIP() << "no UnicodeData.txt (package unicode-data)";
    }
    std::map<char32_t, char32_t> expected;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream parts(line);
        for (std::string field; std::getline(parts, field, ';');) {
            fields.push_back(field);
        }
        if (fields.size() < 6) {
            continue;
        }
        const auto c = static_cast<char32_t>(std::stoul(fields[0], nullptr, 16));
        const std::string& decomposition = fields[5];
        const bool kangxi = c >= 0x2F00 && c <= 0x2FD5;
        const bool compatibility = (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x2F800 && c <= 0x2FA1F);
        const bool vertical = (c >= 0xFE10 && c <= 0xFE19) || (c >= 0xFE30 && c <= 0xFE48);
        if (vertical && decomposition.rfind("<vertical> ", 0) == 0) {
            expected[c] = static_cast<char32_t>(std::stoul(decomposition.substr(11), nullptr, 16));
        } else if (kangxi) {
            ASSERT_EQ(decomposition.rfind("<compat> ", 0), 0u) << line;
            expected[c] = static_cast<char32_t>(std::stoul(decomposition.substr(9), nullptr, 16));
        } else if (compatibility && !decomposition.empty()) {
            ASSERT_EQ(decomposition.find(' '), std::string::npos) << line;
            expected[c] = static_cast<char32_t>(std::stoul(decomposition, nullptr, 16));
        }
    }
    ASSERT_GT(expected.size(), 1200u);
    int supplement = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        const char32_t unified = unifyLookalike(c);
        const auto it = expected.find(c);
        if (it != expected.end()) {
            ASSERT_EQ(static_cast<std::uint32_t>(unified), static_cast<std::uint32_t>(it->second))
                << std::hex << static_cast<std::uint32_t>(c);
        } else if (c >= 0x2E80 && c <= 0x2EF3) {
            supplement += unified != c ? 1 : 0;
            ASSERT_TRUE(unified == c || isUnifiedIdeograph(unified))
                << std::hex << static_cast<std::uint32_t>(c);
        } else {
            ASSERT_EQ(static_cast<std::uint32_t>(unified), static_cast<std::uint32_t>(c))
                << std::hex << static_cast<std::uint32_t>(c);
        }
    }
    // With Unicode's equivalents list nearly all supplement forms map; without it only two.
    EXPECT_GE(supplement, 2);
}

}  // namespace
}  // namespace ferretta::pdf
