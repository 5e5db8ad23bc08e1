// SpreadsheetML (.xlsx .xlsm): the package's relationships lead to the workbook, its sheets,
// shared strings and styles; each worksheet is streamed, its cells handed out as they come.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "documents/cell_forms.h"
#include "documents/sheet_formula.h"
#include "documents/sheet_reader.h"
#include "documents/xml_parser.h"
#include "platform/hex_digit.h"

namespace ferretta::documents {
namespace {

constexpr std::string_view kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kStrictMain = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr std::string_view kRelationshipNs =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kPackageNs =
    "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view kTypeBase =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

// The folder of a part ("xl/" for "xl/workbook.xml") and a relationship's target resolved
// against it.
std::string folderOf(std::string_view part) {
    const std::size_t slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

std::string resolve(const std::string& folder, std::string_view target) {
    std::string path =
        target.substr(0, 1) == "/" ? std::string(target.substr(1)) : folder + std::string(target);
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out;
    for (const auto& part : parts)
        out += (out.empty() ? "" : "/") + part;
    return out;
}

struct Relationship {
    std::string id;
    std::string type;  // the part after kTypeBase, or the whole type
    std::string target;
    bool external = false;
};

class RelationshipsHandler final : public XmlHandler {
  public:
    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (!name.is(kPackageNs, "Relationship"))
            return;
        Relationship r;
        r.id = attributes.value({}, "Id");
        std::string_view type = attributes.value({}, "Type");
        if (type.substr(0, kTypeBase.size()) == kTypeBase)
            type.remove_prefix(kTypeBase.size());
        r.type = type;
        r.target = attributes.value({}, "Target");
        r.external = attributes.value({}, "TargetMode") == "External";
        relationships.push_back(std::move(r));
    }
    std::vector<Relationship> relationships;
};

std::vector<Relationship> readRelationships(ZipArchive& archive, std::string_view part,
                                            const ReadLimits& limits, std::string& why) {
    RelationshipsHandler handler;
    XmlParser parser(handler, limits);
    const std::string folder = folderOf(part);
    const std::string name = folder + "_rels/" + std::string(part.substr(folder.size())) + ".rels";
    if (!archive.has(name) || !parseXmlPart(archive, name, parser, why))
        return {};
    return handler.relationships;
}

// The application that wrote the package (docProps/app.xml).
class ApplicationHandler final : public XmlHandler {
  public:
    void startElement(const XmlName& name, const XmlAttributes& /*attributes*/) override {
        m_inName = name.local == "Application";
    }
    void endElement(const XmlName& /*name*/) override { m_inName = false; }
    void characters(std::string_view text) override {
        if (m_inName)
            application += text;
    }
    std::string application;

  private:
    bool m_inName = false;
};

struct SheetEntry {
    std::string name;
    std::string relationshipId;
};

class WorkbookHandler final : public XmlHandler {
  public:
    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (name.uri == kStrictMain)
            strict = true;
        if (name.uri != kMain)
            return;
        if (name.local == "sheet") {
            sheets.push_back({std::string(attributes.value({}, "name")),
                              std::string(attributes.value(kRelationshipNs, "id"))});
        } else if (name.local == "calcPr") {
            const std::string_view full = attributes.value({}, "fullCalcOnLoad");
            recalculated = full == "1" || full == "true";
        } else if (name.local == "definedName") {
            DefinedName defined{std::string(attributes.value({}, "name")), -1};
            const std::string_view sheet = attributes.value({}, "localSheetId");
            if (!sheet.empty())
                std::from_chars(sheet.data(), sheet.data() + sheet.size(), defined.sheet);
            names.push_back(std::move(defined));
        }
    }
    std::vector<SheetEntry> sheets;
    std::vector<DefinedName> names;
    bool recalculated = false;
    bool strict = false;
};

// The shared strings, held once: every string's decoded text in one buffer, of at most
// ReadLimits::maxBufferedBytes.
class SharedStrings final : public XmlHandler {
  public:
    void setLimit(std::size_t bytes) { m_limit = bytes; }
    bool tooLarge() const { return m_tooLarge; }

