#pragma once
// The value of one hexadecimal digit, for the many small readers of hex text (PDF strings and
// names, CMaps, glyph names, regular expressions, file URLs).

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

}  // namespace ferretta::platform
