// Fuzzes the CMap reader and its lookups: whatever the text holds, parsing, cutting strings
// into codes and looking the codes up must answer without a crash, a hang or a leak. The
// input is used as the CMap and also as a parent reached through usecmap (a loop included).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pdf/engine/fonts/cmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta::pdf;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CMapResolver resolver;
    resolver = [&](std::string_view, int depth) { return CMap::parse(text, resolver, depth); };
    const CMapPtr map = CMap::parse(text, resolver);
    if (!map || map->entryCount() > CMap::maxEntries)
        std::abort();
    // The input's own bytes as a string shown in the font.
    std::string out;
    for (std::size_t at = 0; at < text.size() && at < 4096;) {
        bool valid = false;
        const CharCode code = map->nextCode(text, at, valid);
        if (code.length == 0 || code.length > 4 || at + code.length > text.size())
            std::abort();
        at += code.length;
        (void)map->cidOf(code);
        (void)map->appendText(code, out);
        if (out.size() > 1 << 20)
            out.clear();
    }
    return 0;
}
