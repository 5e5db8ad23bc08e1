#pragma once
// UTF-8 <-> UTF-16 conversion. Text inside the core is UTF-8; UTF-16 is used where positions
// must count characters the way the Windows design counts them (one unit per UTF-16 code unit).
#include <string>
#include <string_view>

namespace ferretta::platform {

// Decodes UTF-8. Each byte of an invalid or truncated sequence, an encoded surrogate or an
// over-long form becomes U+FFFD; never fails.
std::u16string utf8ToUtf16(std::string_view text);
// The same into `out`, whose memory is reused (a caller converting many texts).
void utf8ToUtf16(std::string_view text, std::u16string& out);

// Encodes UTF-16. An unpaired surrogate becomes U+FFFD; never fails.
std::string utf16ToUtf8(std::u16string_view text);

// True when the bytes are well-formed UTF-8 (a sequence cut off at the very end counts as
// well-formed when allowTruncatedEnd is set, for checking a prefix of a longer file).
bool isValidUtf8(std::string_view bytes, bool allowTruncatedEnd = false);

}  // namespace ferretta::platform
