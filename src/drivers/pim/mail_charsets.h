#pragma once
// Text of mail and cards in the charsets that Japanese mail really uses. The Japanese charsets
// are read the way Windows reads them (code page 932 with the NEC and IBM extensions), so that
// ①, ㈱ and ～ survive where the C library's strict tables lose them: ISO-2022-JP in all its
// escape forms, Shift_JIS under any of its names, EUC-JP. Other charsets go through iconv.
#include <string>
#include <string_view>

namespace ferretta::platform::pim {

// The bytes in the named charset (case and quotes ignored) as UTF-8. An empty or unknown name:
// ISO-2022-JP when the bytes hold its escape, UTF-8 when they are valid UTF-8, else CP932; so
// is US-ASCII that holds 8-bit bytes. Never fails: what cannot be decoded becomes U+FFFD.
std::string decodeCharset(std::string_view bytes, std::string_view charset);

// The undeclared 8-bit text of a header or a card: UTF-8 when valid, else CP932 (ISO-2022-JP
// when it holds its escape).
std::string decodeUndeclared(std::string_view bytes);

// An unstructured header value (Subject, Keywords) as UTF-8: folding undone, RFC 2047 encoded
// words decoded (adjacent words of one charset joined before decoding, so a character split
// between them survives; blanks between two encoded words dropped), raw 8-bit text decoded as
// decodeUndeclared does. A malformed encoded word stays as it is.
std::string decodeHeaderText(std::string_view raw);

// An address header (From, To, Cc) made ready for an address parser: folding undone, every
// run of encoded words in a phrase turned into a quoted string of its UTF-8 text (inside an
// existing quoted string, into escaped text), raw 8-bit text decoded as decodeUndeclared does.
std::string decodeAddressHeader(std::string_view raw);

// Undoes quoted-printable: "=XX" becomes the byte, "=" at a line end joins the lines; a
// malformed "=" stays as it is.
std::string decodeQuotedPrintable(std::string_view text);

}  // namespace ferretta::platform::pim
