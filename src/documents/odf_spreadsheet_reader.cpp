// OpenDocument spreadsheets (.ods): content.xml streamed, each table a sheet, rows and cells
// with their repetitions expanded as the office expands them.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

#include "documents/cell_forms.h"
#include "documents/sheet_formula.h"
#include "documents/sheet_reader.h"
#include "documents/xml_parser.h"

namespace ferretta::documents {
namespace {

constexpr std::string_view kOffice = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr std::string_view kTable = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr std::string_view kText = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool digitsAt(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "YYYY-MM-DD" as a date; false for other forms (other lengths of year, time zones).
bool parseDate(std::string_view text, std::int64_t& days) {
    int year = 0;
    int month = 0;
    int day = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !digitsAt(text, 0, 4, year) ||
        !digitsAt(text, 5, 2, month) || !digitsAt(text, 8, 2, day) || year < 1583 || month < 1 ||
        month > 12 || day < 1 || day > 31)
        return false;
    days = daysFromCivil(year, month, day);
    return daysFromCivil(year, month, 1) + day - 1 == days && (day <= 28 || [&] {
               const int nextMonth = month == 12 ? 1 : month + 1;
               return days < daysFromCivil(month == 12 ? year + 1 : year, nextMonth, 1);
           }());
}

// "12.5" seconds and the like: digits with an optional fraction.
bool parseSeconds(std::string_view text, double& seconds) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos ||
        text.front() == '.' || text.size() > 20)
        return false;
    seconds = std::strtod(std::string(text).c_str(), nullptr);
    return true;
}

// The value of an office:date-value: days since the null date, the time as a fraction of a day
// (hours / 24 + minutes / 1440 + seconds / 86400, as the office adds them).
std::optional<double> dateValue(std::string_view text, std::int64_t nullDate) {
    std::int64_t days = 0;
    if (!parseDate(text.substr(0, 10), days))
        return std::nullopt;
    double value = static_cast<double>(days - nullDate);
    if (text.size() == 10)
        return value;
    int hours = 0;
    int minutes = 0;
    double seconds = 0;
    if (text[10] != 'T' || text.size() < 19 || !digitsAt(text, 11, 2, hours) || text[13] != ':' ||
        !digitsAt(text, 14, 2, minutes) || text[16] != ':' ||
        !parseSeconds(text.substr(17), seconds) || hours > 23 || minutes > 59 || seconds >= 60)
        return std::nullopt;
    value += hours / 24.0;
    value += minutes / 1440.0;
    value += seconds / 86400.0;
    return value;
}

// The value of an office:time-value ("PT12H30M45S", "P1DT2H"): a duration in days.
std::optional<double> durationValue(std::string_view text) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty() || text[0] != 'P')
        return std::nullopt;
    text.remove_prefix(1);
    double days = 0;
    double hours = 0;
    double minutes = 0;
    double seconds = 0;
    bool time = false;
    bool any = false;
    while (!text.empty()) {
        if (text[0] == 'T' && !time) {
            time = true;
            text.remove_prefix(1);
            continue;
        }
        const std::size_t unit = text.find_first_not_of("0123456789.");
        if (unit == std::string_view::npos || unit == 0)
            return std::nullopt;
        double number = 0;
        if (!parseSeconds(text.substr(0, unit), number))
            return std::nullopt;
        const char which = text[unit];
        const bool fraction = text.substr(0, unit).find('.') != std::string_view::npos;
        if (!time && which == 'D' && !fraction) {
            days = number;
        } else if (time && which == 'H' && !fraction) {
            hours = number;
        } else if (time && which == 'M' && !fraction) {
            minutes = number;
        } else if (time && which == 'S') {
            seconds = number;
        } else {
            return std::nullopt;
        }
        any = true;
        text.remove_prefix(unit + 1);
    }
    if (!any)
        return std::nullopt;
    double value = days;
    value += hours / 24.0;
    value += minutes / 1440.0;
    value += seconds / 86400.0;
    return negative ? -value : value;
}

