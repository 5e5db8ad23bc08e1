// Fuzzes the Word reader on the bytes of a package: the first byte chooses the format (its low
// bit: .docx or .odt) and the mode (the next bit: normal or fast). Whatever the bytes, the
// reader ends, and it leaves a document to the office only before handing out a unit; and it
// hands out the same with the XML parts read by expat alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "documents/native_reader.h"

namespace {

class CountingSink final : public ferretta::documents::UnitSink {
  public:
    bool unit(const ferretta::documents::UnitView& unit) override {
        if (unit.text.empty())
            std::abort();
        ++units;
        read += std::to_string(unit.place) + ":" + std::string(unit.text) + "\n";
        return true;
    }
    std::size_t units = 0;
    std::string read;  // the units handed out
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta::documents;
    if (size == 0)
        return 0;
    const Format format = (data[0] & 1) != 0 ? Format::OdfText : Format::WordprocessingML;
    const Kind kind = (data[0] & 2) != 0 ? Kind::WordFast : Kind::WordNormal;
    ReadLimits limits;
    // Small bounds, so that a bomb is found within a fuzzing run's memory.
    limits.maxEntryBytes = 16 << 20;
    limits.maxDocumentBytes = 32 << 20;
    limits.maxBufferedBytes = 8 << 20;
    limits.maxTextBytes = 8 << 20;
    std::string read[2];
    for (const bool expatOnly : {false, true}) {
        limits.expatOnly = expatOnly;
        CountingSink sink;
        const ReadResult result = readDocumentBytes(
            std::span<const char>(reinterpret_cast<const char*>(data + 1), size - 1), format, kind,
            sink, limits);
        if (result.status == ReadStatus::ForOffice && sink.units != 0)
            std::abort();
        read[expatOnly] = sink.read + "=" + std::to_string(static_cast<int>(result.status));
    }
    if (read[0] != read[1])
        std::abort();
    return 0;
}
