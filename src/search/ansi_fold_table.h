#pragma once
// Folding CP932 text without leaving CP932: every character is replaced by the CP932 form of
// its half-width, upper-case form (a voiced katakana becomes two half-width characters). The
// result is what encoding the folded UTF-16 form of the decoded text would give, character by
// character, so a folded word found in it at a character boundary is found in the folded text.
#include <cstdint>
#include <string>
#include <string_view>

namespace ferretta::search {

struct AnsiCharInfo {
    std::uint8_t length;     // bytes the character takes in the input (1 or 2)
    std::uint8_t reencoded;  // bytes of its decoded form encoded again (what positions count)
};

// Folds `in` into `out` (resized to fit). Never longer than the input. Line terminators and
// all ASCII but the lower-case letters are unchanged. A lead byte before a line end, or at the
// very end when `textEndsHere`, stands at the end of its text; a piece cut from the middle of
// a line passes false.
void foldCp932(std::string_view in, std::string& out, bool textEndsHere = true);

// Decodes one line of CP932 text to UTF-16 into `out`, exactly as platform::cp932ToUtf16 does,
// reusing the caller's buffer (for matching line after line without allocating).
void decodeCp932(std::string_view in, std::u16string& out);

// The character that starts at `at` (at < text.size()): how long it is, and how many bytes
// its decoded form takes when encoded again.
AnsiCharInfo cp932CharAt(std::string_view text, std::size_t at);

}  // namespace ferretta::search
