#include "documents/sheet_formula.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <unordered_map>

#include "documents/cell_forms.h"

namespace ferretta::documents {
namespace {

// The office's sheets: 1024 columns (A to AMJ) and 1048576 rows.
constexpr std::int32_t kLastColumn = 1024;
constexpr std::int32_t kLastRow = 1048576;

// A function as Excel stores it, as OpenDocument stores it and as the office's API names it.
struct Function {
    std::string excel;  // empty: not read from Excel files
    std::string odf;    // empty: not read from OpenDocument files
    std::string api;
};

// The functions whose names were measured; every other name leaves the workbook to the office.
const std::vector<Function>& functions() {
    static const std::vector<Function> table = [] {
        // The same name everywhere.
        static constexpr std::array<std::string_view, 170> kSame = {
            "SUM",      "AVERAGE",     "COUNT",      "COUNTA",    "COUNTBLANK",  "COUNTIF",
            "COUNTIFS", "SUMIF",       "SUMIFS",     "AVERAGEIF", "AVERAGEIFS",  "MAX",
            "MIN",      "MAXA",        "MINA",       "IF",        "IFERROR",     "AND",
            "OR",       "NOT",         "ROUND",      "ROUNDUP",   "ROUNDDOWN",   "INT",
            "ABS",      "MOD",         "LEN",        "LENB",      "LEFT",        "LEFTB",
            "RIGHT",    "RIGHTB",      "MID",        "MIDB",      "FIND",        "FINDB",
            "SEARCH",   "SEARCHB",     "SUBSTITUTE", "REPLACE",   "REPLACEB",    "TRIM",
            "UPPER",    "LOWER",       "PROPER",     "TEXT",      "VALUE",       "CONCATENATE",
            "VLOOKUP",  "HLOOKUP",     "LOOKUP",     "INDEX",     "MATCH",       "DATE",
            "YEAR",     "MONTH",       "DAY",        "TODAY",     "NOW",         "WEEKDAY",
            "DATEDIF",  "NETWORKDAYS", "DAYS360",    "PRODUCT",   "SUMPRODUCT",  "SUMSQ",
            "RANK",     "LARGE",       "SMALL",      "MEDIAN",    "MODE",        "STDEV",
            "STDEVP",   "VAR",         "VARP",       "ISBLANK",   "ISERROR",     "ISERR",
            "ISNUMBER", "ISTEXT",      "ISNONTEXT",  "ISLOGICAL", "ISNA",        "ISREF",
            "ISEVEN",   "ISODD",       "ROW",        "ROWS",      "COLUMN",      "COLUMNS",
            "OFFSET",   "INDIRECT",    "ADDRESS",    "CHOOSE",    "REPT",        "EXACT",
            "POWER",    "SQRT",        "PI",         "RAND",      "HOUR",        "MINUTE",
            "SECOND",   "TIME",        "DATEVALUE",  "TIMEVALUE", "NA",          "JIS",
            "ASC",      "DOLLAR",      "FIXED",      "CHAR",      "CODE",        "CLEAN",
            "LOG",      "LOG10",       "LN",         "EXP",       "TRUNC",       "SIGN",
            "SUBTOTAL", "HYPERLINK",   "TRANSPOSE",  "CELL",      "INFO",        "TYPE",
            "N",        "T",           "ERROR.TYPE", "FACT",      "COMBIN",      "PERMUT",
            "GCD",      "LCM",         "ODD",        "EVEN",      "DEGREES",     "RADIANS",
            "SIN",      "COS",         "TAN",        "ATAN2",     "FREQUENCY",   "TREND",
            "FORECAST", "CORREL",      "PERCENTILE", "QUARTILE",  "PERCENTRANK", "AVEDEV",
            "DEVSQ",    "PMT",         "PV",         "FV",        "NPV",         "IRR",
            "RATE",     "NPER",        "DB",         "DDB",       "SLN",         "TRUE",
            "FALSE"};
        // Functions of the office's analysis add-in: named after its programming interface.
        static constexpr std::array<std::string_view, 15> kAnalysis = {
            "EDATE",    "EOMONTH", "WORKDAY", "YEARFRAC", "RANDBETWEEN",
            "QUOTIENT", "MROUND",  "BIN2DEC", "DEC2BIN",  "DEC2HEX",
            "HEX2DEC",  "CONVERT", "DELTA",   "GESTEP",   "ERF"};
        std::vector<Function> out;
        for (std::string_view name : kSame)
            out.push_back({std::string(name), std::string(name), std::string(name)});
        for (std::string_view name : kAnalysis) {
            out.push_back({std::string(name), std::string(name),
                           "COM.SUN.STAR.SHEET.ADDIN.ANALYSIS.GET" + std::string(name)});
        }
        const std::vector<Function> renamed = {
            {"CEILING", "COM.MICROSOFT.CEILING", "CEILING.XCL"},
            {"FLOOR", "COM.MICROSOFT.FLOOR", "FLOOR.XCL"},
            {"NETWORKDAYS.INTL", "COM.MICROSOFT.NETWORKDAYS.INTL", "NETWORKDAYS.INTL"},
            {"WORKDAY.INTL", "COM.MICROSOFT.WORKDAY.INTL", "WORKDAY.INTL"},
            {"_XLFN.CONCAT", "COM.MICROSOFT.CONCAT", "CONCAT"},
            {"_XLFN.IFS", "COM.MICROSOFT.IFS", "IFS"},
            {"_XLFN.TEXTJOIN", "COM.MICROSOFT.TEXTJOIN", "TEXTJOIN"},
            {"_XLFN.MAXIFS", "COM.MICROSOFT.MAXIFS", "MAXIFS"},
            {"_XLFN.MINIFS", "COM.MICROSOFT.MINIFS", "MINIFS"},
            {"_XLFN.SWITCH", "COM.MICROSOFT.SWITCH", "SWITCH"},
            {"_XLFN.IFNA", "IFNA", "IFNA"},
            {"_XLFN.STDEV.S", "COM.MICROSOFT.STDEV.S", "STDEV.S"},
            {"_XLFN.DAYS", "DAYS", "DAYS"},
            {"_XLFN.ISOWEEKNUM", "ISOWEEKNUM", "ISOWEEKNUM"},
            {"_XLFN.CEILING.MATH", "COM.MICROSOFT.CEILING.MATH", "CEILING.MATH"},
            {"_XLFN.FLOOR.MATH", "COM.MICROSOFT.FLOOR.MATH", "FLOOR.MATH"},
            {"_XLFN.RANK.EQ", "COM.MICROSOFT.RANK.EQ", "RANK.EQ"},
            {"_XLFN.NUMBERVALUE", "NUMBERVALUE", "NUMBERVALUE"},
            {"_XLFN.UNICHAR", "UNICHAR", "UNICHAR"},
            {"", "XOR", "XOR"},
            {"", "UNICODE", "UNICODE"},
            {"", "SHEET", "SHEET"},
            {"", "SHEETS", "SHEETS"},
        };
        out.insert(out.end(), renamed.begin(), renamed.end());
        return out;
    }();
    return table;
}

bool isVolatileName(std::string_view api) {
    static constexpr std::array<std::string_view, 8> kVolatile = {
        "NOW",      "TODAY", "RAND", "OFFSET",
        "INDIRECT", "INFO",  "CELL", "COM.SUN.STAR.SHEET.ADDIN.ANALYSIS.GETRANDBETWEEN"};
    return std::find(kVolatile.begin(), kVolatile.end(), api) != kVolatile.end();
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The errors the office writes as Excel does.
bool isErrorLiteral(std::string_view text) {
    static constexpr std::array<std::string_view, 7> kErrors = {
        "#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"};
    return std::find(kErrors.begin(), kErrors.end(), text) != kErrors.end();
}

std::string columnName(std::int32_t column) {
    std::string name;
    while (column > 0) {
        const std::int32_t digit = (column - 1) % 26;
        name.insert(name.begin(), static_cast<char>('A' + digit));
        column = (column - 1) / 26;
    }
    return name;
}

// Reads [$]LETTERS at `at`; 0 when there are none or they name a column past the sheet.
std::int32_t readColumn(std::string_view text, std::size_t& at, bool& absolute) {
    std::size_t i = at;
    absolute = i < text.size() && text[i] == '$';
    if (absolute)
        ++i;
    std::int32_t column = 0;
    const std::size_t start = i;
    while (i < text.size() && isAsciiLetter(text[i]) && i - start < 4) {
        column = column * 26 + (upper(text.substr(i, 1))[0] - 'A' + 1);
        ++i;
    }
    if (i == start || column > kLastColumn || (i < text.size() && isAsciiLetter(text[i])))
        return 0;
    at = i;
    return column;
}

// Reads [$]DIGITS at `at`; 0 when there are none or they name a row past the sheet.
std::int32_t readRow(std::string_view text, std::size_t& at, bool& absolute) {
    std::size_t i = at;
    absolute = i < text.size() && text[i] == '$';
    if (absolute)
        ++i;
    std::int64_t row = 0;
    const std::size_t start = i;
    while (i < text.size() && isDigit(text[i]) && row <= kLastRow)
        row = row * 10 + (text[i++] - '0');
    if (i == start || row < 1 || row > kLastRow || (i < text.size() && isDigit(text[i])))
        return 0;
    at = i;
    return static_cast<std::int32_t>(row);
}

// A cell (A1), a column (A, only when `columnsAlone`) or a row (1, only when `rowsAlone`).
std::optional<SheetFormula::Address> readAddress(std::string_view text, std::size_t& at,
                                                 bool columnsAlone, bool rowsAlone) {
    SheetFormula::Address address;
    std::size_t i = at;
    address.column = readColumn(text, i, address.columnAbsolute);
    if (address.column != 0) {
        address.row = readRow(text, i, address.rowAbsolute);
        if (address.row == 0 && !columnsAlone)
            return std::nullopt;
        if (address.row == 0)
            address.rowAbsolute = false;
    } else {
        address.columnAbsolute = false;
        if (!rowsAlone)
            return std::nullopt;
        address.row = readRow(text, i, address.rowAbsolute);
        if (address.row == 0)
            return std::nullopt;
    }
    at = i;
    return address;
}

// A code point's treatment in a sheet name: 1 plain, 0 quoted, -1 not measured.
int sheetNameCharacter(char32_t c) {
    if (c < 0x80) {
        const auto ch = static_cast<char>(c);
        return isAsciiLetter(ch) || isDigit(ch) || ch == '_' ? 1 : 0;
    }
    const auto in = [c](char32_t from, char32_t to) { return c >= from && c <= to; };
    // Kanji, kana (with the prolonged sound and iteration marks), full- and half-width letters
    // and digits, the ideographic space, Latin-1 and Greek letters, circled and Roman numbers.
    if (in(0x4E00, 0x9FFF) || in(0x3400, 0x4DBF) || in(0x3041, 0x3096) || in(0x309D, 0x309F) ||
        in(0x30A1, 0x30FA) || in(0x30FC, 0x30FF) || in(0x3000, 0x3000) || in(0x3005, 0x3007) ||
        in(0xFF10, 0xFF19) || in(0xFF21, 0xFF3A) || in(0xFF41, 0xFF5A) || in(0xFF66, 0xFF9F) ||
        (in(0xC0, 0xFF) && c != 0xD7 && c != 0xF7) || in(0x391, 0x3A9) || in(0x3B1, 0x3C9) ||
        in(0x2460, 0x2473) || in(0x2160, 0x217F))
        return 1;
    // The katakana middle dot and the no-break space.
    if (c == 0x30FB || c == 0xA0)
        return 0;
    return -1;
}

}  // namespace

std::optional<std::string> quotedSheetName(std::string_view name) {
    bool plain = !name.empty();
    for (std::size_t at = 0; at < name.size();) {
        const int kind = sheetNameCharacter(nextCodePoint(name, at));
        if (kind < 0)
            return std::nullopt;
        plain = plain && kind == 1;
    }
    // A name of digits alone ("2024") is quoted, one that starts with them ("1st") is not; one
    // that might read as a number in E notation was not measured.
    if (plain && isDigit(name[0])) {
        const std::size_t letters = name.find_first_not_of("0123456789");
        if (letters != std::string_view::npos && (name[letters] == 'e' || name[letters] == 'E'))
            return std::nullopt;
        plain = letters != std::string_view::npos;
    }
    if (plain)
        return std::string(name);
    std::string out = "'";
    for (char c : name) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

// Builds a formula's pieces from either grammar.
class FormulaBuilder {
  public:
    // Without `names` (OpenDocument) sheet names are taken as written.
    FormulaBuilder(std::string_view text, const ExcelNames* names, bool odf)
        : m_text(text), m_names(names), m_sheets(names ? &names->sheets : nullptr), m_odf(odf) {}

    std::optional<SheetFormula> build(std::string& why) {
        // Room for the pieces of most formulas at once, rather than growing piece by piece.
        m_formula.m_pieces.reserve(8);
        m_formula.m_pieces.push_back({"=", {}, {}});
        while (m_at < m_text.size()) {
            if (!step()) {
                why = m_why.empty() ? "a formula not read here: " + std::string(m_text) : m_why;
                return std::nullopt;
            }
        }
        if (!m_parens.empty()) {
            why = "a formula with an open parenthesis";
            return std::nullopt;
        }
        return std::move(m_formula);
    }

  private:
    enum class Last { Start, Operator, Operand, Function };

    bool fail(std::string why) {
        m_why = std::move(why);
        return false;
    }
    void verbatim(std::string_view text) {
        if (m_formula.m_pieces.back().addresses.empty())
            m_formula.m_pieces.back().text += text;
        else
            m_formula.m_pieces.push_back({std::string(text), {}, {}});
    }
    char peek(std::size_t ahead = 0) const {
        return m_at + ahead < m_text.size() ? m_text[m_at + ahead] : '\0';
    }

    bool step() {
        const char c = peek();
        if (c == ' ' || c == '\n')
            return whitespace();
        if (c == '"')
            return stringLiteral();
        if (c == '#')
            return errorLiteral();
        if (isDigit(c) || (c == '.' && isDigit(peek(1))))
            return numberOrRows();
        if (m_odf && c == '[')
            return odfReference();
        if (c == '{')
            return arrayConstant();
        if (c == '(') {
            m_parens.push_back(m_last == Last::Function);
            verbatim("(");
            ++m_at;
            m_last = Last::Start;
            return true;
        }
        if (c == ')') {
            if (m_parens.empty())
                return fail("a formula with an unmatched parenthesis");
            m_parens.pop_back();
            verbatim(")");
            ++m_at;
            m_last = Last::Operand;
            return true;
        }
        if (c == ',' || (m_odf && c == ';')) {
            // Excel's union operator (a comma outside a function's arguments) is not read.
            if (m_parens.empty() || !m_parens.back())
                return fail("a formula with the union operator");
            verbatim(";");
            ++m_at;
            m_last = Last::Start;
            return true;
        }
        if (std::string_view("+-*/^&=%").find(c) != std::string_view::npos) {
            verbatim(m_text.substr(m_at, 1));
            ++m_at;
            m_last = c == '%' ? Last::Operand : Last::Operator;
            return true;
        }
        if (c == '<' || c == '>') {
            const std::size_t length = (peek(1) == '=' || (c == '<' && peek(1) == '>')) ? 2 : 1;
            verbatim(m_text.substr(m_at, length));
            m_at += length;
            m_last = Last::Operator;
            return true;
        }
        if (m_odf && (c == '!' || c == '~')) {
            verbatim(m_text.substr(m_at, 1));
            ++m_at;
            m_last = Last::Operator;
            return true;
        }
        if (!m_odf && (c == '$' || c == '\'' || isAsciiLetter(c) || c == '_' ||
                       static_cast<unsigned char>(c) >= 0x80))
            return excelName();
        if (m_odf && (isAsciiLetter(c) || c == '_'))
            return odfName();
        return fail("a formula with '" + std::string(1, c) + "'");
    }

    bool whitespace() {
        const std::size_t from = m_at;
        while (peek() == ' ' || peek() == '\n')
            ++m_at;
        // Between two operands a space is Excel's intersection operator.
        if (!m_odf && m_last == Last::Operand && m_at < m_text.size()) {
            const char next = peek();
            if (next == '$' || next == '\'' || next == '"' || next == '(' || next == '{' ||
                isAsciiLetter(next) || isDigit(next) || next == '_' ||
                static_cast<unsigned char>(next) >= 0x80)
                return fail("a formula with the intersection operator");
        }
        verbatim(m_text.substr(from, m_at - from));
        return true;
    }

    bool stringLiteral() {
        std::size_t i = m_at + 1;
        for (;;) {
            const std::size_t quote = m_text.find('"', i);
            if (quote == std::string_view::npos)
                return fail("a formula with an unterminated string");
            i = quote + 1;
            if (i < m_text.size() && m_text[i] == '"') {
                ++i;
                continue;
            }
            break;
        }
        const std::string_view literal = m_text.substr(m_at, i - m_at);
        if (literal.find("_x") != std::string_view::npos)
            return fail("a formula string with an escaped character");
        verbatim(literal);
        m_at = i;
        m_last = Last::Operand;
        return true;
    }

    bool errorLiteral() {
        for (std::size_t length = 3; length <= 7 && m_at + length <= m_text.size(); ++length) {
            if (isErrorLiteral(m_text.substr(m_at, length))) {
                verbatim(m_text.substr(m_at, length));
                m_at += length;
                m_last = Last::Operand;
                return true;
            }
        }
        return fail("a formula with an unknown error value");
    }

    // A number literal, as the office prints it again; in Excel also a row range ("1:3").
    bool numberOrRows() {
        if (!m_odf) {
            std::size_t i = m_at;
            bool absolute = false;
            if (readRow(m_text, i, absolute) != 0 && i < m_text.size() && m_text[i] == ':')
                return excelReference("");
        }
        return number();
    }

    bool number() {
        std::size_t i = m_at;
        while (i < m_text.size() && (isDigit(m_text[i]) || m_text[i] == '.'))
            ++i;
        if (i < m_text.size() && (m_text[i] == 'e' || m_text[i] == 'E')) {
            std::size_t j = i + 1;
            if (j < m_text.size() && (m_text[j] == '+' || m_text[j] == '-'))
                ++j;
            if (j < m_text.size() && isDigit(m_text[j])) {
                i = j;
                while (i < m_text.size() && isDigit(m_text[i]))
                    ++i;
            }
        }
        const std::string literal(m_text.substr(m_at, i - m_at));
        const bool glued = i < m_text.size() && (isAsciiLetter(m_text[i]) || m_text[i] == '_');
        char* end = nullptr;
        const double value = std::strtod(literal.c_str(), &end);
        const auto printed = numberInFormula(value);
        if (glued || std::count(literal.begin(), literal.end(), '.') > 1 ||
            end != literal.c_str() + literal.size() || !printed)
            return fail("a formula with the number " + literal);
        verbatim(*printed);
        m_at = i;
        m_last = Last::Operand;
        return true;
    }

    // An array constant: Excel separates columns with ',' and rows with ';', the office with
    // ';' and '|'. Numbers, strings and errors inside.
    bool arrayConstant() {
        verbatim("{");
        ++m_at;
        m_last = Last::Start;
        while (peek() != '}') {
            const char c = peek();
            if (c == '\0')
                return fail("a formula with an open array");
            if (c == ',' || c == ';' || (c == '|' && m_odf)) {
                verbatim(m_odf ? std::string_view(&m_text[m_at], 1)
                               : (c == ',' ? std::string_view(";") : std::string_view("|")));
                ++m_at;
            } else if (c == '-') {
                verbatim("-");
                ++m_at;
            } else if (c == '"') {
                if (!stringLiteral())
                    return false;
            } else if (c == '#') {
                if (!errorLiteral())
                    return false;
            } else if (isDigit(c) || c == '.') {
                if (!number())
                    return false;
            } else {
                return fail("a formula with an array constant not read here");
            }
        }
        verbatim("}");
        ++m_at;
        m_last = Last::Operand;
        return true;
    }

    const Function* lookUp(std::string_view name) const {
        // The functions by their name in each grammar.
        using Index = std::unordered_map<std::string, const Function*>;
        static const std::array<Index, 2> kIndex = [] {
            std::array<Index, 2> index;
            for (const Function& function : functions()) {
                if (!function.excel.empty())
                    index[0].emplace(function.excel, &function);
                if (!function.odf.empty())
                    index[1].emplace(function.odf, &function);
            }
            return index;
        }();
        const Index& index = kIndex[m_odf ? 1 : 0];
        const auto found = index.find(upper(name));
        return found == index.end() ? nullptr : found->second;
    }

    bool function(std::string_view name) {
        const Function* known = lookUp(name);
        if (known == nullptr)
            return fail("a formula with the function " + std::string(name));
        m_formula.m_volatile = m_formula.m_volatile || isVolatileName(known->api);
        verbatim(known->api);
        m_at += name.size();
        m_last = Last::Function;
        return true;
    }

    // The sheet of a reference, as the office prefixes it; nullopt for a sheet the workbook
    // does not have or a name not measured.
    std::optional<std::string> sheetPrefix(std::string_view name) {
        std::string found(name);
        if (m_sheets != nullptr) {
            // Excel's sheet names are matched without regard to case.
            const auto same = [&](bool exact) {
                return std::find_if(m_sheets->begin(), m_sheets->end(), [&](const std::string& s) {
                    return exact ? s == name : upper(s) == upper(name);
                });
            };
            auto sheet = same(true);
            if (sheet == m_sheets->end())
                sheet = same(false);
            if (sheet == m_sheets->end()) {
                m_why = "a formula referring to a sheet the workbook does not have";
                return std::nullopt;
            }
            found = *sheet;
        }
        if (std::find(m_formula.m_sheets.begin(), m_formula.m_sheets.end(), found) ==
            m_formula.m_sheets.end())
            m_formula.m_sheets.push_back(found);
        const auto quoted = quotedSheetName(found);
        if (!quoted) {
            m_why = "a formula referring to a sheet whose name is not read here";
            return std::nullopt;
        }
        return "$" + *quoted + ".";
    }

    // A name in Excel's grammar: a function, TRUE or FALSE, a reference, or a sheet name with
    // its reference.
    bool excelName() {
        if (peek() == '\'') {
            std::string name;
            std::size_t i = m_at + 1;
            for (;;) {
                if (i >= m_text.size())
                    return fail("a formula with an unterminated sheet name");
                if (m_text[i] == '\'') {
                    if (i + 1 < m_text.size() && m_text[i + 1] == '\'') {
                        name += '\'';
                        i += 2;
                        continue;
                    }
                    break;
                }
                name += m_text[i++];
            }
            if (i + 1 >= m_text.size() || m_text[i + 1] != '!')
                return fail("a formula with a quoted name");
            m_at = i + 2;
            return sheetReference(name);
        }
        std::size_t i = m_at;
        while (i < m_text.size() && (isAsciiLetter(m_text[i]) || isDigit(m_text[i]) ||
                                     m_text[i] == '_' || m_text[i] == '.' || m_text[i] == '$' ||
                                     static_cast<unsigned char>(m_text[i]) >= 0x80))
            ++i;
        const std::string_view word = m_text.substr(m_at, i - m_at);
        const char after = i < m_text.size() ? m_text[i] : '\0';
        if (after == '!') {
            m_at = i + 1;
            return sheetReference(word);
        }
        if (after == '(')
            return function(word);
        if (after == ':' || after == '\0' ||
            std::string_view(" +-*/^&=<>%,)\n").find(after) != std::string_view::npos) {
            const std::string w = upper(word);
            if (w == "TRUE" || w == "FALSE") {
                verbatim(w + "()");
                m_at = i;
                m_last = Last::Operand;
                return true;
            }
            if (after != ':' && !isCellReference(word)) {
                if (const DefinedName* defined = definedName(word, m_names->sheet))
                    return name(defined->name, i);
            }
            return excelReference("");
        }
        return fail("a formula with the name " + std::string(word));
    }

    // A1 or $A$1, wholly.
    static bool isCellReference(std::string_view word) {
        std::size_t at = 0;
        return readAddress(word, at, false, false) && at == word.size();
    }

    // The defined name `word` stands for on `sheet` (the sheet's own before the workbook's),
    // letter case aside.
    const DefinedName* definedName(std::string_view word, std::int32_t sheet) const {
        const std::string wanted = upper(word);
        const DefinedName* found = nullptr;
        for (const DefinedName& d : m_names->names) {
            if (upper(d.name) != wanted)
                continue;
            if (d.sheet == sheet)
                return &d;
            if (d.sheet < 0)
                found = &d;
        }
        return found;
    }

    bool name(std::string_view text, std::size_t end) {
        verbatim(text);
        m_formula.m_references = true;
        m_at = end;
        m_last = Last::Operand;
        return true;
    }

    bool sheetReference(std::string_view sheetName) {
        if (sheetName.find(':') != std::string_view::npos ||
            sheetName.find('[') != std::string_view::npos)
            return fail("a formula with a reference to several sheets or another file");
        // A sheet's own defined name: Sheet!Name, written Sheet.Name.
        std::size_t i = m_at;
        while (i < m_text.size() &&
               (isAsciiLetter(m_text[i]) || isDigit(m_text[i]) || m_text[i] == '_' ||
                m_text[i] == '.' || static_cast<unsigned char>(m_text[i]) >= 0x80))
            ++i;
        const std::string_view word = m_text.substr(m_at, i - m_at);
        if (!word.empty() && !isCellReference(word) && (i == m_text.size() || m_text[i] != ':')) {
            const auto sheet = std::find(m_sheets->begin(), m_sheets->end(), sheetName);
            const DefinedName* defined =
                sheet == m_sheets->end()
                    ? nullptr
                    : definedName(word, static_cast<std::int32_t>(sheet - m_sheets->begin()));
            if (defined == nullptr || defined->sheet < 0 ||
                quotedSheetName(sheetName) != std::optional<std::string>(sheetName))
                return fail("a formula with a sheet's name not read here");
            return name(std::string(sheetName) + "." + defined->name, i);
        }
        const auto prefix = sheetPrefix(sheetName);
        if (!prefix)
            return false;
        return excelReference(*prefix);
    }

    // A1, A1:B2, A:B or 1:2 at m_at, with the sheet prefix already read.
    bool excelReference(const std::string& prefix) {
        std::size_t i = m_at;
        auto first = readAddress(m_text, i, true, true);
        if (!first)
            return fail("a formula with a name not read here");
        SheetFormula::Piece piece{prefix, {*first}, {}};
        const bool whole = first->row == 0 || first->column == 0;
        if (i < m_text.size() && m_text[i] == ':') {
            std::size_t j = i + 1;
            auto second = readAddress(m_text, j, first->row == 0, first->column == 0);
            if (!second || (second->row == 0) != (first->row == 0) ||
                (second->column == 0) != (first->column == 0))
                return fail("a formula with a range not read here");
            piece.addresses.push_back(*second);
            i = j;
        } else if (whole) {
            return fail("a formula with a name not read here");
        }
        if (i < m_text.size() &&
            (isAsciiLetter(m_text[i]) || isDigit(m_text[i]) || m_text[i] == '_' ||
             m_text[i] == '.' || m_text[i] == '(' || m_text[i] == '!' || m_text[i] == '#' ||
             static_cast<unsigned char>(m_text[i]) >= 0x80))
            return fail("a formula with a name not read here");
        m_formula.m_pieces.push_back(std::move(piece));
        m_formula.m_references = true;
        m_at = i;
        m_last = Last::Operand;
        return true;
    }

    bool odfName() {
        std::size_t i = m_at;
        while (i < m_text.size() && (isAsciiLetter(m_text[i]) || isDigit(m_text[i]) ||
                                     m_text[i] == '_' || m_text[i] == '.'))
            ++i;
        if (i < m_text.size() && m_text[i] == '(')
            return function(m_text.substr(m_at, i - m_at));
        return fail("a formula with the name " + std::string(m_text.substr(m_at, i - m_at)));
    }

    // [$Sheet.A1], [.A1:.B2], [$'Sheet 2'.A1:$Sheet3.B2], [.A:.B], [.1:.2].
    bool odfReference() {
        const std::size_t close = m_text.find(']', m_at);
        if (close == std::string_view::npos)
            return fail("a formula with an open reference");
        std::string_view inside = m_text.substr(m_at + 1, close - m_at - 1);
        SheetFormula::Piece piece;
        for (int end = 0; end < 2 && !inside.empty(); ++end) {
            std::string prefix;
            if (inside[0] == '$') {
                std::string name;
                std::size_t i = 1;
                if (i < inside.size() && inside[i] == '\'') {
                    for (++i; i < inside.size(); ++i) {
                        if (inside[i] == '\'') {
                            if (i + 1 < inside.size() && inside[i + 1] == '\'') {
                                name += '\'';
                                ++i;
                                continue;
                            }
                            ++i;
                            break;
                        }
                        name += inside[i];
                    }
                } else {
                    while (i < inside.size() && inside[i] != '.')
                        name += inside[i++];
                }
                auto sheet = sheetPrefix(name);
                if (!sheet)
                    return false;
                prefix = *sheet;
                inside.remove_prefix(i);
            }
            if (inside.empty() || inside[0] != '.')
                return fail("a formula with a reference not read here");
            inside.remove_prefix(1);
            std::size_t i = 0;
            auto address = readAddress(inside, i, true, true);
            if (!address)
                return fail("a formula with a reference not read here");
            inside.remove_prefix(i);
            piece.addresses.push_back(*address);
            if (end == 0)
                piece.text = prefix;
            else
                piece.secondPrefix = prefix;
            if (!inside.empty()) {
                if (inside[0] != ':' || end == 1)
                    return fail("a formula with a reference not read here");
                inside.remove_prefix(1);
            }
        }
        const auto& a = piece.addresses;
        if (a.empty() || (a.size() == 1 && (a[0].row == 0 || a[0].column == 0)) ||
            (a.size() == 2 &&
             ((a[0].row == 0) != (a[1].row == 0) || (a[0].column == 0) != (a[1].column == 0))))
            return fail("a formula with a reference not read here");
        m_formula.m_pieces.push_back(std::move(piece));
        m_formula.m_references = true;
        m_at = close + 1;
        m_last = Last::Operand;
        return true;
    }

    std::string_view m_text;
    const ExcelNames* m_names;
    const std::vector<std::string>* m_sheets;
    bool m_odf;
    std::size_t m_at = 0;
    Last m_last = Last::Start;
    std::vector<bool> m_parens;  // per open parenthesis: whether it holds a function's arguments
    SheetFormula m_formula;
    std::string m_why;
};

std::optional<SheetFormula> SheetFormula::fromExcel(std::string_view formula,
                                                    const ExcelNames& names, std::string& why) {
    // The office drops spaces before and after the formula and keeps the others.
    while (!formula.empty() && formula.front() == ' ')
        formula.remove_prefix(1);
    while (!formula.empty() && formula.back() == ' ')
        formula.remove_suffix(1);
    if (formula.empty() || formula.front() == '=' || formula.front() == '\n' ||
        formula.back() == '\n') {
        why = "an empty or unusual formula";
        return std::nullopt;
    }
    return FormulaBuilder(formula, &names, false).build(why);
}

std::optional<SheetFormula> SheetFormula::fromOdf(std::string_view formula, std::string& why) {
    if (formula.substr(0, 3) == "of:")
        formula.remove_prefix(3);
    if (formula.empty() || formula.front() != '=') {
        why = "a formula in a grammar not read here";
        return std::nullopt;
    }
    formula.remove_prefix(1);
    if (formula.empty() || formula.front() == ' ' || formula.back() == ' ' ||
        formula.front() == '\n' || formula.back() == '\n') {
        why = "an empty or unusual formula";
        return std::nullopt;
    }
    return FormulaBuilder(formula, nullptr, true).build(why);
}

std::optional<std::string> SheetFormula::text(std::int32_t rowShift, std::int32_t columnShift,
                                              std::string& why) const {
    std::string out;
    for (const Piece& piece : m_pieces) {
        out += piece.text;
        for (std::size_t i = 0; i < piece.addresses.size(); ++i) {
            if (i == 1)
                out += ":" + piece.secondPrefix;
            const Address& a = piece.addresses[i];
            if (a.column != 0) {
                const std::int32_t column = a.column + (a.columnAbsolute ? 0 : columnShift);
                if (column < 1 || column > kLastColumn) {
                    why = "a shared formula whose reference leaves the sheet";
                    return std::nullopt;
                }
                out += (a.columnAbsolute ? "$" : "") + columnName(column);
            }
            if (a.row != 0) {
                const std::int32_t row = a.row + (a.rowAbsolute ? 0 : rowShift);
                if (row < 1 || row > kLastRow) {
                    why = "a shared formula whose reference leaves the sheet";
                    return std::nullopt;
                }
                out += (a.rowAbsolute ? "$" : "") + std::to_string(row);
            }
        }
    }
    return out;
}

}  // namespace ferretta::documents
