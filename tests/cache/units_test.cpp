#include "cache/units.h"

#include <gtest/gtest.h>

#include <limits>

namespace ferretta::cache {
namespace {

TEST(Units, RecordsReadBackWhole) {
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    const std::int32_t low = std::numeric_limits<std::int32_t>::min();
    const Extract cases[] = {
        {},
        {{"Sheet1", "集計"},
         {{1, 3, 2, "=A1*2", "84"}, {2, 1, 1, "日本語", ""}, {1, 7, 28, "x", ""}},
         0,
         "",
         3},
        // Places that jump both ways as far as they go, texts with NULs and CRs.
        {{},
         {{big, low, big, std::string("a\0b\rc", 5), ""}, {low, big, low, "", "z"}},
         7,
         "解析失敗",
         low},
    };
    for (const Extract& extract : cases) {
        const std::string record = encodeExtract(extract);
        ASSERT_FALSE(record.empty());
        EXPECT_EQ(decodeExtract(record), extract);
    }
}

TEST(Units, DamagedRecordsAreRefused) {
    Extract extract;
    for (int i = 0; i < 50; ++i)
        extract.units.push_back({i, 0, 0, "ページ" + std::to_string(i) + "の本文", ""});
    const std::string record = encodeExtract(extract);
    // Every truncation, every flipped byte and another format version.
    for (std::size_t length = 0; length < record.size(); ++length)
        EXPECT_FALSE(decodeExtract(record.substr(0, length))) << length;
    for (std::size_t at = 0; at < record.size(); ++at) {
        std::string damaged = record;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x20);
        EXPECT_FALSE(decodeExtract(damaged)) << at;
    }
    EXPECT_FALSE(decodeExtract(record + "x"));
    // A header that claims a payload far beyond what its bytes could hold.
    EXPECT_FALSE(decodeExtract(std::string("FC\x01\xff\xff\xff\xff\x0f", 8) + "xx"));
}

}  // namespace
}  // namespace ferretta::cache
