// Fuzzes glyph-name decoding: any bytes as a glyph name give text without a crash, never longer
// than the name allows, with no surrogate and nothing past U+10FFFF; the look-alike table maps
// every code point it is given to a valid one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pdf/engine/fonts/simple_encoding.h"
#include "pdf/engine/lookalike.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta::pdf;
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const std::u32string text = unicodeOfGlyphName(name);
    // A listed name of one byte may give two characters ("dalethatafpatah" is longer), so the
    // bound is loose; a name over 1,024 bytes gives nothing.
    if (text.size() > 4 * size + 4 || (size > 1024 && !text.empty()))
        std::abort();
    for (const char32_t c : text) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            std::abort();
        const char32_t unified = unifyLookalike(c);
        if (unified > 0x10FFFF || (unified >= 0xD800 && unified <= 0xDFFF))
            std::abort();
    }
    if (auto encoding = baseEncodingByName(name))
        if (baseEncodingTable(*encoding)[0x20] != U" ")
            std::abort();
    return 0;
}
