// Fuzzes the cache's record decoder: a record that decodes must encode and decode to the same
// units; anything else is refused without a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cache/units.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta::cache;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto extract = decodeExtract(bytes)) {
        if (decodeExtract(encodeExtract(*extract)) != extract)
            std::abort();
    }
    return 0;
}
