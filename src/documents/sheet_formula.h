#pragma once
// Formulas as the office hands them out through its API (the English grammar: "=SUM(A1;B2)",
// "$Sheet2.A1", "$'シート 1'.A1:B2", "TRUE()", numbers as the office prints them), made from
// the formulas a workbook stores: Excel's A1 grammar in SpreadsheetML and OpenFormula in
// OpenDocument. Only what was measured on the office is translated; anything else (a defined
// name, a function not in the table, an external or structured reference, Excel's intersection
// and union operators) makes the translation fail with a reason, and the workbook goes to the
// office.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::documents {

// A defined name of a workbook: the workbook's own, or one sheet's (its 0-based index).
struct DefinedName {
    std::string name;
    std::int32_t sheet = -1;
};

// What the names in an Excel formula refer to: the workbook's sheets and defined names, and
// the sheet the formula is on.
struct ExcelNames {
    const std::vector<std::string>& sheets;
    const std::vector<DefinedName>& names;
    std::int32_t sheet = 0;
};

class SheetFormula {
  public:
    // Excel's formula text (as <f> holds it, without '='). References must name the
    // workbook's sheets, names its defined names (the office writes them as they are defined).
    // Nullopt, with `why`, for what cannot be translated.
    static std::optional<SheetFormula> fromExcel(std::string_view formula, const ExcelNames& names,
                                                 std::string& why);
    // An OpenDocument table:formula attribute ("of:=..."; a bare "=..." is OpenFormula too).
    // The sheets it names are not checked here (they may come later in the document); the
    // caller checks referredSheets() once it knows them all.
    static std::optional<SheetFormula> fromOdf(std::string_view formula, std::string& why);

    // The office's text of the formula, "=" included, with its relative references moved by
    // the given rows and columns (a shared formula's cell below or beside its first one).
    // Nullopt, with `why`, when a moved reference leaves the sheet.
    std::optional<std::string> text(std::int32_t rowShift, std::int32_t columnShift,
                                    std::string& why) const;

    // Whether the office computes the formula again whenever it loads the workbook (NOW,
    // TODAY, RAND, ...), so that its stored value is not what the office shows.
    bool isVolatile() const { return m_volatile; }
    // Whether the formula refers to any cell (its value may then depend on a volatile cell).
    bool hasReferences() const { return m_references; }
    // The names of the sheets the formula refers to.
    const std::vector<std::string>& referredSheets() const { return m_sheets; }

    // One end of a reference: a cell, a whole column (row == 0) or a whole row (column == 0).
    struct Address {
        std::int32_t row = 0;
        std::int32_t column = 0;
        bool rowAbsolute = false;
        bool columnAbsolute = false;
    };
    struct Piece {
        std::string text;                // printed as is (for a reference: its sheet prefix)
        std::vector<Address> addresses;  // a reference: one address, or two for a range
        std::string secondPrefix;        // a range's second sheet prefix, if it names one
    };

  private:
    std::vector<Piece> m_pieces;
    std::vector<std::string> m_sheets;
    bool m_volatile = false;
    bool m_references = false;
    friend class FormulaBuilder;
};

// A sheet name as the office writes it in a reference: bare, or in single quotes (quotes
// doubled) when it holds anything but letters, digits and underscores. Nullopt for a name with
// characters whose treatment was not measured.
std::optional<std::string> quotedSheetName(std::string_view name);

}  // namespace ferretta::documents
