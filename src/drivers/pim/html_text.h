#pragma once
// The text a reader sees in an HTML mail, through libxml2's forgiving HTML parser.
#include <string>
#include <string_view>

namespace ferretta::platform::pim {

// The document's visible text as UTF-8 lines joined by "\n": blanks collapsed as a browser
// collapses them (kept inside <pre>), a line ended at <br> and around block elements (p, div,
// li, tr, headings ...), table cells separated by a blank; the head, scripts and styles left
// out; entities decoded, no-break spaces made plain blanks. The input must be UTF-8 (a charset
// the document names is ignored). Never fails: broken markup gives what the parser recovered;
// nothing at all gives an empty text.
std::string htmlToText(std::string_view utf8Html);

// The charset an HTML document names in its <meta> (charset= within its first 4 KiB, as a
// browser sniffs it); empty when it names none.
std::string sniffHtmlCharset(std::string_view html);

}  // namespace ferretta::platform::pim