bool parseCount(std::string_view text, std::int64_t& count) {
    if (text.empty())
        return true;
    if (text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    count = std::strtoll(std::string(text).c_str(), nullptr, 10);
    return count >= 1;
}

struct PendingCell {
    std::int32_t column = 0;
    std::string text;
    bool shownKnown = true;
};

class ContentHandler final : public XmlHandler {
  public:
    ContentHandler(WorkbookUnits& units, const ReadLimits& limits)
        : m_units(units), m_limits(limits) {}
    void setParser(XmlParser& parser) { m_parser = &parser; }

    // Whether every sheet a formula named is one of the workbook's (known at the end only).
    bool referredSheetsExist() const {
        for (const std::string& name : m_referred) {
            if (std::find(m_sheetNames.begin(), m_sheetNames.end(), name) == m_sheetNames.end())
                return false;
        }
        return true;
    }

    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (m_skip > 0) {
            ++m_skip;
            return;
        }
        if (m_inCell) {
            cellContent(name, attributes);
            return;
        }
        if (name.is(kOffice, "spreadsheet")) {
            m_inSpreadsheet = true;
        } else if (!m_inSpreadsheet) {
            return;
        } else if (name.is(kTable, "null-date")) {
            std::int64_t days = 0;
            const std::string_view date = attributes.value(kTable, "date-value");
            if (!date.empty() && (!parseDate(date, days) || days != m_nullDate))
                giveUp("a workbook with another null date");
        } else if (name.is(kTable, "table")) {
            if (m_inTable)
                return giveUp("a table inside a table");
            m_inTable = true;
            m_row = 0;
            m_sheetNames.emplace_back(attributes.value(kTable, "name"));
            if (!m_units.sheet(m_sheetNames.back()))
                return m_parser->stop();
        } else if (!m_inTable) {
            return;
        } else if (name.is(kTable, "table-row")) {
            m_rowRepeat = 1;
            if (!parseCount(attributes.value(kTable, "number-rows-repeated"), m_rowRepeat))
                return giveUp("a row repeated an unreadable number of times");
            m_column = 0;
            m_pending.clear();
            m_inRow = true;
        } else if (m_inRow &&
                   (name.is(kTable, "table-cell") || name.is(kTable, "covered-table-cell"))) {
            startCell(attributes);
        } else if (name.uri == kTable &&
                   (name.local == "table-header-rows" || name.local == "table-rows" ||
                    name.local == "table-row-group")) {
            // Rows inside these count as the table's own.
        } else {
            // Columns, shapes, named ranges, forms, conditional formats: no cells.
            m_skip = 1;
        }
    }

    void endElement(const XmlName& name) override {
        if (m_skip > 0) {
            --m_skip;
            return;
        }
        if (m_inCell) {
            if (name.is(kTable, "table-cell") || name.is(kTable, "covered-table-cell")) {
                m_inCell = false;
                finishCell();
            } else if (name.is(kText, "p")) {
                m_inParagraph = false;
                m_paragraphs.push_back(std::move(m_paragraph));
                m_paragraph.clear();
            }
            return;
        }
        if (name.is(kTable, "table-row") && m_inRow) {
            m_inRow = false;
            finishRow();
        } else if (name.is(kTable, "table")) {
            m_inTable = false;
        } else if (name.is(kOffice, "spreadsheet")) {
            m_inSpreadsheet = false;
            m_parser->stop();
        }
    }

    void characters(std::string_view text) override {
        if (m_skip > 0 || !m_inParagraph)
            return;
        // Line breaks and tabs in a paragraph's text are collapsed by the office's reader as
        // XML white space; how was not measured.
        if (std::any_of(text.begin(), text.end(),
                        [](char c) { return c == '\r' || c == '\n' || c == '\t'; }))
            return giveUp("a cell paragraph with raw line breaks or tabs");
        m_cellBytes += text.size();
        if (m_cellBytes > m_limits.maxBufferedBytes)
            return giveUp("a cell larger than the bound of one part held in memory");
        m_paragraph += text;
    }

  private:
    void giveUp(std::string why) {
        m_units.forOffice(std::move(why));
        m_parser->stop();
    }

    void startCell(const XmlAttributes& a) {
        m_inCell = true;
        m_inParagraph = false;
        m_paragraphs.clear();
        m_paragraph.clear();
        m_cellBytes = 0;
        m_cellRepeat = 1;
        if (!parseCount(a.value(kTable, "number-columns-repeated"), m_cellRepeat))
            return giveUp("a cell repeated an unreadable number of times");
        m_valueType = a.value(kOffice, "value-type");
        m_value = a.value(kOffice, "value");
        m_dateValue = a.value(kOffice, "date-value");
        m_timeValue = a.value(kOffice, "time-value");
        m_booleanValue = a.value(kOffice, "boolean-value");
        m_hasStringValue = a.has(kOffice, "string-value");
        m_stringValue = a.value(kOffice, "string-value");
        m_formula = a.value(kTable, "formula");
        if (a.has(kTable, "number-matrix-columns-spanned") ||
            a.has(kTable, "number-matrix-rows-spanned"))
            giveUp("an array formula");
    }

    void cellContent(const XmlName& name, const XmlAttributes& attributes) {
        if (name.is(kText, "p") && !m_inParagraph) {
            m_inParagraph = true;
            return;
        }
        if (!m_inParagraph) {
            // Notes and drawings anchored in the cell are not its text.
            if (name.is(kOffice, "annotation") ||
                name.uri.find(":drawing:") != std::string_view::npos ||
                name.is(kTable, "detective")) {
                m_skip = 1;
                return;
            }
            return giveUp("a cell holding <" + std::string(name.local) + ">");
        }
        if (name.is(kText, "span") || name.is(kText, "a")) {
            return;
        }
        if (name.is(kText, "s")) {
            std::int64_t count = 1;
            if (!parseCount(attributes.value(kText, "c"), count) || count > 10000)
                return giveUp("a run of spaces not read here");
            m_cellBytes += static_cast<std::size_t>(count);
            if (m_cellBytes > m_limits.maxBufferedBytes)
                return giveUp("a cell larger than the bound of one part held in memory");
            m_paragraph.append(static_cast<std::size_t>(count), ' ');
            return;
        }
        // The office drops tabs and line breaks from a cell's text.
        if (name.is(kText, "tab") || name.is(kText, "line-break")) {
            m_skip = 1;
            return;
        }
        giveUp("a cell paragraph holding <" + std::string(name.local) + ">");
    }

    // The cell's text in the office's formula form; empty for an empty cell. False with the
    // reading given up.
    bool cellText(std::string& text, bool& shownKnown) {
        shownKnown = true;
        std::string why;
        if (!m_formula.empty()) {
            auto formula = SheetFormula::fromOdf(m_formula, why);
            auto formulaText = formula ? formula->text(0, 0, why) : std::nullopt;
            if (!formulaText)
                return m_units.forOffice(why);
            for (const std::string& sheet : formula->referredSheets()) {
                if (std::find(m_referred.begin(), m_referred.end(), sheet) == m_referred.end())
                    m_referred.push_back(sheet);
            }
            text = std::move(*formulaText);
            // What the office shows for a formula here depends on formats it infers; not read.
            shownKnown = false;
            return true;
        }
        std::optional<double> number;
        if (m_valueType == "float" || m_valueType == "percentage" || m_valueType == "currency") {
            auto stored = storedNumberText(m_value);
            if (!stored)
                return m_units.forOffice("a number not read here: " + m_value);
            text = std::move(*stored);
            return true;
        } else if (m_valueType == "date") {
            number = dateValue(m_dateValue, m_nullDate);
            if (!number)
                return m_units.forOffice("a date not read here: " + m_dateValue);
        } else if (m_valueType == "time") {
            number = durationValue(m_timeValue);
            if (!number)
                return m_units.forOffice("a time not read here: " + m_timeValue);
        } else if (m_valueType == "boolean") {
            if (m_booleanValue != "true" && m_booleanValue != "false")
                return m_units.forOffice("a truth value not read here");
            text = m_booleanValue == "true" ? "1" : "0";
            return true;
        } else if (m_valueType != "string" && !m_valueType.empty() && m_valueType != "void") {
            return m_units.forOffice("a cell of type " + m_valueType);
        }
        if (number) {
            auto printed = numberCellText(*number);
            if (!printed)
                return m_units.forOffice("a number not read here");
            text = std::move(*printed);
            return true;
        }
        std::string content;
        if (m_hasStringValue && m_valueType == "string") {
            content = m_stringValue;
        } else {
            for (std::size_t i = 0; i < m_paragraphs.size(); ++i)
                content += (i > 0 ? "\n" : "") + m_paragraphs[i];
        }
        if (content.empty())
            return true;
        if (!textCellText(content, text))
            return m_units.forOffice("a text the office may take for a number: " + content);
        // A text starting with '=' is shown in the cell's format, which is not read here.
        shownKnown = text.front() != '=';
        return true;
    }

    void finishCell() {
        if (m_units.ended())
            return;
        std::string text;
        bool shownKnown = true;
        if (!cellText(text, shownKnown)) {
            m_parser->stop();
            return;
        }
        for (std::int64_t i = 0; i < m_cellRepeat && !text.empty(); ++i) {
            if (m_column + i + 1 > WorkbookUnits::kLastColumn)
                return giveUp("a cell past the office's last column");
            m_pending.push_back({static_cast<std::int32_t>(m_column + i + 1), text, shownKnown});
        }
        m_column += m_cellRepeat;
    }

    void finishRow() {
        if (m_units.ended())
            return;
        for (std::int64_t r = 0; r < m_rowRepeat && !m_pending.empty(); ++r) {
            const std::int64_t row = m_row + r + 1;
            for (const PendingCell& cell : m_pending) {
                if (!m_units.cell(static_cast<std::int32_t>(
                                      std::min<std::int64_t>(row, WorkbookUnits::kLastRow + 1)),
                                  cell.column, cell.text, {}, cell.shownKnown)) {
                    m_parser->stop();
                    return;
                }
            }
        }
        m_row = std::min<std::int64_t>(m_row + m_rowRepeat, WorkbookUnits::kLastRow + 1);
    }

    WorkbookUnits& m_units;
    const ReadLimits& m_limits;
    std::vector<std::string> m_sheetNames;
    std::vector<std::string> m_referred;
    XmlParser* m_parser = nullptr;
    const std::int64_t m_nullDate = daysFromCivil(1899, 12, 30);
    int m_skip = 0;
    bool m_inSpreadsheet = false;
    bool m_inTable = false;
    bool m_inRow = false;
    bool m_inCell = false;
    bool m_inParagraph = false;
    std::int64_t m_row = 0;
    std::int64_t m_column = 0;
    std::int64_t m_rowRepeat = 1;
    std::int64_t m_cellRepeat = 1;
    std::vector<PendingCell> m_pending;
    std::vector<std::string> m_paragraphs;
    std::string m_paragraph;
    std::size_t m_cellBytes = 0;
    std::string m_valueType;
    std::string m_value;
    std::string m_dateValue;
    std::string m_timeValue;
    std::string m_booleanValue;
    std::string m_stringValue;
    bool m_hasStringValue = false;
    std::string m_formula;
};

}  // namespace

