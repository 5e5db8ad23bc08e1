#include "search/query.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/cp932.h"
#include "platform/unicode.h"
#include "platform/width_fold.h"

namespace ferretta::search {
namespace {

using platform::Cp932Fallback;

// A text in its ANSI form, with the characters that have no form there (each a '?').
struct AnsiText {
    std::string bytes;
    std::vector<std::pair<std::size_t, char32_t>> formless;  // byte offset, character
};

constexpr bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
constexpr bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void toAnsi(std::u16string_view text, AnsiText& out) {
    out.formless.clear();
    // At most two bytes a unit; written through a pointer and cut to size once.
    out.bytes.resize(text.size() * 2);
    char* const begin = out.bytes.data();
    char* at = begin;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t ch = text[i];
        if (ch < 0x80) {
            *at++ = static_cast<char>(ch);
            continue;
        }
        const std::uint16_t code = platform::unicodeToCp932Code(ch, Cp932Fallback::BestFit);
        if (code == 0xFFFF) {
            char32_t c = ch;
            if (isHighSurrogate(ch) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
                c = 0x10000 + ((static_cast<char32_t>(ch) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            }
            out.formless.emplace_back(static_cast<std::size_t>(at - begin), c);
            *at++ = '?';
        } else if (code < 0x100) {
            *at++ = static_cast<char>(code);
        } else {
            *at++ = static_cast<char>(code >> 8);
            *at++ = static_cast<char>(code & 0xFF);
        }
    }
    out.bytes.resize(static_cast<std::size_t>(at - begin));
}

constexpr bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// toAnsi of the text's UTF-16 form, straight from UTF-8, for the forms Japanese text is made
// of: ASCII and the well-formed two- and three-byte characters that decode without further
// checks (not E0 or ED leads, which need the checks against over-long forms and surrogates).
// False at any other byte (a four-byte character, a broken one): `out` is then of no use and
// the text is to be decoded first.
bool toAnsi(std::string_view text, AnsiText& out) {
    out.formless.clear();
    // Never more ANSI bytes than UTF-8 bytes: one for ASCII, at most two for the rest.
    out.bytes.resize(text.size());
    char* const begin = out.bytes.data();
    char* at = begin;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = p + text.size();
    while (p != end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            *at++ = static_cast<char>(lead);
            ++p;
            continue;
        }
        char16_t ch = 0;
        if (lead >= 0xC2 && lead <= 0xDF && end - p >= 2 && isContinuation(p[1])) {
            ch = static_cast<char16_t>((lead & 0x1F) << 6 | (p[1] & 0x3F));
            p += 2;
        } else if (lead >= 0xE1 && lead <= 0xEF && lead != 0xED && end - p >= 3 &&
                   isContinuation(p[1]) && isContinuation(p[2])) {
            ch = static_cast<char16_t>((lead & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
            p += 3;
        } else {
            return false;
        }
        const std::uint16_t code = platform::unicodeToCp932Code(ch, Cp932Fallback::BestFit);
        if (code == 0xFFFF) {
            out.formless.emplace_back(static_cast<std::size_t>(at - begin), ch);
            *at++ = '?';
        } else if (code < 0x100) {
            *at++ = static_cast<char>(code);
        } else {
            *at++ = static_cast<char>(code >> 8);
            *at++ = static_cast<char>(code & 0xFF);
        }
    }
    out.bytes.resize(static_cast<std::size_t>(at - begin));
    return true;
}

// The character a '?' at `offset` stands for: 0 for a '?' of the text itself.
char32_t formlessAt(const std::vector<std::pair<std::size_t, char32_t>>& formless,
                    std::size_t offset) {
    auto it = std::lower_bound(formless.begin(), formless.end(), offset,
                               [](const auto& entry, std::size_t at) { return entry.first < at; });
    return it != formless.end() && it->first == offset ? it->second : 0;
}

// 0-based byte offset of needle in haystack, or npos.
std::size_t findBytes(std::string_view haystack, std::string_view needle, std::size_t from = 0) {
    if (needle.empty() || from > haystack.size() || needle.size() > haystack.size() - from)
        return std::string_view::npos;
    const void* hit =
        memmem(haystack.data() + from, haystack.size() - from, needle.data(), needle.size());
    if (!hit)
        return std::string_view::npos;
    return static_cast<std::size_t>(static_cast<const char*>(hit) - haystack.data());
}

// The first place of the word in the text's ANSI form where each '?' stands for the same
// character in both (a character without a form only matches itself).
std::size_t findWord(const AnsiText& text, const Word& word) {
    const bool check = !word.formless.empty() ||
                       (!text.formless.empty() && word.ansi.find('?') != std::string::npos);
    for (std::size_t at = findBytes(text.bytes, word.ansi); at != std::string_view::npos;
         at = findBytes(text.bytes, word.ansi, at + 1)) {
        if (!check)
            return at;
        bool same = true;
        for (std::size_t k = word.ansi.find('?'); same && k != std::string::npos;
             k = word.ansi.find('?', k + 1)) {
            same = formlessAt(word.formless, k) == formlessAt(text.formless, at + k);
        }
        if (same)
            return at;
    }
    return std::string_view::npos;
}

std::int32_t toPosition(std::size_t oneBased) {
    if (oneBased > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return 0;
    return static_cast<std::int32_t>(oneBased);
}

// The byte position of the character that follows the first `oneBased - 1` characters.
std::int32_t characterToBytePosition(std::u16string_view text, std::size_t oneBased) {
    std::size_t before = oneBased - 1;
    if (before > text.size())
        before = text.size();  // a folded text may be longer
    std::int64_t position =
        static_cast<std::int64_t>(oneBased) + countDoubleByteChars(text.substr(0, before));
    if (position <= 0 || position > std::numeric_limits<std::int32_t>::max())
        return 0;
    return static_cast<std::int32_t>(position);
}

// Walks the words as the passes do: AND from the last word down, answering word 0's place;
// OR from the first word up, answering the first one found. `find` answers a 0-based place or
// npos.
template <typename Find>
std::size_t walkWords(int number, bool isAnd, Find&& find) {
    std::size_t foundAt = std::string_view::npos;
    if (isAnd) {
        for (int i = number - 1; i >= 0; --i) {
            foundAt = find(i);
            if (foundAt == std::string_view::npos)
                return foundAt;
        }
        return foundAt;
    }
    for (int i = 0; i < number && foundAt == std::string_view::npos; ++i)
        foundAt = find(i);
    return foundAt;
}

}  // namespace

std::int32_t countDoubleByteChars(std::u16string_view text) {
    return static_cast<std::int32_t>(
        static_cast<std::int64_t>(platform::cp932Length(text, Cp932Fallback::BestFit)) -
        static_cast<std::int64_t>(text.size()));
}

std::string_view requiredCp932Bytes(const Word& word) {
    // A rewritten code stands on two bytes of the word that form a code with duplicates; or
    // one seen from outside: the word's first byte as its trail byte, the last as its lead.
    const std::string_view bytes = word.ansi;
    const std::size_t n = bytes.size();
    std::vector<bool> unsure(n, false);
    auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (platform::cp932CodeHasDuplicates(
                static_cast<std::uint16_t>(byteAt(i) << 8 | byteAt(i + 1))))
            unsure[i] = unsure[i + 1] = true;
    }
    if (n > 0 && byteAt(0) >= 0x40 && byteAt(0) != 0x7F && byteAt(0) <= 0xFC)
        unsure[0] = true;
    if (n > 0) {
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (platform::cp932CodeHasDuplicates(
                    static_cast<std::uint16_t>(byteAt(n - 1) << 8 | trail)))
                unsure[n - 1] = true;
        }
    }
    std::size_t bestFrom = 0;
    std::size_t bestLength = 0;
    for (std::size_t i = 0; i < n;) {
        if (unsure[i]) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < n && !unsure[j])
            ++j;
        if (j - i > bestLength) {
            bestFrom = i;
            bestLength = j - i;
        }
        i = j;
    }
    return bytes.substr(bestFrom, bestLength);
}

void Matcher::targetStrsSplit(std::string_view query) {
    if (m_regular) {
        m_words[0] = Word{};
        m_words[0].typed = std::string(query);
        m_number = 1;
        m_patternError.clear();
        m_regex = platform::Regex::compile(query, &m_patternError);
        return;
    }
    // Ideographic space (U+3000, E3 80 80 in UTF-8) counts as a blank.
    constexpr std::string_view ideographicSpace = "\xE3\x80\x80";
    std::string text;
    text.reserve(query.size());
    for (std::size_t i = 0; i < query.size();) {
        if (query.substr(i, ideographicSpace.size()) == ideographicSpace) {
            text += ' ';
            i += ideographicSpace.size();
        } else {
            text += query[i++];
        }
    }
    m_isAndCondition = text.rfind("&& ", 0) == 0;
    if (m_isAndCondition)
        text.erase(0, 3);

    m_number = 0;
    std::size_t start = 0;
    AnsiText ansi;
    while (m_number < maxWords && start <= text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start) {
            Word& word = m_words[static_cast<std::size_t>(m_number)];
            word.typed = text.substr(start, end - start);
            const std::u16string word16 = platform::utf8ToUtf16(word.typed);
            word.folded = platform::foldForMatch(word16);
            toAnsi(word16, ansi);
            word.ansi = ansi.bytes;
            word.formless = ansi.formless;
            word.foldedAnsi = platform::utf16ToCp932(word.folded);
            // A character whose form is only a best-fit one never comes out of decoding CP932.
            word.foldedInCp932 =
                std::all_of(word.folded.begin(), word.folded.end(),
                            [](char16_t c) { return platform::unicodeToCp932Code(c) != 0xFFFF; });
            ++m_number;
        }
        start = end + 1;
    }
}

