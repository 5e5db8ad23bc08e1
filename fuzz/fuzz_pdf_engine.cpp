// Fuzzes the whole PDF engine, from the bytes of a file to the hits: whatever the file holds,
// the engine must answer without a crash, a hang or a leak.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

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
    static const int fd = ::memfd_create("fuzz_pdf_engine", 0);
    if (fd < 0)
        std::abort();
    if (::ftruncate(fd, 0) != 0)
        std::abort();
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::pwrite(fd, data + written, size - written, static_cast<off_t>(written));
        if (n <= 0)
            std::abort();
        written += static_cast<std::size_t>(n);
    }
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);

    CountingHost host;
    search::Matcher matcher(false, false);
    matcher.targetStrsSplit("a");
    search::SearchFlags flags;
    const app::Settings settings;
    pdf::PdfEngine engine({host, settings, matcher, flags}, emptyCidTable());
    try {
        (void)engine.p2tMain(path);
    } catch (const Error& failure) {
        // Only a failure to open or read the file may leave the engine.
        if (failure.kind() == Error::Kind::Other)
            std::abort();
    }
    return 0;
}
