#include "platform/hex_digit.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace ferretta::platform {
namespace {

TEST(HexDigit, RunsAndBytes) {
    const struct {
        std::string_view digits;
        std::optional<std::uint32_t> value;
    } runs[] = {
        {"0", 0},
        {"4e00", 0x4E00},
        {"FfFfFfFf", 0xFFFFFFFF},
        {"", std::nullopt},
        {"123456789", std::nullopt},  // more than 32 bits
        {"12g4", std::nullopt},
        {" 12", std::nullopt},
        {"-1", std::nullopt},
        {"0x1", std::nullopt},
        {"\xC3\xA9", std::nullopt},  // bytes above ASCII are negative chars
    };
    for (const auto& run : runs) {
        EXPECT_EQ(hexValue(run.digits), run.value) << run.digits;
        const std::u16string wide(run.digits.begin(), run.digits.end());
        EXPECT_EQ(hexValue(std::u16string_view(wide)), run.value) << run.digits;
    }
    EXPECT_EQ(hexValue(std::u16string_view(u"\uFF11")), std::nullopt);  // a full-width digit

    // Two digits at a place, as "%41", "=3D" and "#20" are read.
    EXPECT_EQ(hexByteAt("%41", 1), 0x41);
    EXPECT_EQ(hexByteAt("=3d=", 1), 0x3D);
    EXPECT_EQ(hexByteAt("%4", 1), std::nullopt);
    EXPECT_EQ(hexByteAt("%", 1), std::nullopt);
    EXPECT_EQ(hexByteAt("%", 5), std::nullopt);
    EXPECT_EQ(hexByteAt("%4G", 1), std::nullopt);
}

}  // namespace
}  // namespace ferretta::platform