    void startElement(const XmlName& name, const XmlAttributes& /*attributes*/) override {
        if (name.uri != kMain)
            return;
        if (name.local == "si") {
            m_inItem = true;
            m_item.clear();
        } else if (name.local == "rPh") {
            ++m_phonetic;  // reading aids (furigana) are not part of the text
        } else if (name.local == "t" && m_inItem && m_phonetic == 0) {
            m_inText = true;
        }
    }
    void endElement(const XmlName& name) override {
        if (name.uri != kMain)
            return;
        if (name.local == "t") {
            m_inText = false;
        } else if (name.local == "rPh") {
            --m_phonetic;
        } else if (name.local == "si") {
            m_inItem = false;
            m_starts.push_back(m_text.size());
            m_unsure.push_back(!decodeXString(m_item, m_decoded));
            m_text += m_decoded;
            m_tooLarge =
                m_tooLarge || m_text.size() + m_starts.size() * sizeof(std::size_t) > m_limit;
        }
    }
    void characters(std::string_view text) override {
        if (m_inText && !m_tooLarge) {
            m_item += text;
            m_tooLarge = m_item.size() > m_limit;
        }
    }

    std::size_t size() const { return m_starts.size(); }
    // Nullopt for a string whose escapes the office's treatment of was not measured.
    std::optional<std::string_view> at(std::size_t index) const {
        if (m_unsure[index])
            return std::nullopt;
        const std::size_t end = index + 1 < m_starts.size() ? m_starts[index + 1] : m_text.size();
        return std::string_view(m_text).substr(m_starts[index], end - m_starts[index]);
    }

    // Open XML's escapes (_xHHHH_): the office decodes those of control characters and of the
    // underscore and keeps the others as written; a line break CR LF becomes LF. False for
    // escapes of surrogates and noncharacters, which the office does not read safely.
    static bool decodeXString(std::string_view in, std::string& out) {
        if (in.find('_') == std::string_view::npos && in.find('\r') == std::string_view::npos) {
            out.assign(in);
            return true;
        }
        out.clear();
        for (std::size_t i = 0; i < in.size(); ++i) {
            char32_t value = 0;
            if (in[i] == '_' && i + 6 < in.size() && in[i + 1] == 'x' && in[i + 6] == '_' &&
                hexValue(in.substr(i + 2, 4), value)) {
                if (value >= 0xD800 && value <= 0xDFFF)
                    return false;
                if (value >= 0xFFFE)
                    return false;
                if (value < 0x20 || value == 0x5F) {
                    out += static_cast<char>(value);
                    i += 6;
                    continue;
                }
            }
            out += in[i];
        }
        // CR LF to LF, in one pass.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (out[i] != '\r' || i + 1 == out.size() || out[i + 1] != '\n')
                out[kept++] = out[i];
        }
        out.resize(kept);
        return true;
    }

  private:
    static bool hexValue(std::string_view digits, char32_t& value) {
        value = 0;
        for (char c : digits) {
            const int d = platform::hexDigitValue(static_cast<unsigned char>(c));
            if (d < 0)
                return false;
            value = value * 16 + static_cast<char32_t>(d);
        }
        return true;
    }

    std::size_t m_limit = SIZE_MAX;
    bool m_tooLarge = false;
    bool m_inItem = false;
    bool m_inText = false;
    int m_phonetic = 0;
    std::string m_item;
    std::string m_decoded;
    std::string m_text;
    std::vector<std::size_t> m_starts;
    std::vector<bool> m_unsure;
};

