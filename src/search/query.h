#pragma once
// The query: splitting the search words and matching a text against them.
//
// Positions are 1-based byte positions in the text's ANSI form (CP932, where a Japanese
// character takes two bytes), which is what the user sees as the column of a hit. They are
// 32-bit: a hit far into a long line is reported where it is.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/regex.h"

namespace ferretta::search {

inline constexpr int maxWords = 10;

// The number of characters of the text whose ANSI form takes two bytes: the ANSI length minus
// the length in UTF-16 units. Adding it to a 1-based character position gives the byte
// position.
std::int32_t countDoubleByteChars(std::u16string_view text);

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

    // As smartFind, for a text the caller has in both forms: `ansi` is its ANSI form (for a
    // CP932 file, the line's own bytes) and `text` the same text in UTF-16.
    std::int32_t smartFindAnsi(std::string_view ansi, std::u16string_view text) const;

    // As smartFindAnsi for a CP932 line; the UTF-16 form is made only when a pass needs it.
    std::int32_t smartFindCp932(std::string_view ansi) const;

    // The regular-expression match: 0, or the 1-based byte position of the first match.
    std::int32_t regFind(std::u16string_view text) const;

    int targetStrsNumber() const { return m_number; }
    bool isAndCondition() const { return m_isAndCondition; }
    bool regular() const { return m_regular; }
    bool strict() const { return m_strict; }
    const std::string& targetStr(int i) const { return m_targetStrs[static_cast<std::size_t>(i)]; }
    const std::string& wordAnsi(int i) const { return m_wordAnsi[static_cast<std::size_t>(i)]; }
    const std::u16string& wordFolded(int i) const {
        return m_targetStrsConv[static_cast<std::size_t>(i)];
    }
    // The folded word in ANSI form (for the prefilter over folded file blocks).
    const std::string& wordFoldedAnsi(int i) const {
        return m_wordFoldedAnsi[static_cast<std::size_t>(i)];
    }

    // Whether the last regular-expression query compiled, and the engine's complaint if not.
    bool patternValid() const { return m_regex.has_value(); }
    const std::string& patternError() const { return m_patternError; }

    // The exact, byte-wise pass alone over an ANSI text: 0 or the 1-based byte position.
    std::int32_t exactPass(std::string_view ansi) const;

  private:
    std::int32_t foldedPass(std::u16string_view text) const;

    bool m_regular;
    bool m_strict;
    std::array<std::string, maxWords + 1> m_targetStrs;
    std::array<std::u16string, maxWords + 1> m_targetStrsConv;
    std::array<std::string, maxWords + 1> m_wordAnsi;
    std::array<std::string, maxWords + 1> m_wordFoldedAnsi;
    int m_number = 0;
    bool m_isAndCondition = false;
    std::optional<platform::Regex> m_regex;
    std::string m_patternError;
};

}  // namespace ferretta::search
