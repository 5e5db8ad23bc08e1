// Fuzzes the workbook reader: the first byte chooses the format (even: SpreadsheetML, odd:
// OpenDocument), the rest is the archive. Nothing may crash, hang or leak; what is handed out
// must be valid UTF-8, in the office's sheet, in order, and never an empty text; and the sheets,
// cells and outcome must be the same with the XML parts read by expat alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "documents/native_reader.h"
#include "platform/unicode.h"

namespace {

using namespace ferretta::documents;

class CheckingSink final : public UnitSink {
  public:
    void sheet(std::string_view name) override {
        check(ferretta::platform::isValidUtf8(name));
        read += "[" + std::string(name) + "]";
        ++m_sheets;
        m_row = 0;
        m_column = 0;
    }
    bool unit(const UnitView& unit) override {
        check(unit.place == m_sheets && !unit.text.empty());
        check(unit.row >= 1 && unit.row <= 1048576 && unit.column >= 1 && unit.column <= 1024);
        check(unit.row > m_row || (unit.row == m_row && unit.column > m_column));
        check(ferretta::platform::isValidUtf8(unit.text) &&
              ferretta::platform::isValidUtf8(unit.shown));
        m_row = unit.row;
        m_column = unit.column;
        read += std::to_string(unit.row) + "," + std::to_string(unit.column) + ":" +
                std::string(unit.text) + "|" + std::string(unit.shown) +
                (unit.shownKnown ? "" : "?") + "\n";
        return true;
    }
    std::string read;  // the sheets and cells handed out

  private:
    static void check(bool holds) {
        if (!holds)
            std::abort();
    }
    std::int32_t m_sheets = 0;
    std::int32_t m_row = 0;
    std::int32_t m_column = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const Format format = data[0] % 2 == 0 ? Format::SpreadsheetML : Format::OdfSpreadsheet;
    ReadLimits limits;
    limits.maxEntryBytes = std::uint64_t{64} << 20;
    limits.maxDocumentBytes = std::uint64_t{128} << 20;
    limits.ratioFloor = std::uint64_t{1} << 20;
    limits.maxCells = 200'000;
    const std::span<const char> bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string read[2];
    for (const bool expatOnly : {false, true}) {
        limits.expatOnly = expatOnly;
        CheckingSink sink;
        const ReadResult result = readDocumentBytes(bytes, format, Kind::Excel, sink, limits);
        read[expatOnly] = sink.read + "=" + std::to_string(static_cast<int>(result.status));
    }
    if (read[0] != read[1])
        std::abort();
    return 0;
}
