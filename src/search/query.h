#pragma once
// The query: splitting the search words and matching a text against them.
//
// Positions are 1-based byte positions in the text's ANSI form (CP932 with Windows' best-fit
// forms, where a Japanese character takes two bytes), which is what the user sees as the
// column of a hit. They are 32-bit: a hit far into a long line is reported where it is.
//
// A Matcher is read-only once the words are split: several threads may match with one.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/regex.h"

namespace ferretta::search {

inline constexpr int maxWords = 10;

// The number of characters of the text whose ANSI form takes two bytes: the ANSI length minus
// the length in UTF-16 units. Adding it to a 1-based character position gives the byte
// position.
std::int32_t countDoubleByteChars(std::u16string_view text);

// One search word in every form the two passes look for.
struct Word {
    std::string typed;      // as typed (UTF-8)
    std::u16string folded;  // half-width, upper case
    // The exact pass's form: CP932 with best-fit forms; a character without any form is '?'.
    std::string ansi;
    // For each '?' of `ansi` that stands for a character without any form: its byte offset and
    // that character. Such a '?' matches only the same character, never a '?' of the text.
    std::vector<std::pair<std::size_t, char32_t>> formless;
    // The folded form in CP932 without best fit, and whether every folded character has a code
    // of its own: only then can the folded form occur in CP932 text at all.
    std::string foldedAnsi;
    bool foldedInCp932 = true;
};

// The longest part of the word's exact form that a CP932 line holds byte for byte wherever the
// exact pass finds the word in it, although the pass sees the line's duplicate codes rewritten
// (the bytes a rewritten code may stand on are left out). Empty when no part is certain.
std::string_view requiredCp932Bytes(const Word& word);

class Matcher {
  public:
    // regular: the whole query is one regular expression (always case-insensitive).
    // strict: distinguish upper/lower case and full/half width (no folded pass).
    Matcher(bool regular, bool strict) : m_regular(regular), m_strict(strict) {}

    // Fills the query state from the text a user typed. In regular-expression mode the whole
    // text is the one pattern and the AND/OR mode and folded words keep what they held.
    // Otherwise ideographic spaces count as blanks, a leading "&& " asks for every word (AND),
    // and the text is split at single blanks into at most 10 non-empty words.
    void targetStrsSplit(std::string_view query);

    // 0 when the query does not match the text (UTF-8), else the 1-based byte position of the
    // hit in the text's ANSI form. An exact byte-wise pass comes first; unless strict, a pass
    // over the half-width, upper-case forms follows. Never fails: anything that goes wrong
    // (an invalid pattern, a position beyond 32 bits) answers 0.
    std::int32_t smartFind(std::string_view text) const;

    // As smartFind for a CP932 line (`ansi` is the line's own bytes). A character the line
    // holds under a duplicate code (0xEEE0 for 0xFBFC ...) matches as the code the encoder
    // writes; positions are those of the line as it stands.
    std::int32_t smartFindCp932(std::string_view ansi) const;

    // As smartFind for a text already decoded to UTF-16.
    std::int32_t smartFindUtf16(std::u16string_view text) const;

    // The regular-expression match: 0, or the 1-based byte position of the first match.
    std::int32_t regFind(std::u16string_view text) const;

    // The exact pass alone over a CP932 text (duplicate codes matching as above): 0 or the
    // 1-based byte position.
    std::int32_t exactPassCp932(std::string_view ansi) const;

    int targetStrsNumber() const { return m_number; }
    bool isAndCondition() const { return m_isAndCondition; }
    bool regular() const { return m_regular; }
    bool strict() const { return m_strict; }
    const std::string& targetStr(int i) const { return word(i).typed; }
    const Word& word(int i) const { return m_words[static_cast<std::size_t>(i)]; }
    // The pattern as typed in regular-expression mode.
    const std::string& pattern() const { return m_words[0].typed; }

    // Whether the last regular-expression query compiled, and the engine's complaint if not.
    bool patternValid() const { return m_regex.has_value(); }
    // The compiled pattern in regular-expression mode; null otherwise or when it is invalid.
    const platform::Regex* regex() const { return m_regex ? &*m_regex : nullptr; }
    const std::string& patternError() const { return m_patternError; }

  private:
    std::int32_t exactPassUtf16(std::u16string_view text) const;
    std::int32_t foldedPass(std::u16string_view text) const;

    bool m_regular;
    bool m_strict;
    std::array<Word, maxWords + 1> m_words;
    int m_number = 0;
    bool m_isAndCondition = false;
    std::optional<platform::Regex> m_regex;
    std::string m_patternError;
};

}  // namespace ferretta::search
