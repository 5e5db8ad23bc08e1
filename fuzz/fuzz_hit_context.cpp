// Fuzzes the reading of a text hit's context: the first byte picks the encoding and how many
// lines around, the next four where the hit's line begins; the rest is the file. Whatever the
// bytes (lone CRs, stray lead bytes, an anchor that is no line start), the lines answered are
// at most 2N+1, numbered in order, each within its bound, and the hit's line is one of them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hits/hit_context.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta::hits;
    if (size < 5)
        return 0;
    const bool utf8 = (data[0] & 1) != 0;
    const int around = data[0] >> 5;
    std::uint32_t at = 0;
    std::memcpy(&at, data + 1, 4);
    const std::string file(reinterpret_cast<const char*>(data + 5), size - 5);
    const auto offset = static_cast<std::int64_t>(file.empty() ? 0 : at % (file.size() + 1));
    const ReadAt read = [&file](std::int64_t from, char* out, std::size_t count) {
        const auto start = static_cast<std::size_t>(from);
        const std::size_t n = start < file.size() ? std::min(count, file.size() - start) : 0;
        std::memcpy(out, file.data() + start, n);
        return n;
    };
    const auto lines = readTextLines(read, static_cast<std::int64_t>(file.size()), offset, 1000,
                                     utf8, around, static_cast<std::int32_t>(at >> 16));
    if (lines.size() > static_cast<std::size_t>(2 * around + 1))
        std::abort();
    bool hit = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0 && lines[i].ordinal != lines[i - 1].ordinal + 1)
            std::abort();
        // A cut line: the bound, a character of up to four bytes and the two ellipses (in
        // CP932 a byte may decode to up to three bytes of UTF-8).
        if (lines[i].text.size() > 3 * (kContextLineBytes + 4) + 2 * kEllipsis.size())
            std::abort();
        hit = hit || lines[i].isHit;
    }
    if (!hit)
        std::abort();
    return 0;
}
