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

// What the encoder writes for a character without a CP932 code of its own.
enum class Cp932Fallback {
    // '?': for names, paths and files, which must never turn into another existing name.
    QuestionMark,
    // Windows' best-fit form where there is one (U+301C -> 0x8160, U+2212 -> 0x817C,
    // U+00E9 -> 'e', ...), else '?': the ANSI form that text is matched in.
    BestFit,
};

// The CP932 code of a UTF-16 code unit (single-byte codes are < 0x100); 0xFFFF when the
// character has no CP932 form (with BestFit: not even a best-fit one). Where Windows has two
// codes for one character (NEC and IBM duplicates) the one Windows writes is answered.
std::uint16_t unicodeToCp932Code(char16_t ch, Cp932Fallback fallback = Cp932Fallback::QuestionMark);

// The code the encoder writes for the character of a double-byte code: the code itself, except
// for the characters with two or three codes (NEC row 13, NEC-selected IBM and IBM extensions,
// e.g. 0xEEE0 and 0xFBFC for the same ideograph), where it is the one Windows writes.
std::uint16_t cp932WrittenCode(std::uint16_t code);

// True for a code the encoder writes whose character other codes decode to as well (0xFBFC,
// 0x81E6 ...): where a line holds this code after normalizeCp932Duplicates, its bytes may
// have been another code before.
bool cp932CodeHasDuplicates(std::uint16_t code);

// Writes `text` with every duplicate code replaced by the code the encoder writes for its
// character (cp932WrittenCode), walking it character by character from its start; lengths and
// all other bytes stay. Answers false, leaving `out` alone, when there is nothing to replace.
bool normalizeCp932Duplicates(std::string_view text, std::string& out);

// Decodes CP932 bytes. A double-byte code with no character becomes U+30FB (as Windows does);
// so does a lead byte followed by a byte that cannot be a trail byte (0x00-0x3F, 0x7F,
// 0xFD-0xFF), and that byte is then decoded on its own, so a line break or quote after a stray
// lead byte survives. A lead byte at the very end becomes '?'. Never fails; the result has at
// most one unit per byte.
std::u16string cp932ToUtf16(std::string_view bytes);
std::string cp932ToUtf8(std::string_view bytes);

// Encodes to CP932. A character with no CP932 form becomes its best-fit form when asked for,
// else '?' (a surrogate pair gives one '?', an unpaired surrogate one '?' too). Never fails.
std::string utf16ToCp932(std::u16string_view text,
                         Cp932Fallback fallback = Cp932Fallback::QuestionMark);
std::string utf8ToCp932(std::string_view text,
                        Cp932Fallback fallback = Cp932Fallback::QuestionMark);

// True when the text is valid UTF-8 and every character of it has a CP932 form, so that it
// survives utf8ToCp932 and back unchanged.
bool hasCp932Form(std::string_view utf8);

// True when the bytes are CP932 text that converts to Unicode and back without loss: every byte
// pair a defined character (a code with duplicates comes back as the code Windows writes), no
// stray lead byte.
bool isCp932Text(std::string_view bytes);

// The byte length of the CP932 form of the text (what utf16ToCp932(text, fallback).size()
// answers), without building it.
std::size_t cp932Length(std::u16string_view text,
                        Cp932Fallback fallback = Cp932Fallback::QuestionMark);

}  // namespace ferretta::platform