// Which cell formats show a value as the General format does (or text as it is).
class Styles final : public XmlHandler {
  public:
    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (name.uri != kMain)
            return;
        if (name.local == "numFmt") {
            m_codes[std::string(attributes.value({}, "numFmtId"))] =
                attributes.value({}, "formatCode");
        } else if (name.local == "cellXfs") {
            m_inCellFormats = true;
        } else if (name.local == "xf" && m_inCellFormats) {
            m_formats.push_back(std::string(attributes.value({}, "numFmtId")));
        }
    }
    void endElement(const XmlName& name) override {
        // The cell formats are all that is needed; the named styles and the rest follow them.
        if (name.uri == kMain && name.local == "cellXfs") {
            m_inCellFormats = false;
            m_parser->stop();
        }
    }
    void setParser(XmlParser& parser) { m_parser = &parser; }

    // The style index `s` of a cell (empty: the first style).
    bool isGeneral(std::string_view s) const { return formatIs(s, "0", "GENERAL"); }
    bool isText(std::string_view s) const { return formatIs(s, "49", "@"); }

  private:
    bool formatIs(std::string_view s, std::string_view builtIn, std::string_view code) const {
        std::size_t index = 0;
        if (!s.empty()) {
            char* end = nullptr;
            const std::string text(s);
            index = std::strtoul(text.c_str(), &end, 10);
            if (end != text.c_str() + text.size())
                return false;
        }
        if (m_formats.empty())
            return index == 0 && builtIn == "0";
        if (index >= m_formats.size())
            return false;
        const std::string& id = m_formats[index];
        const auto custom = m_codes.find(id);
        if (custom == m_codes.end())
            return id == builtIn || (id.empty() && builtIn == "0");
        std::string upper = custom->second;
        for (char& c : upper)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        return upper == code;
    }

    XmlParser* m_parser = nullptr;
    std::map<std::string, std::string> m_codes;
    std::vector<std::string> m_formats;
    bool m_inCellFormats = false;
};

bool isKnownError(std::string_view text) {
    return text == "#NULL!" || text == "#DIV/0!" || text == "#VALUE!" || text == "#REF!" ||
           text == "#NAME?" || text == "#NUM!" || text == "#N/A";
}

// "B12" -> column 2, row 12.
bool parseCellReference(std::string_view text, std::int32_t& row, std::int32_t& column) {
    std::size_t i = 0;
    std::int64_t c = 0;
    while (i < text.size() && text[i] >= 'A' && text[i] <= 'Z' && i < 4)
        c = c * 26 + (text[i++] - 'A' + 1);
    std::int64_t r = 0;
    const std::size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - digits < 8)
        r = r * 10 + (text[i++] - '0');
    if (digits == 0 || i == digits || i != text.size() || r < 1 || c < 1)
        return false;
    row = static_cast<std::int32_t>(r);
    column = static_cast<std::int32_t>(c);
    return true;
}

bool parseIndex(std::string_view text, std::int64_t& value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    value = std::strtoll(std::string(text).c_str(), nullptr, 10);
    return true;
}

// The workbook's parts beside its sheets, each read when first needed: the shared strings,
// the styles (which only shown values need) and the writing application.
class Workbook {
  public:
    Workbook(ZipArchive& archive, const ReadLimits& limits)
        : m_archive(archive), m_limits(limits) {}

    std::vector<std::string> sheetNames;
    std::vector<std::string> worksheetParts;  // empty for a chart sheet
    std::vector<DefinedName> definedNames;
    std::string stringsPart;
    std::string stylesPart;
    std::string propertiesPart;
    bool recalculated = false;

    // Null, with failure() saying why, when the part is damaged.
    // The answers are kept: a sheet asks for each cell that needs them.
    const SharedStrings* strings() {
        if (!m_stringsAnswer)
            m_stringsAnswer = loadStrings();
        return *m_stringsAnswer;
    }
    const Styles* styles() {
        if (!m_stylesAnswer)
            m_stylesAnswer = load(m_styles, stylesPart) ? &m_styles : nullptr;
        return *m_stylesAnswer;
    }
    const std::string& failure() const { return m_failure; }
    const ReadLimits& limits() const { return m_limits; }

    // The office keeps stored formula texts only from Excel and from itself.
    bool trustedTexts() {
        if (!m_trusted) {
            ApplicationHandler properties;
            m_trusted = load(properties, propertiesPart) &&
                        (properties.application.starts_with("Microsoft") ||
                         properties.application.starts_with("LibreOffice"));
        }
        return *m_trusted;
    }

