#pragma once
// Workbooks: Open XML (.xlsx .xlsm) and OpenDocument spreadsheets (.ods), read as the office's
// Excel path reads them: every sheet in workbook order (hidden ones and chart sheets too) by
// name, then its non-empty cells by rows, each cell's text in the office's formula form.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "documents/native_reader.h"
#include "documents/xml_parser.h"
#include "documents/zip_archive.h"

namespace ferretta::documents {

ReadResult readWorkbook(ZipArchive& archive, Format format, UnitSink& sink,
                        const ReadLimits& limits);

// The two formats' readers behind readWorkbook.
ReadResult readSpreadsheetMl(ZipArchive& archive, UnitSink& sink, const ReadLimits& limits);
ReadResult readOdfSpreadsheet(ZipArchive& archive, UnitSink& sink, const ReadLimits& limits);

// Streams one part of the archive through `parser`. False, with `why`, when the part is
// missing, damaged or not well-formed XML; true when the parse ended or the parser's handler
// stopped it (the handler then knows why).
bool parseXmlPart(ZipArchive& archive, std::string_view name, XmlParser& parser, std::string& why);

// Hands a workbook's sheets and cells to the sink and keeps the reading's outcome: a stop asked
// by the sink, a cell outside the office's sheet, the text bound of ReadLimits, or a construct
// the reader gives up on (forOffice).
class WorkbookUnits {
  public:
    // The office's sheets: 1024 columns (A to AMJ) and 1048576 rows.
    static constexpr std::int32_t kLastColumn = 1024;
    static constexpr std::int32_t kLastRow = 1048576;

    WorkbookUnits(UnitSink& sink, const ReadLimits& limits) : m_sink(sink), m_limits(limits) {}

    // The next sheet. False (the reading then left to the office) for a name the office would
    // not keep: empty, holding one of []:*?/\ or quotes around it, or the name of an earlier
    // sheet (letter case aside, in ASCII and full-width Latin letters).
    bool sheet(std::string_view name);
    // False once the reading must end (the outcome then says why). An empty text is no unit.
    bool cell(std::int32_t row, std::int32_t column, std::string_view text,
              std::string_view shown = {}, bool shownKnown = true);
    // Gives up on the workbook; false, so that a caller can return it.
    bool forOffice(std::string reason);

    bool ended() const { return m_result.status != ReadStatus::Complete; }
    const ReadResult& result() const { return m_result; }

  private:
    UnitSink& m_sink;
    const ReadLimits& m_limits;
    std::int32_t m_sheets = 0;
    std::vector<std::string> m_folded;  // the sheets' names, upper-cased
    std::uint64_t m_textBytes = 0;
    std::uint64_t m_cells = 0;
    ReadResult m_result;
};

}  // namespace ferretta::documents
