// Fuzzes the whole PDF engine, from the bytes of a file to the hits: whatever the file holds,
// the engine must answer without a crash, a hang or a leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/host.h"
#include "app/settings.h"
#include "pdf/engine/pdf_engine.h"
#include "platform/error.h"

namespace {

using namespace ferretta;

class CountingHost : public app::Host {
  public:
    RowHandle addResult(const app::Hit& hit) override {
        if (hit.fileType != app::FileType::Pdf || hit.position.empty())
            std::abort();
        return ++rows;
    }
    std::size_t rows = 0;
};

// Without the table file every CID maps to the empty text; literal strings are still matched.
const pdf::CidTable& emptyCidTable() {
    static const pdf::CidTable table;
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CountingHost host;
    search::Matcher matcher(false, false);
    matcher.targetStrsSplit("a");
    search::SearchFlags flags;
    const app::Settings settings;
    pdf::PdfEngine engine({host, settings, matcher, flags}, emptyCidTable());
    try {
        (void)engine.p2tMain("fuzz.pdf",
                             std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const Error&) {
        // Nothing is read from a file, so nothing may leave the engine.
        std::abort();
    }
    return 0;
}