std::int32_t Matcher::exactPassCp932(std::string_view ansi) const {
    // The design converts the decoded line back to its ANSI form, which writes every
    // duplicate code as the encoder's one; so do that here, bytes for bytes.
    std::string normalized;
    if (platform::normalizeCp932Duplicates(ansi, normalized))
        ansi = normalized;
    const std::size_t at = walkWords(m_number, m_isAndCondition, [&](int i) {
        // A character without any form never occurs in CP932 text.
        return word(i).formless.empty() ? findBytes(ansi, word(i).ansi) : std::string_view::npos;
    });
    return at == std::string_view::npos ? 0 : toPosition(at + 1);
}

namespace {

std::int32_t exactPassAnsi(const Matcher& matcher, const AnsiText& ansi) {
    const std::size_t at = walkWords(matcher.targetStrsNumber(), matcher.isAndCondition(),
                                     [&](int i) { return findWord(ansi, matcher.word(i)); });
    return at == std::string_view::npos ? 0 : toPosition(at + 1);
}

// Reused: the passes run for every line that may match.
thread_local AnsiText t_ansi;
thread_local std::u16string t_units;

}  // namespace

std::int32_t Matcher::exactPassUtf16(std::u16string_view text) const {
    toAnsi(text, t_ansi);
    return exactPassAnsi(*this, t_ansi);
}

