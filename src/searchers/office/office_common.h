#pragma once
// Pieces that the Word, Excel and PowerPoint searchers and openers share.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/host.h"
#include "pipeline/office_extractors.h"
#include "search/search_flags.h"

namespace ferretta::searchers::office {

// The error number of an automation call on a missing object ("object variable not set").
using pipeline::kNoObjectError;
// The error numbers of a text that is no number, and of a number too large for 16 bits.
inline constexpr long kTypeMismatchError = 13;
inline constexpr long kOverflowError = 6;
// An index past the end of a list (a position without its second part).
inline constexpr long kSubscriptError = 9;

// "検索中にエラーが発生しました Position=<position>  ErrNo=<error>" CR "ファイル名=<path>": the
// warning the Word and Excel searchers show when a file fails.
std::string searchErrorText(int position, long errorNumber, std::string_view path);

// Lets pending events run; when a stop was requested meanwhile, clears the status text, tells
// the user "中断ボタンが押されました" and answers true.
bool abortRequested(app::Host& host, const search::SearchFlags& flags);

// A position text read as a 16-bit integer the way the automation's own conversion reads it:
// blanks around it, a sign, digits, an optional fraction rounded half to even. Throws
// ferretta::Error (kind Automation) with the type-mismatch number for anything else (an empty
// text too) and with the overflow number beyond 16 bits.
std::int16_t toInteger16(std::string_view text);

}  // namespace ferretta::searchers::office
