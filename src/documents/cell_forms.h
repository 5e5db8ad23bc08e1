#pragma once
// The texts the office makes of a workbook's stored values: a cell's content in the office's
// formula form (what the Excel search looks in), the numbers inside formulas, and the value
// the office shows for a formula in the General format. What is written here was measured on
// the office itself (LibreOffice 7.4, documents made to show one construct each); where the
// office's answer depends on more than the stored value (the date of today, a rule not measured)
// the functions say that they cannot tell, and the workbook is left to the office.
#include <optional>
#include <string>
#include <string_view>

namespace ferretta::documents {

// A number inside a formula, and a formula's number result in the General format: the
// shortest text that reads back as the same double, rounded half up to 15 significant digits;
// integers up to 2^53 - 1 in full; E notation with a three-digit exponent from 1E+015 and
// below 1E-014; at most 20 decimals. Nullopt for infinities, NaN and magnitudes beyond 1e300
// or below 1e-300, whose texts were not measured.
std::optional<std::string> numberInFormula(double value);

// A number cell's content as a formula: as numberInFormula after rounding the value to 16
// significant digits (so 1509616217149720.8 is 1509616217149721 and not 1.50961621714972E+015).
std::optional<std::string> numberCellText(double value);

// A number stored as decimal text (an Open XML <v>, an OpenDocument office:value): false for
// text that is not a plain decimal number ("+1.5e3" is one; " 5", "0x10", "inf" are not, the
// office reads them otherwise).
bool parseStoredNumber(std::string_view stored, double& value);

// The content of a number cell stored as decimal text, as numberCellText; a stored text of at
// most 15 significant digits in plain notation is the office's text already. Nullopt as for
// parseStoredNumber and numberCellText.
std::optional<std::string> storedNumberText(std::string_view stored);

// What the office shows for a formula's number result in the General format; nullopt where
// the shown text differs from numberInFormula in ways not measured (below 1e-4, from 1e14 on,
// except integers up to 2^53 - 1).
std::optional<std::string> generalShown(double value);

// Whether the office's input scanner (the English one, which the formula form uses) takes a
// text for a number, a date, a time, a percentage, a currency amount or a truth value.
enum class NumberLikeness { Text, Number, Unsure };
NumberLikeness numberLikeness(std::string_view text);

// A text cell's content as a formula, into `form`: a text the office takes for a number gets a
// leading apostrophe, and so does a text that starts with one. False when it cannot be told
// whether the office takes the text for a number.
bool textCellText(std::string_view text, std::string& form);

// The code point of the UTF-8 sequence at `at`, which moves past it. The text is valid UTF-8
// (the XML parser checked it); a sequence cut short at the end yields what it holds.
char32_t nextCodePoint(std::string_view text, std::size_t& at);

}  // namespace ferretta::documents