std::int32_t Matcher::foldedPass(std::u16string_view text) const {
    thread_local std::u16string folded;  // reused: this runs for every line that may match
    platform::foldForMatch(text, folded);
    const std::u16string_view view(folded);
    const std::size_t at = walkWords(m_number, m_isAndCondition, [&](int i) {
        return word(i).folded.empty() ? std::u16string_view::npos : view.find(word(i).folded);
    });
    return at == std::string_view::npos ? 0 : characterToBytePosition(text, at + 1);
}

std::int32_t Matcher::smartFindUtf16(std::u16string_view text) const {
    if (text.empty() || m_number == 0)
        return 0;
    if (m_regular)
        return regFind(text);
    if (std::int32_t exact = exactPassUtf16(text))
        return exact;
    return m_strict ? 0 : foldedPass(text);
}

std::int32_t Matcher::smartFindCp932(std::string_view ansi) const {
    if (ansi.empty() || m_number == 0)
        return 0;
    if (!m_regular) {
        if (std::int32_t exact = exactPassCp932(ansi))
            return exact;
        if (m_strict)
            return 0;
    }
    const std::u16string text = platform::cp932ToUtf16(ansi);
    return m_regular ? regFind(text) : foldedPass(text);
}

std::int32_t Matcher::smartFind(std::string_view text) const {
    if (text.empty() || m_number == 0)
        return 0;
    // The exact pass reads the ANSI form straight from the UTF-8 bytes; only the folded pass
    // and regular expressions need the text decoded.
    if (!m_regular && toAnsi(text, t_ansi)) {
        if (std::int32_t exact = exactPassAnsi(*this, t_ansi))
            return exact;
        if (m_strict)
            return 0;
        platform::utf8ToUtf16(text, t_units);
        return foldedPass(t_units);
    }
    platform::utf8ToUtf16(text, t_units);
    return smartFindUtf16(t_units);
}

std::int32_t Matcher::regFind(std::u16string_view text) const {
    if (!m_regex)
        return 0;
    auto index = m_regex->firstIndex(text);
    if (!index)
        return 0;
    return characterToBytePosition(text, *index + 1);
}

}  // namespace ferretta::search
