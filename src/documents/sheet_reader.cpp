#include "documents/sheet_reader.h"

#include <algorithm>

namespace ferretta::documents {

ReadResult readWorkbook(ZipArchive& archive, Format format, UnitSink& sink,
                        const ReadLimits& limits) {
    if (format == Format::OdfSpreadsheet)
        return readOdfSpreadsheet(archive, sink, limits);
    return readSpreadsheetMl(archive, sink, limits);
}

bool parseXmlPart(ZipArchive& archive, std::string_view name, XmlParser& parser, std::string& why) {
    const bool streamed = archive.stream(
        name, [&](std::string_view chunk) { return parser.feed(chunk, false); }, why);
    if (!streamed)
        return false;
    if (!parser.stopped() && parser.error().empty())
        parser.feed({}, true);
    if (!parser.stopped() && !parser.error().empty()) {
        why = std::string(name) + ": " + parser.error();
        return false;
    }
    return true;
}

bool WorkbookUnits::sheet(std::string_view name) {
    if (ended())
        return false;
    if (name.empty() || name.find_first_of("[]:*?/\\") != std::string_view::npos ||
        name.front() == '\'' || name.back() == '\'')
        return forOffice("a sheet name the office does not keep");
    std::string folded(name);
    for (std::size_t i = 0; i < folded.size(); ++i) {
        const auto c = static_cast<unsigned char>(folded[i]);
        if (c >= 'a' && c <= 'z') {
            folded[i] = static_cast<char>(c - 'a' + 'A');
        } else if (c == 0xEF && i + 2 < folded.size() &&
                   static_cast<unsigned char>(folded[i + 1]) == 0xBD &&
                   static_cast<unsigned char>(folded[i + 2]) >= 0x81 &&
                   static_cast<unsigned char>(folded[i + 2]) <= 0x9A) {
            // Full-width a-z (U+FF41-FF5A) to A-Z (U+FF21-FF3A).
            folded[i + 1] = static_cast<char>(0xBC);
            folded[i + 2] = static_cast<char>(static_cast<unsigned char>(folded[i + 2]) + 0x20);
        }
    }
    if (std::find(m_folded.begin(), m_folded.end(), folded) != m_folded.end())
        return forOffice("two sheets of the same name");
    m_folded.push_back(std::move(folded));
    ++m_sheets;
    m_sink.sheet(name);
    return true;
}

bool WorkbookUnits::cell(std::int32_t row, std::int32_t column, std::string_view text,
                         std::string_view shown, bool shownKnown) {
    if (ended())
        return false;
    if (text.empty())
        return true;
    if (row < 1 || row > kLastRow || column < 1 || column > kLastColumn)
        return forOffice("a cell outside the office's sheet (row " + std::to_string(row) +
                         ", column " + std::to_string(column) + ")");
    m_textBytes += text.size() + shown.size();
    if (m_textBytes > m_limits.maxTextBytes || ++m_cells > m_limits.maxCells)
        return forOffice("more text or cells than a document may hand out");
    UnitView unit;
    unit.place = m_sheets;
    unit.row = row;
    unit.column = column;
    unit.text = text;
    unit.shown = shownKnown ? shown : std::string_view();
    unit.shownKnown = shownKnown;
    if (!m_sink.unit(unit)) {
        m_result.status = ReadStatus::Stopped;
        return false;
    }
    return true;
}

bool WorkbookUnits::forOffice(std::string reason) {
    if (!ended()) {
        m_result.status = ReadStatus::ForOffice;
        m_result.reason = std::move(reason);
    }
    return false;
}

}  // namespace ferretta::documents