    // Whether any worksheet holds a function the office computes on every load: its value,
    // and that of every formula that refers to cells, may then differ from the stored one.
    // The parts' bytes are searched for the names before a '(' , letter case aside.
    bool hasVolatileFunctions() {
        if (m_volatile)
            return *m_volatile;
        static constexpr std::array<std::string_view, 8> kNames = {
            "NOW", "TODAY", "RAND", "RANDBETWEEN", "OFFSET", "INDIRECT", "INFO", "CELL"};
        bool found = false;
        for (const std::string& part : worksheetParts) {
            if (part.empty())
                continue;
            std::string tail;  // the end of the previous chunk, for a name cut in two
            std::string why;
            const bool read = m_archive.stream(
                part,
                [&](std::string_view chunk) {
                    const std::string joined = tail + std::string(chunk.substr(0, 16));
                    const auto scan = [&](std::string_view text, std::size_t from) {
                        for (std::size_t at = text.find('(', from); at != std::string_view::npos;
                             at = text.find('(', at + 1)) {
                            for (std::string_view name : kNames) {
                                if (at >= name.size() &&
                                    equalsUpper(text.substr(at - name.size(), name.size()), name))
                                    found = true;
                            }
                        }
                    };
                    scan(joined, std::min(tail.size(), joined.size()));
                    scan(chunk, 0);
                    tail = std::string(chunk.substr(chunk.size() > 16 ? chunk.size() - 16 : 0));
                    return !found;
                },
                why);
            if (found || !read) {
                found = true;
                break;
            }
        }
        m_volatile = found;
        return found;
    }

  private:
    const SharedStrings* loadStrings() {
        m_strings.setLimit(m_limits.maxBufferedBytes);
        if (!load(m_strings, stringsPart))
            return nullptr;
        if (m_strings.tooLarge()) {
            m_failure = "shared strings larger than " + std::to_string(m_limits.maxBufferedBytes) +
                        " bytes";
            return nullptr;
        }
        return &m_strings;
    }

    static bool equalsUpper(std::string_view text, std::string_view upper) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c =
                text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 32) : text[i];
            if (c != upper[i])
                return false;
        }
        return true;
    }

    // Parses `part` into `handler` once; true when it is missing (an empty part) or was read.
    template <class Handler>
    bool load(Handler& handler, const std::string& part) {
        if (part.empty() || !m_archive.has(part))
            return true;
        if (m_loaded.contains(part))
            return m_loaded[part];
        XmlParser parser(handler, m_limits);
        if constexpr (requires { handler.setParser(parser); })
            handler.setParser(parser);
        std::string why;
        const bool ok = parseXmlPart(m_archive, part, parser, why);
        if (!ok)
            m_failure = why;
        m_loaded[part] = ok;
        return ok;
    }

    ZipArchive& m_archive;
    const ReadLimits& m_limits;
    SharedStrings m_strings;
    Styles m_styles;
    std::map<std::string, bool> m_loaded;
    std::optional<const SharedStrings*> m_stringsAnswer;
    std::optional<const Styles*> m_stylesAnswer;
    std::optional<bool> m_trusted;
    std::optional<bool> m_volatile;
    std::string m_failure;
};

struct SharedFormula {
    SheetFormula formula;
    std::int32_t row = 0;
    std::int32_t column = 0;
};

