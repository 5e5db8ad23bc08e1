// Fuzzes the reading of a Type 1 font program's own encoding: any bytes give an encoding or
// none without a crash, and every code's text is valid Unicode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pdf/engine/fonts/simple_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view program(reinterpret_cast<const char*>(data), size);
    if (const auto texts = ferretta::pdf::type1BuiltinEncoding(program)) {
        for (const std::u32string& text : *texts) {
            for (const char32_t c : text) {
                if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
                    std::abort();
            }
        }
    }
    return 0;
}
