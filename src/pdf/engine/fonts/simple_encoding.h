#pragma once
// The character encodings of simple (single-byte) PDF fonts: the base encodings a font's
// /Encoding names, and the Unicode text of glyph names that its /Differences array gives.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ferretta::pdf {

enum class BaseEncoding : std::uint8_t { Standard, WinAnsi, MacRoman, MacExpert, Symbol, PdfDoc };

// The encoding a PDF name (without its slash) stands for: "StandardEncoding",
// "WinAnsiEncoding", "MacRomanEncoding", "MacExpertEncoding", "PDFDocEncoding". Any other name,
// in any other spelling or case, gives nothing.
std::optional<BaseEncoding> baseEncodingByName(std::string_view pdfName);

// The Unicode text of each code 0..255 of a base encoding, as the PDF Reference lists them;
// empty where the encoding has no character (also for glyph pieces such as the Symbol font's
// brace parts). MacRoman holds the Latin set only (no U+2260 at 0xAD, the currency sign at
// 0xDB); WinAnsi has the bullet at its unused codes from 0x7F on, the space at 0xA0 and the
// hyphen at 0xAD; Symbol's Greek letters are Greek (U+03A9, not the ohm sign).
const std::array<std::u32string_view, 256>& baseEncodingTable(BaseEncoding encoding);

// The Unicode text of a glyph name, the way the Adobe Glyph List's rules read it: everything
// from the first '.' is dropped, the rest is split at '_' into components and their texts are
// joined. A component is a name of the Adobe Glyph List (which holds every name of the AGL for
// New Fonts), "uni" and groups of four hex digits (no surrogates), or "u" and four to six hex
// digits (a scalar value up to U+10FFFF); hex digits may be in either case. A component that is
// none of these adds nothing. Expert-font variants the list gives private-use values take the
// plain character instead ("Asmall" -> "a", "oneoldstyle" -> "1"). Empty for unknown names,
// ".notdef" and names longer than 1,024 bytes; never throws for lack of anything but memory.
std::u32string unicodeOfGlyphName(std::string_view glyphName);

// The encoding a Type 1 font program declares for itself, which a simple font without
// /Encoding uses (ISO 32000-2 §9.6.5.1; Adobe Type 1 Font Format §10.3): read from the clear
// text before "eexec", either "/Encoding StandardEncoding def" or an array filled by
// "dup CODE /NAME put" up to its "def". The text of each code's glyph name, empty where the
// program names none. Nothing when the program declares neither (or is no Type 1 program).
std::optional<std::array<std::u32string, 256>> type1BuiltinEncoding(std::string_view program);

}  // namespace ferretta::pdf