class WorksheetHandler final : public XmlHandler {
  public:
    WorksheetHandler(Workbook& book, WorkbookUnits& units, std::int32_t sheet)
        : m_book(book), m_units(units), m_names{book.sheetNames, book.definedNames, sheet} {}
    void setParser(XmlParser& parser) { m_parser = &parser; }

    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (name.uri != kMain) {
            if (name.uri == kStrictMain)
                giveUp("a strict Open XML workbook");
            return;
        }
        const std::string_view local = name.local;
        if (local == "sheetData") {
            m_inData = true;
        } else if (!m_inData) {
            return;
        } else if (local == "row") {
            startRow(attributes.value({}, "r"));
        } else if (local == "c") {
            startCell(attributes);
        } else if (m_inCell && local == "v") {
            m_cell.hasValue = true;
            m_collect = &m_cell.value;
        } else if (m_inCell && local == "f") {
            m_cell.hasFormula = true;
            m_formulaTypeText = attributes.value({}, "t");
            m_sharedIndexText = attributes.value({}, "si");
            const std::string_view always = attributes.value({}, "ca");
            m_cell.alwaysCalculated = always == "1" || always == "true";
            m_collect = &m_cell.formula;
        } else if (m_inCell && local == "is") {
            m_cell.hasInline = true;
        } else if (m_inCell && local == "rPh") {
            ++m_phonetic;
        } else if (m_inCell && local == "t" && m_cell.hasInline && m_phonetic == 0) {
            m_collect = &m_cell.inlineText;
        }
    }

    void endElement(const XmlName& name) override {
        if (name.uri != kMain || !m_inData)
            return;
        const std::string_view local = name.local;
        if (local == "v" || local == "f" || local == "t") {
            m_collect = nullptr;
        } else if (local == "rPh") {
            --m_phonetic;
        } else if (local == "c") {
            m_inCell = false;
            if (!finishCell())
                m_parser->stop();
        } else if (local == "sheetData") {
            // What follows the cells (merged areas, formats, page setup) is not read.
            m_inData = false;
            m_parser->stop();
        }
    }

    void characters(std::string_view text) override {
        if (m_collect == nullptr)
            return;
        if (m_collect->size() + text.size() > m_book.limits().maxBufferedBytes)
            return giveUp("a cell larger than the bound of one part held in memory");
        m_collect->append(text);
    }

  private:
    struct Cell {
        std::string style;
        std::string value;
        std::string formula;
        std::string inlineText;
        bool hasValue = false;
        bool hasFormula = false;
        bool hasInline = false;
        bool alwaysCalculated = false;
    };

    void giveUp(std::string why) {
        m_units.forOffice(std::move(why));
        m_parser->stop();
    }

    void startRow(std::string_view r) {
        std::int64_t row = m_row + 1;
        if (!r.empty() && !parseIndex(r, row)) {
            giveUp("a row without a readable number");
            return;
        }
        if (row <= m_row) {
            giveUp("rows out of order");
            return;
        }
        m_row = static_cast<std::int32_t>(std::min<std::int64_t>(row, WorkbookUnits::kLastRow + 1));
        m_column = 0;
    }

    void startCell(const XmlAttributes& attributes) {
        m_inCell = true;
        m_phonetic = 0;
        m_cell.value.clear();
        m_cell.formula.clear();
        m_cell.inlineText.clear();
        m_cell.hasValue = m_cell.hasFormula = m_cell.hasInline = m_cell.alwaysCalculated = false;
        m_formulaTypeText.clear();
        m_sharedIndexText.clear();
        m_typeText.clear();
        m_cell.style.clear();
        std::string_view r;
        // One pass over the attributes: this runs for every cell.
        attributes.forEach([&](const XmlName& name, std::string_view value) {
            if (!name.uri.empty() || name.local.size() != 1)
                return;
            if (name.local[0] == 't')
                m_typeText = value;
            else if (name.local[0] == 's')
                m_cell.style = value;
            else if (name.local[0] == 'r')
                r = value;
        });
        std::int32_t row = m_row;
        std::int32_t column = m_column + 1;
        if (!r.empty() && !parseCellReference(r, row, column)) {
            giveUp("a cell without a readable reference");
            return;
        }
        if (m_row == 0)
            m_row = row;
        if (row != m_row || column <= m_column) {
            giveUp("cells out of order");
            return;
        }
        m_column = column;
    }

    bool emit(std::string_view text, std::string_view shown = {}, bool shownKnown = true) {
        return m_units.cell(m_row, m_column, text, shown, shownKnown);
    }

    // A text cell; one that starts with '=' the office takes for a formula and shows as it is.
    bool emitText(std::string_view text) {
        if (!textCellText(text, m_form))
            return m_units.forOffice("a text the office may take for a number: " +
                                     std::string(text));
        if (!m_form.empty() && m_form.front() == '=') {
            const Styles* styles = m_book.styles();
            if (styles == nullptr)
                return m_units.forOffice(m_book.failure());
            return emit(m_form, text,
                        styles->isGeneral(m_cell.style) || styles->isText(m_cell.style));
        }
        return emit(m_form);
    }

    bool finishCell() {
        if (m_units.ended())
            return false;
        if (m_cell.hasFormula)
            return formulaCell();
        const std::string_view type = m_typeText;
        if (type == "inlineStr") {
            if (!m_cell.hasInline)
                return true;
            if (!SharedStrings::decodeXString(m_cell.inlineText, m_decoded))
                return m_units.forOffice("an inline string with escapes not read here");
            return emitText(m_decoded);
        }
        if (!m_cell.hasValue || m_cell.value.empty())
            return true;
        if (type == "s") {
            const SharedStrings* strings = m_book.strings();
            if (strings == nullptr)
                return m_units.forOffice(m_book.failure());
            std::int64_t index = 0;
            if (!parseIndex(m_cell.value, index) ||
                static_cast<std::size_t>(index) >= strings->size())
                return m_units.forOffice("a cell referring to a missing shared string");
            const auto text = strings->at(static_cast<std::size_t>(index));
            if (!text)
                return m_units.forOffice("a shared string with escapes not read here");
            return emitText(*text);
        }
        if (type == "str") {
            if (!SharedStrings::decodeXString(m_cell.value, m_decoded))
                return m_units.forOffice("a string with escapes not read here");
            return emitText(m_decoded);
        }
        if (type == "b") {
            if (m_cell.value != "0" && m_cell.value != "1")
                return m_units.forOffice("a truth value not read here");
            // The office makes a formula of a truth value.
            const bool truth = m_cell.value == "1";
            const Styles* styles = m_book.styles();
            if (styles == nullptr)
                return m_units.forOffice(m_book.failure());
            return emit(truth ? "=TRUE()" : "=FALSE()", truth ? "1" : "0",
                        styles->isGeneral(m_cell.style));
        }
        if (type == "e") {
            if (!isKnownError(m_cell.value))
                return m_units.forOffice("an error value not read here");
            return emit("=" + m_cell.value, m_cell.value);
        }
        if (!type.empty() && type != "n")
            return m_units.forOffice("a cell of type " + std::string(type));
        const auto text = storedNumberText(m_cell.value);
        if (!text)
            return m_units.forOffice("a number not read here: " + m_cell.value);
        return emit(*text);
    }

    bool formulaCell() {
        const std::string_view formulaType = m_formulaTypeText;
        std::string why;
        std::optional<std::string> text;
        const SheetFormula* formula = nullptr;
        bool shared = false;
        if (formulaType == "shared") {
            shared = true;
            std::int64_t index = 0;
            if (!parseIndex(m_sharedIndexText, index))
                return m_units.forOffice("a shared formula without its index");
            if (!m_cell.formula.empty()) {
                auto parsed = SheetFormula::fromExcel(m_cell.formula, m_names, why);
                if (!parsed)
                    return m_units.forOffice(why);
                m_shared.insert_or_assign(index,
                                          SharedFormula{std::move(*parsed), m_row, m_column});
            }
            const auto found = m_shared.find(index);
            if (found == m_shared.end())
                return m_units.forOffice("a shared formula whose first cell is missing");
            formula = &found->second.formula;
            text = formula->text(m_row - found->second.row, m_column - found->second.column, why);
        } else if (formulaType.empty() || formulaType == "normal") {
            m_single = SheetFormula::fromExcel(m_cell.formula, m_names, why);
            if (m_single) {
                formula = &*m_single;
                text = formula->text(0, 0, why);
            }
        } else {
            return m_units.forOffice("an " + std::string(formulaType) + " formula");
        }
        if (!text)
            return m_units.forOffice(why);
        // The office computes a formula again when it has no stored value, when it is shared,
        // volatile or depends on a volatile cell, when the workbook asks for it, and when its
        // value is a truth value, an error, or a text from an application it does not trust.
        bool known = m_cell.hasValue && !m_cell.value.empty() && !shared &&
                     !m_cell.alwaysCalculated && !m_book.recalculated && !formula->isVolatile();
        if (known && formula->hasReferences())
            known = !m_book.hasVolatileFunctions();
        std::string shown;
        if (known) {
            const Styles* styles = m_book.styles();
            if (styles == nullptr)
                return m_units.forOffice(m_book.failure());
            known = shownValue(*styles, shown);
        }
        return emit(*text, shown, known);
    }

    // The stored value of a formula as the office shows it, for the formats measured.
    bool shownValue(const Styles& styles, std::string& shown) {
        const std::string_view type = m_typeText;
        const bool general = styles.isGeneral(m_cell.style);
        if (type == "str") {
            if (m_cell.value.find("_x") != std::string::npos || !m_book.trustedTexts())
                return false;
            shown = m_cell.value;
            return general || styles.isText(m_cell.style);
        }
        double number = 0;
        if ((!type.empty() && type != "n") || !general || !parseStoredNumber(m_cell.value, number))
            return false;
        const auto text = generalShown(number);
        if (!text)
            return false;
        shown = *text;
        return true;
    }

    Workbook& m_book;
    WorkbookUnits& m_units;
    ExcelNames m_names;
    XmlParser* m_parser = nullptr;
    bool m_inData = false;
    bool m_inCell = false;
    int m_phonetic = 0;
    std::int32_t m_row = 0;
    std::int32_t m_column = 0;
    Cell m_cell;
    std::string m_typeText;
    std::string m_formulaTypeText;
    std::string m_sharedIndexText;
    std::string* m_collect = nullptr;
    std::string m_decoded;  // a string's text with its escapes decoded
    std::string m_form;     // a text cell's formula form
    std::map<std::int64_t, SharedFormula> m_shared;
    std::optional<SheetFormula> m_single;
};

}  // namespace

