#pragma once
// Hexadecimal digits, for the many small readers of hex text (PDF strings and names, CMaps,
// glyph names, regular expressions, file URLs, quoted-printable mail).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ferretta::platform {

// 0-15 for 0-9, a-f and A-F; -1 for anything else (negative chars and code points above ASCII
// included).
constexpr int hexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9')
        return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f')
        return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F')
        return static_cast<int>(c - U'A') + 10;
    return -1;
}

// The value of a run of hex digits ("4E00"); nothing when the run is empty, longer than eight
// digits or holds anything but hex digits (a sign, a blank, "0x").
template <typename Char>
constexpr std::optional<std::uint32_t> hexValue(std::basic_string_view<Char> digits) {
    if (digits.empty() || digits.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const Char c : digits) {
        const int digit = hexDigitValue(static_cast<char32_t>(c));
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// The byte written as two hex digits at text[at] (after the "%" of a URL, the "=" of
// quoted-printable, the "#" of a PDF name); nothing when fewer than two characters are left or
// either is no hex digit.
constexpr std::optional<unsigned char> hexByteAt(std::string_view text, std::size_t at) {
    if (at > text.size() || text.size() - at < 2)
        return std::nullopt;
    const std::optional<std::uint32_t> value = hexValue(text.substr(at, 2));
    if (!value)
        return std::nullopt;
    return static_cast<unsigned char>(*value);
}

}  // namespace ferretta::platform
