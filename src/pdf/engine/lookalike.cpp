#include "pdf/engine/lookalike.h"

#include <cstddef>
#include <cstdint>

namespace ferretta::pdf {
namespace {

#include "pdf/engine/lookalike_table.inc"

template <std::size_t N>
char32_t lookUp(const char32_t (&table)[N], char32_t first, char32_t c) {
    // Unsigned wrap-around: a code point below `first` gives a huge offset.
    const std::uint32_t offset = static_cast<std::uint32_t>(c) - static_cast<std::uint32_t>(first);
    if (offset >= N) {
        return c;
    }
    const char32_t unified = table[offset];
    return unified != 0 ? unified : c;
}

// Vertical presentation forms (U+FE10-U+FE19, U+FE30-U+FE48) as the characters they turn on
// their side; vertical text from some producers maps its punctuation to them. 0: none.
constexpr char32_t kFirstVertical = 0xFE10;
constexpr char32_t kVertical[] = {
    0x002C, 0x3001, 0x3002, 0x003A, 0x003B, 0x0021, 0x003F, 0x3016, 0x3017, 0x2026,  // FE10
    0,      0,      0,      0,      0,      0,      0,      0,      0,      0,       // FE1A
    0,      0,      0,      0,      0,      0,      0,      0,      0,      0,       // FE24
    0,      0,      0x2025, 0x2014, 0x2013, 0x005F, 0x005F, 0x0028, 0x0029, 0x007B,  // FE2E
    0x007D, 0x3014, 0x3015, 0x3010, 0x3011, 0x300A, 0x300B, 0x3008, 0x3009, 0x300C,  // FE38
    0x300D, 0x300E, 0x300F, 0,      0,      0x005B, 0x005D,                          // FE42
};

}  // namespace

char32_t unifyLookalike(char32_t c) {
    // Nearly all text lies below the first look-alike.
    if (c < kFirstRadicals) {
        return c;
    }
    if (c < kFirstCompatBmp) {
        return lookUp(kRadicals, kFirstRadicals, c);
    }
    if (c < kFirstCompatSupplement) {
        return c >= kFirstVertical ? lookUp(kVertical, kFirstVertical, c)
                                   : lookUp(kCompatBmp, kFirstCompatBmp, c);
    }
    return lookUp(kCompatSupplement, kFirstCompatSupplement, c);
}

}  // namespace ferretta::pdf