ReadResult readOdfSpreadsheet(ZipArchive& archive, UnitSink& sink, const ReadLimits& limits) {
    WorkbookUnits units(sink, limits);
    std::string why;
    std::string mimetype;
    if (!archive.read("mimetype", mimetype, why) ||
        (mimetype != "application/vnd.oasis.opendocument.spreadsheet" &&
         mimetype != "application/vnd.oasis.opendocument.spreadsheet-template")) {
        units.forOffice("not an OpenDocument spreadsheet");
        return units.result();
    }
    std::string manifest;
    if (archive.has("META-INF/manifest.xml") &&
        (!archive.read("META-INF/manifest.xml", manifest, why) ||
         manifest.find("encryption-data") != std::string::npos)) {
        units.forOffice(why.empty() ? "an encrypted document" : why);
        return units.result();
    }
    ContentHandler handler(units, limits);
    XmlParser parser(handler, limits);
    handler.setParser(parser);
    if (!parseXmlPart(archive, "content.xml", parser, why))
        units.forOffice(why);
    // A formula naming a sheet the workbook lacks reads differently in the office; the units
    // handed out are then dropped (the Excel search may be told so after its units).
    else if (!units.ended() && !handler.referredSheetsExist())
        units.forOffice("a formula referring to a sheet the workbook does not have");
    return units.result();
}

}  // namespace ferretta::documents
