// Fuzzes the text codecs: any bytes, read as CP932, UTF-8 and UTF-16, must convert without a
// crash, and the conversions must keep their documented relations.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/cp932.h"
#include "platform/unicode.h"
#include "platform/width_fold.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta::platform;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    std::u16string fromCp932 = cp932ToUtf16(bytes);
    if (cp932Length(fromCp932) != utf16ToCp932(fromCp932).size() || fromCp932.size() > size)
        std::abort();
    // Decoding is a fixed point after one round: the re-encoded form decodes the same.
    if (cp932ToUtf16(utf16ToCp932(fromCp932)) != fromCp932)
        std::abort();
    // Duplicate codes rewritten: same length, and the text decodes as before.
    std::string normalized;
    if (normalizeCp932Duplicates(bytes, normalized) &&
        (normalized.size() != bytes.size() || cp932ToUtf16(normalized) != fromCp932))
        std::abort();

    // UTF-8: never more units than bytes; what comes back is valid, and is the input exactly
    // when the input was valid; a valid text cut short is valid once a cut end is allowed.
    std::u16string fromUtf8 = utf8ToUtf16(bytes);
    std::string back = utf16ToUtf8(fromUtf8);
    const bool valid = isValidUtf8(bytes);
    if (fromUtf8.size() > size || (back == bytes) != valid || !isValidUtf8(back))
        std::abort();
    if (valid && size > 0 && !isValidUtf8(bytes.substr(0, size - 1), true))
        std::abort();

    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i + 1 < size; i += 2)
        units[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    std::u16string folded = foldForMatch(units);
    if (folded.size() < units.size())
        std::abort();  // folding never shortens a text
    if (toUpperCase(units).size() != units.size())
        std::abort();
    (void)utf16ToUtf8(units);
    if (cp932Length(folded, Cp932Fallback::BestFit) !=
        utf16ToCp932(folded, Cp932Fallback::BestFit).size())
        std::abort();
    return 0;
}
