#pragma once
// Code page 932 (Windows Japanese Shift-JIS with the NEC and IBM extensions), as Windows
// converts it. This is the "ANSI form" of text: positions reported to the user are byte
// positions in it, and settings files and saved result lists are written in it.
#include <cstdint>
#include <string>
#include <string_view>

namespace ferretta::platform {

// True for a byte that starts a double-byte character (0x81-0x9F, 0xE0-0xFC).
constexpr bool isCp932LeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The Unicode character of one CP932 code: a single byte (0x00-0xFF) or a double-byte code
// (lead << 8 | trail). Answers 0xFFFF for a code with no character.
char16_t cp932CodeToUnicode(std::uint16_t code);

// The CP932 code of a UTF-16 code unit (single-byte codes are < 0x100); 0xFFFF when the
// character has no CP932 form. Where Windows has two codes for one character (NEC and IBM
// duplicates) the one Windows writes is answered.
std::uint16_t unicodeToCp932Code(char16_t ch);

// Decodes CP932 bytes. A double-byte code with no character becomes U+30FB (as Windows does);
// so does a lead byte followed by a byte that cannot be a trail byte (0x00-0x3F, 0x7F,
// 0xFD-0xFF), and that byte is then decoded on its own, so a line break or quote after a stray
// lead byte survives. A lead byte at the very end becomes '?'. Never fails; the result has at
// most one unit per byte.
std::u16string cp932ToUtf16(std::string_view bytes);
std::string cp932ToUtf8(std::string_view bytes);

// Encodes to CP932. A character with no CP932 form becomes '?' (a surrogate pair gives one
// '?', an unpaired surrogate one '?' too). There is no best-fit mapping: U+00A5, U+203E,
// U+301C ... have no form. Never fails.
std::string utf16ToCp932(std::u16string_view text);
std::string utf8ToCp932(std::string_view text);

// The byte length of the CP932 form of the text (what utf16ToCp932(text).size() answers),
// without building it.
std::size_t cp932Length(std::u16string_view text);

}  // namespace ferretta::platform
