#pragma once
// The half-width and upper-case conversions that width- and case-insensitive matching uses.
#include <string>
#include <string_view>

namespace ferretta::platform {

// Full-width ASCII (U+FF01-U+FF5E) to ASCII, U+3000 to a blank, full-width katakana to
// half-width katakana (a voiced or semi-voiced letter becomes two characters), and the marks
// 、。「」・ー゛゜ to their half-width forms. Hiragana, kanji and everything else are unchanged,
// as are the katakana without a half-width form (ヮ ヰ ヱ ヵ ヶ ヸ ヹ).
std::u16string toHalfWidth(std::u16string_view text);

// Upper case by Unicode simple case mapping (one unit to one unit; no length change).
std::u16string toUpperCase(std::u16string_view text);

// toUpperCase(toHalfWidth(text)): the folded form used by the width/case-insensitive pass.
std::u16string foldForMatch(std::u16string_view text);
// The same into `out` (replacing what it held), which keeps its capacity from call to call.
void foldForMatch(std::u16string_view text, std::u16string& out);

}  // namespace ferretta::platform
