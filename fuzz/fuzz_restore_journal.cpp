// Fuzzes the parser of the restore journal's entries: any bytes parse or are refused, and an
// entry that parses writes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/restore_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta::platform;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto entry = parseJournalText(bytes)) {
        if (journalText(*entry) != bytes)
            std::abort();
    }
    return 0;
}