ReadResult readSpreadsheetMl(ZipArchive& archive, UnitSink& sink, const ReadLimits& limits) {
    WorkbookUnits units(sink, limits);
    std::string why;
    const auto forOffice = [&](std::string reason) {
        units.forOffice(std::move(reason));
        return units.result();
    };
    // The package points to its workbook; a workbook part is all that is needed of it.
    std::string workbookPart;
    std::string propertiesPart;
    for (const auto& r : readRelationships(archive, "", limits, why)) {
        if (r.type == "officeDocument" && !r.external)
            workbookPart = resolve("", r.target);
        else if (r.type == "extended-properties" && !r.external)
            propertiesPart = resolve("", r.target);
    }
    if (workbookPart.empty() || !archive.has(workbookPart))
        return forOffice(why.empty() ? "no workbook in the package" : why);

    WorkbookHandler workbook;
    {
        XmlParser parser(workbook, limits);
        if (!parseXmlPart(archive, workbookPart, parser, why))
            return forOffice(why);
    }
    if (workbook.strict)
        return forOffice("a strict Open XML workbook");
    const auto relationships = readRelationships(archive, workbookPart, limits, why);
    const std::string folder = folderOf(workbookPart);

    Workbook book(archive, limits);
    book.recalculated = workbook.recalculated;
    book.definedNames = workbook.names;
    book.propertiesPart = propertiesPart;
    for (const auto& r : relationships) {
        if (r.external)
            continue;
        if (r.type == "sharedStrings")
            book.stringsPart = resolve(folder, r.target);
        else if (r.type == "styles")
            book.stylesPart = resolve(folder, r.target);
    }
    // Each sheet's part; a chart sheet is a sheet without cells.
    for (const auto& sheet : workbook.sheets) {
        const auto r =
            std::find_if(relationships.begin(), relationships.end(),
                         [&](const Relationship& x) { return x.id == sheet.relationshipId; });
        if (r == relationships.end() || r->external)
            return forOffice("a sheet without its part");
        if (r->type == "worksheet")
            book.worksheetParts.push_back(resolve(folder, r->target));
        else if (r->type == "chartsheet")
            book.worksheetParts.emplace_back();
        else
            return forOffice("a sheet of the kind " + r->type);
        book.sheetNames.push_back(sheet.name);
    }
    for (std::size_t i = 0; i < book.sheetNames.size(); ++i) {
        if (!units.sheet(book.sheetNames[i]))
            return units.result();
        if (book.worksheetParts[i].empty())
            continue;
        WorksheetHandler handler(book, units, static_cast<std::int32_t>(i));
        XmlParser parser(handler, limits);
        handler.setParser(parser);
        if (!parseXmlPart(archive, book.worksheetParts[i], parser, why))
            return forOffice(why);
        if (units.ended())
            return units.result();
    }
    return units.result();
}

}  // namespace ferretta::documents
