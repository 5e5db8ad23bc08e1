#include "platform/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/hex_digit.h"
#include "platform/unicode.h"

namespace ferretta::platform {

namespace {

// Work limits per call of firstIndex. A pattern such as (a+)+$ backtracks exponentially; the
// match limit makes the engine give up after about 5 ms (JIT) or 30 ms (interpreter) instead of
// hanging the search. The stack and heap limits bound memory, yet let a repeated group run
// over a line of 100,000 characters; the JIT stack is reserved but only used pages are taken.
constexpr uint32_t kMatchLimit = 1'000'000;
constexpr uint32_t kDepthLimit = 1'000'000;
constexpr uint32_t kHeapLimitKib = 32 * 1024;
constexpr PCRE2_SIZE kJitStackStart = 32 * 1024;
constexpr PCRE2_SIZE kJitStackMax = 8 * 1024 * 1024;
// The translated pattern may grow (\s becomes a class of 14 items); user patterns are short.
constexpr std::size_t kMaxPatternUnits = 64 * 1024;

// What JScript's \s matches beyond PCRE2's ASCII-only \s: the Unicode spaces, most usefully
// the ideographic space U+3000 that Japanese text is full of.
constexpr std::u16string_view kSpaceItems =
    u"\\s\\xa0\\u1680\\u2000-\\u200a\\u2028\\u2029\\u202f\\u205f\\u3000\\ufeff";
// JScript's '.' stops at exactly these; no PCRE2 newline convention excludes just this set.
constexpr std::u16string_view kDot = u"[^\\n\\r\\u2028\\u2029]";

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}
bool isAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
bool isOctalDigit(char16_t c) {
    return c >= u'0' && c <= u'7';
}

// The value of `count` hex digits at p[pos], or -1 when they are not all there.
int32_t hexAt(std::u16string_view p, std::size_t pos, std::size_t count) {
    if (pos + count > p.size())
        return -1;
    const std::optional<uint32_t> value = platform::hexValue(p.substr(pos, count));
    return value ? static_cast<int32_t>(*value) : -1;
}

std::u16string hexEscape(uint32_t byteValue) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    return {u'\\', u'x', kDigits[(byteValue >> 4) & 0xF], kDigits[byteValue & 0xF]};
}

std::u16string unicodeEscape(uint32_t unit) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    return {u'\\',
            u'u',
            kDigits[(unit >> 12) & 0xF],
            kDigits[(unit >> 8) & 0xF],
            kDigits[(unit >> 4) & 0xF],
            kDigits[unit & 0xF]};
}

bool isAsciiPunctuation(char16_t c) {
    return c < 0x80 && !isAsciiLetter(c) && !isDigit(c) && c > 0x20 && c != 0x7F;
}

// Rewrites a JScript pattern into PCRE2 syntax with the same meaning, and tells the visitor
// the pattern's elements as it reads them. PCRE2 already agrees on most of the syntax; what
// differs is rewritten here: '.', \s, \v, the escapes that are plain letters in JScript but
// have a meaning in PCRE2 (\A \Z \Q \K \h \p ...), legacy octal escapes, backreferences, POSIX
// classes, possessive quantifiers and the (?...) groups JScript lacks.
class Translator {
  public:
    Translator(std::u16string_view pattern, PatternVisitor& visitor)
        : m_p(pattern), m_visitor(visitor) {}

    bool run() {
        countGroups();
        while (m_i < m_p.size()) {
            if (!step())
                return false;
        }
        return true;
    }

    const std::u16string& output() const { return m_out; }
    const std::string& error() const { return m_error; }
    // The pattern position that the given output position came from.
    std::size_t sourceIndex(std::size_t outputIndex) const {
        if (m_sourceOf.empty())
            return 0;
        return m_sourceOf[std::min(outputIndex, m_sourceOf.size() - 1)];
    }

  private:
    // What the previous pattern element was, to tell where a quantifier may stand.
    enum class Last { Nothing, Atom, Quantifier, LazyQuantifier };

    void emit(std::u16string_view text, std::size_t from) {
        m_out.append(text);
        m_sourceOf.insert(m_sourceOf.end(), text.size(), from);
    }

    bool fail(std::string message) {
        m_error = std::move(message) + " (at character " + std::to_string(m_i + 1) + ")";
        return false;
    }

    // Capturing groups decide whether \N is a backreference or an octal escape, as in JScript.
    void countGroups() {
        bool inClass = false;
        for (std::size_t k = 0; k < m_p.size(); ++k) {
            const char16_t c = m_p[k];
            if (c == u'\\') {
                ++k;
            } else if (inClass) {
                if (c == u']')
                    inClass = false;
            } else if (c == u'[') {
                inClass = true;
                // JScript closes a class at its first ']', even right after '[' or '[^'.
                if (k + 1 < m_p.size() && m_p[k + 1] == u'^')
                    ++k;
            } else if (c == u'(' && (k + 1 >= m_p.size() || m_p[k + 1] != u'?')) {
                ++m_groupCount;
            }
        }
    }

    // Copies one code point (a surrogate pair stays whole) from m_p[m_i] to `out` and
    // answers it.
    char32_t copyCodePoint(std::u16string& out) {
        char32_t c = m_p[m_i];
        out.push_back(m_p[m_i]);
        if (isHighSurrogate(m_p[m_i]) && m_i + 1 < m_p.size() && isLowSurrogate(m_p[m_i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (m_p[m_i + 1] - 0xDC00);
            out.push_back(m_p[++m_i]);
        }
        ++m_i;
        return c;
    }

    // A character of the pattern as the visitor hears it: a lone surrogate can never be in a
    // text (text reaches the engine with them replaced).
    void heardCharacter(char32_t c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            m_visitor.otherAtom();
        else
            m_visitor.literal(c);
    }

    // \uXXXX at m_i (the backslash). Answers the code point, combining an escaped surrogate
    // pair, or -1 when no four hex digits follow; advances past what it used.
    int32_t readUnicodeEscape() {
        const int32_t unit = hexAt(m_p, m_i + 2, 4);
        if (unit < 0)
            return -1;
        m_i += 6;
        if (isHighSurrogate(static_cast<char16_t>(unit)) && m_i + 1 < m_p.size() &&
            m_p[m_i] == u'\\' && m_p[m_i + 1] == u'u') {
            const int32_t low = hexAt(m_p, m_i + 2, 4);
            if (low >= 0 && isLowSurrogate(static_cast<char16_t>(low))) {
                m_i += 6;
                return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            }
        }
        return unit;
    }

    // Legacy octal escape \N, \NN, \NNN (at most 0377) at m_i; \8 and \9 are the digits.
    // `value` gets the character.
    std::u16string readOctalEscape(int32_t& value) {
        std::size_t k = m_i + 1;
        if (!isOctalDigit(m_p[k])) {
            m_i = k + 1;
            value = m_p[k];
            return std::u16string(1, m_p[k]);
        }
        const std::size_t maxDigits = m_p[k] <= u'3' ? 3 : 2;
        uint32_t octal = 0;
        std::size_t used = 0;
        while (used < maxDigits && k < m_p.size() && isOctalDigit(m_p[k])) {
            octal = octal * 8 + static_cast<uint32_t>(m_p[k] - u'0');
            ++k;
            ++used;
        }
        m_i = k;
        value = static_cast<int32_t>(octal);
        return hexEscape(octal);
    }

    // An escaped code point, or an escape for it when it is special in PCRE2.
    std::u16string literalCodePoint(int32_t codePoint) {
        if (codePoint >= 0x10000) {
            const auto v = static_cast<uint32_t>(codePoint - 0x10000);
            return {static_cast<char16_t>(0xD800 + (v >> 10)),
                    static_cast<char16_t>(0xDC00 + (v & 0x3FF))};
        }
        return unicodeEscape(static_cast<uint32_t>(codePoint));
    }

    bool step() {
        const std::size_t start = m_i;
        const char16_t c = m_p[m_i];
        const Last last = m_last;
        m_last = Last::Atom;
        switch (c) {
            case u'\\':
                return escapeOutsideClass(start);
            case u'.':
                ++m_i;
                emit(kDot, start);
                m_visitor.otherAtom();
                return true;
            case u'[':
                return characterClass(start);
            case u'(':
                m_last = Last::Nothing;
                m_visitor.groupOpen();
                return group(start);
            case u')':
                ++m_i;
                emit(u")", start);
                m_visitor.groupClose();
                return true;
            case u'|':
            case u'^':
            case u'$':
                m_last = Last::Nothing;
                ++m_i;
                emit(std::u16string(1, c), start);
                if (c == u'|')
                    m_visitor.alternative();
                else
                    m_visitor.assertion();
                return true;
            case u'*':
            case u'+':
            case u'?':
                // After a quantifier, '?' makes it lazy; '+' would make it possessive in
                // PCRE2, which JScript does not have. With nothing before it, "(*" would
                // start a PCRE2 verb such as (*LIMIT_MATCH=...).
                if (c == u'?' && last == Last::Quantifier) {
                    m_last = Last::LazyQuantifier;
                } else if (last != Last::Atom) {
                    return fail("nothing to repeat");
                } else {
                    m_last = Last::Quantifier;
                    m_visitor.quantifier(c == u'+' ? 1 : 0);
                }
                ++m_i;
                emit(std::u16string(1, c), start);
                return true;
            case u'{':
                return brace(start, last);
            case u']':
            case u'}':
                ++m_i;
                emit(std::u16string{u'\\', c}, start);
                m_visitor.literal(c);
                return true;
            default: {
                std::u16string text;
                heardCharacter(copyCodePoint(text));
                emit(text, start);
                return true;
            }
        }
    }

    bool brace(std::size_t start, Last last) {
        // A quantifier {n}, {n,} or {n,m}; any other '{' is a literal in JScript.
        std::size_t k = m_i + 1;
        const std::size_t minStart = k;
        while (k < m_p.size() && isDigit(m_p[k]))
            ++k;
        bool isQuantifier = k > minStart;
        if (isQuantifier && k < m_p.size() && m_p[k] == u',') {
            ++k;
            while (k < m_p.size() && isDigit(m_p[k]))
                ++k;
        }
        isQuantifier = isQuantifier && k < m_p.size() && m_p[k] == u'}';
        if (!isQuantifier) {
            ++m_i;
            emit(u"\\{", start);
            m_visitor.literal(u'{');
            return true;
        }
        if (last != Last::Atom)
            return fail("nothing to repeat");
        std::size_t least = 0;
        for (std::size_t d = minStart; d < m_p.size() && isDigit(m_p[d]); ++d)
            least = std::min<std::size_t>(least * 10 + (m_p[d] - u'0'), 1'000'000);
        emit(m_p.substr(m_i, k + 1 - m_i), start);
        m_i = k + 1;
        m_last = Last::Quantifier;
        m_visitor.quantifier(least);
        return true;
    }

    bool group(std::size_t start) {
        if (m_i + 1 < m_p.size() && m_p[m_i + 1] == u'?') {
            const std::u16string_view rest = m_p.substr(m_i + 2);
            std::size_t length = 0;
            if (!rest.empty() && (rest[0] == u':' || rest[0] == u'=' || rest[0] == u'!')) {
                length = 3;
            } else if (rest.size() >= 2 && rest[0] == u'<' &&
                       (rest[1] == u'=' || rest[1] == u'!')) {
                length = 4;  // Lookbehind: not in JScript 5.5, but harmless and often wanted.
            } else {
                return fail("invalid group");
            }
            emit(m_p.substr(m_i, length), start);
            m_i += length;
            return true;
        }
        ++m_i;
        emit(u"(", start);
        return true;
    }

    bool escapeOutsideClass(std::size_t start) {
        if (m_i + 1 >= m_p.size())
            return fail("\\ at end of pattern");
        const char16_t e = m_p[m_i + 1];
        switch (e) {
            case u'd':
            case u'D':
            case u'w':
            case u'W':
                m_i += 2;
                emit(std::u16string{u'\\', e}, start);
                m_visitor.otherAtom();
                return true;
            case u't':
            case u'n':
            case u'f':
            case u'r':
                m_i += 2;
                emit(std::u16string{u'\\', e}, start);
                m_visitor.literal(e == u't'   ? u'\t'
                                  : e == u'n' ? u'\n'
                                  : e == u'f' ? u'\f'
                                              : u'\r');
                return true;
            case u'b':
            case u'B':
                m_i += 2;
                m_last = Last::Nothing;
                emit(std::u16string{u'\\', e}, start);
                m_visitor.assertion();
                return true;
            case u's':
            case u'S': {
                m_i += 2;
                std::u16string text = e == u's' ? u"[" : u"[^";
                text.append(kSpaceItems);
                text.push_back(u']');
                emit(text, start);
                m_visitor.otherAtom();
                return true;
            }
            default: {
                std::u16string text;
                int32_t value = -1;
                if (!commonEscape(text, value)) {
                    // A letter that means something to PCRE2 but is a plain letter to JScript.
                    m_i += 2;
                    text.assign(1, e);
                    value = e;
                }
                emit(text, start);
                if (value < 0)
                    m_visitor.otherAtom();
                else
                    heardCharacter(static_cast<char32_t>(value));
                return true;
            }
        }
    }

    // The escapes that mean the same inside and outside a class: \v \cX \xHH \uHHHH, octal and
    // backreferences, escaped punctuation and other characters. `value` gets the character it
    // stands for, -1 for none (a back-reference, a surrogate that can never match). Answers
    // false for a letter escape not handled here, without consuming it.
    bool commonEscape(std::u16string& text, int32_t& value) {
        const char16_t e = m_p[m_i + 1];
        value = -1;
        if (e == u'v') {
            m_i += 2;
            text = u"\\x0b";
            value = 0x0B;
        } else if (e == u'c') {
            if (m_i + 2 < m_p.size() && isAsciiLetter(m_p[m_i + 2])) {
                value = static_cast<int32_t>(m_p[m_i + 2] % 32u);
                text = hexEscape(static_cast<uint32_t>(value));
                m_i += 3;
            } else {
                // JScript reads a \c without a letter as a backslash followed by 'c'.
                m_i += 1;
                text = u"\\\\";
                value = u'\\';
            }
        } else if (e == u'x') {
            value = hexAt(m_p, m_i + 2, 2);
            if (value >= 0) {
                text = hexEscape(static_cast<uint32_t>(value));
                m_i += 4;
            } else {
                text = u"x";
                value = u'x';
                m_i += 2;
            }
        } else if (e == u'u') {
            const int32_t codePoint = readUnicodeEscape();
            if (codePoint < 0) {
                text = u"u";
                value = u'u';
                m_i += 2;
            } else if (codePoint <= 0xFFFF && (isHighSurrogate(static_cast<char16_t>(codePoint)) ||
                                               isLowSurrogate(static_cast<char16_t>(codePoint)))) {
                // Text reaches the engine with lone surrogates replaced, so this cannot match.
                text = m_inClass ? u"" : u"(?!)";
            } else {
                text = literalCodePoint(codePoint);
                value = codePoint;
            }
        } else if (isDigit(e)) {
            text = digitEscape(value);
        } else if (isAsciiLetter(e)) {
            return false;
        } else if (isAsciiPunctuation(e)) {
            m_i += 2;
            text = {u'\\', e};
            value = e;
        } else {
            ++m_i;
            value = static_cast<int32_t>(copyCodePoint(text));
        }
        return true;
    }

    std::u16string digitEscape(int32_t& value) {
        if (!m_inClass && m_p[m_i + 1] != u'0') {
            std::size_t k = m_i + 1;
            std::size_t number = 0;
            while (k < m_p.size() && isDigit(m_p[k])) {
                number = std::min<std::size_t>(number * 10 + (m_p[k] - u'0'), 1'000'000);
                ++k;
            }
            if (number <= m_groupCount) {
                m_i = k;
                value = -1;  // a back-reference
                std::u16string text = u"\\g{";
                for (const char c : std::to_string(number))
                    text.push_back(static_cast<char16_t>(c));
                text.push_back(u'}');
                return text;
            }
        }
        return readOctalEscape(value);
    }

    bool characterClass(std::size_t start) {
        m_inClass = true;
        ++m_i;
        bool negated = false;
        if (m_i < m_p.size() && m_p[m_i] == u'^') {
            negated = true;
            ++m_i;
        }
        std::u16string items;
        bool hasNonSpace = false;
        bool previousWasClassEscape = false;
        while (true) {
            if (m_i >= m_p.size())
                return fail("missing terminating ] for character class");
            const char16_t c = m_p[m_i];
            if (c == u']') {
                ++m_i;
                break;
            }
            bool isClassEscape = false;
            if (c == u'\\') {
                if (m_i + 1 >= m_p.size())
                    return fail("\\ at end of pattern");
                const char16_t e = m_p[m_i + 1];
                switch (e) {
                    case u'd':
                    case u'D':
                    case u'w':
                    case u'W':
                        items.append({u'\\', e});
                        m_i += 2;
                        isClassEscape = true;
                        break;
                    case u's':
                        items.append(kSpaceItems);
                        m_i += 2;
                        isClassEscape = true;
                        break;
                    case u'S':
                        hasNonSpace = true;
                        m_i += 2;
                        isClassEscape = true;
                        break;
                    case u'b':
                        items.append(u"\\x08");
                        m_i += 2;
                        break;
                    case u't':
                    case u'n':
                    case u'f':
                    case u'r':
                        items.append({u'\\', e});
                        m_i += 2;
                        break;
                    case u'c':
                        if (m_i + 2 < m_p.size() &&
                            (isDigit(m_p[m_i + 2]) || m_p[m_i + 2] == u'_')) {
                            // Inside a class JScript also takes \c with a digit or '_'.
                            items.append(hexEscape(m_p[m_i + 2] % 32u));
                            m_i += 3;
                            break;
                        }
                        [[fallthrough]];
                    default: {
                        std::u16string text;
                        int32_t value = -1;
                        if (!commonEscape(text, value)) {
                            m_i += 2;
                            text.assign(1, e);
                        }
                        items.append(text);
                        break;
                    }
                }
            } else if (c == u'-') {
                // A range with a class escape at either end is a literal '-' in JScript but an
                // error in PCRE2.
                const bool nextIsClassEscape =
                    m_i + 2 < m_p.size() && m_p[m_i + 1] == u'\\' &&
                    std::u16string_view(u"dDwWsS").find(m_p[m_i + 2]) != std::u16string_view::npos;
                items.append(previousWasClassEscape || nextIsClassEscape ? u"\\-" : u"-");
                ++m_i;
            } else if (c == u'[' || c == u'^') {
                // '[' would start a POSIX class such as [:alpha:] in PCRE2.
                items.append({u'\\', c});
                ++m_i;
            } else {
                copyCodePoint(items);
            }
            previousWasClassEscape = isClassEscape;
        }
        m_inClass = false;

        std::u16string text;
        if (!hasNonSpace) {
            text = negated ? u"[^" : u"[";
            text += items + u"]";
        } else if (!negated) {
            // PCRE2 cannot put the JScript \S inside a class, so the class becomes an
            // alternative of the other items and \S.
            text = u"(?:[" + items + u"]|[^";
            text.append(kSpaceItems);
            text += u"])";
        } else {
            text = u"(?:(?![" + items + u"])[";
            text.append(kSpaceItems);
            text += u"])";
        }
        emit(text, start);
        m_visitor.otherAtom();
        return true;
    }

    std::u16string_view m_p;
    PatternVisitor& m_visitor;
    std::size_t m_i = 0;
    std::size_t m_groupCount = 0;
    bool m_inClass = false;
    Last m_last = Last::Nothing;
    std::u16string m_out;
    std::vector<std::size_t> m_sourceOf;
    std::string m_error;
};

std::string asciiMessage(const PCRE2_UCHAR16* message) {
    std::string text;
    for (; *message != 0; ++message) {
        text.push_back(*message < 0x80 ? static_cast<char>(*message) : '?');
    }
    return text;
}

struct CodeDeleter {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct MatchContextDeleter {
    void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct CompileContextDeleter {
    void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct JitStackDeleter {
    void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
};

// What one match call writes to, made once per thread: several threads may match with one
// compiled pattern at the same time. Only the start of the match is read, so one pair of
// offsets serves every pattern.
struct MatchScratch {
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> matchData{
        pcre2_match_data_create(1, nullptr)};
    std::unique_ptr<pcre2_match_context, MatchContextDeleter> matchContext{
        pcre2_match_context_create(nullptr)};
    std::unique_ptr<pcre2_jit_stack, JitStackDeleter> jitStack{
        pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr)};
    // Text with lone surrogates replaced, reused between calls.
    std::u16string cleanText;

    MatchScratch() {
        if (!matchContext)
            return;
        pcre2_set_match_limit(matchContext.get(), kMatchLimit);
        pcre2_set_depth_limit(matchContext.get(), kDepthLimit);
        pcre2_set_heap_limit(matchContext.get(), kHeapLimitKib);
        if (jitStack)
            pcre2_jit_stack_assign(matchContext.get(), nullptr, jitStack.get());
    }
};

MatchScratch& matchScratch() {
    thread_local MatchScratch scratch;
    return scratch;
}

}  // namespace

struct Regex::Impl {
    std::unique_ptr<pcre2_code, CodeDeleter> code;
};

bool scanPattern(std::u16string_view pattern, PatternVisitor& visitor, std::string* errorText) {
    Translator translator(pattern, visitor);
    if (translator.run())
        return true;
    if (errorText != nullptr)
        *errorText = translator.error();
    return false;
}

Regex::Regex(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;
Regex::~Regex() = default;

std::optional<Regex> Regex::compile(std::string_view pattern, std::string* errorText) {
    auto setError = [errorText](const std::string& message) {
        if (errorText != nullptr)
            *errorText = message;
    };
    const std::u16string source = utf8ToUtf16(pattern);
    PatternVisitor unheard;  // the translation for the engine alone
    Translator translator(source, unheard);
    if (!translator.run()) {
        setError(translator.error());
        return std::nullopt;
    }
    const std::u16string& translated = translator.output();
    if (translated.size() > kMaxPatternUnits) {
        setError("regular expression is too long");
        return std::nullopt;
    }

    std::unique_ptr<pcre2_compile_context, CompileContextDeleter> compileContext(
        pcre2_compile_context_create(nullptr));
    if (!compileContext) {
        setError("out of memory");
        return std::nullopt;
    }
    // With '.' rewritten and $ matching only at the very end, the newline convention touches
    // nothing that JScript syntax can reach; ANYCRLF keeps PCRE2 from treating VT, FF or NEL
    // as line ends anywhere.
    pcre2_set_newline(compileContext.get(), PCRE2_NEWLINE_ANYCRLF);

    const uint32_t options = PCRE2_UTF | PCRE2_CASELESS | PCRE2_ALT_BSUX | PCRE2_DOLLAR_ENDONLY |
                             PCRE2_ALLOW_EMPTY_CLASS | PCRE2_MATCH_UNSET_BACKREF |
                             PCRE2_NO_UTF_CHECK;  // utf8ToUtf16 gives well-formed UTF-16
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    std::unique_ptr<pcre2_code, CodeDeleter> code(
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(), options,
                      &errorCode, &errorOffset, compileContext.get()));
    if (!code) {
        std::array<PCRE2_UCHAR16, 256> buffer{};
        pcre2_get_error_message(errorCode, buffer.data(), buffer.size());
        setError(asciiMessage(buffer.data()) + " (at character " +
                 std::to_string(translator.sourceIndex(errorOffset) + 1) + ")");
        return std::nullopt;
    }

    auto impl = std::make_unique<Impl>();
    // JIT makes a search over many files much faster; without it (unsupported platform) the
    // interpreter gives the same answers.
    pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE);
    impl->code = std::move(code);
    return Regex(std::move(impl));
}

std::optional<std::size_t> Regex::firstIndex(std::u16string_view text) const {
    const auto found = match(text, 0);
    return found ? std::optional<std::size_t>(found->first) : std::nullopt;
}

std::optional<std::pair<std::size_t, std::size_t>> Regex::match(std::u16string_view text,
                                                                std::size_t from) const {
    if (from > text.size())
        return std::nullopt;
    // PCRE2 refuses text with a lone surrogate altogether; replacing each by U+FFFD keeps the
    // rest of the line searchable and every index unchanged.
    std::u16string_view subject = text;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char16_t c = text[k];
        const bool paired =
            isHighSurrogate(c) && k + 1 < text.size() && isLowSurrogate(text[k + 1]);
        if (paired) {
            ++k;
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            std::u16string& clean = matchScratch().cleanText;
            clean.assign(text);
            for (std::size_t j = k; j < clean.size(); ++j) {
                if (isHighSurrogate(clean[j]) && j + 1 < clean.size() &&
                    isLowSurrogate(clean[j + 1])) {
                    ++j;
                } else if (isHighSurrogate(clean[j]) || isLowSurrogate(clean[j])) {
                    clean[j] = u'\uFFFD';
                }
            }
            subject = clean;
            break;
        }
    }

    static constexpr char16_t kEmpty[] = u"";
    const auto* data = reinterpret_cast<PCRE2_SPTR>(subject.empty() ? kEmpty : subject.data());
    MatchScratch& scratch = matchScratch();
    if (!scratch.matchData || !scratch.matchContext)
        return std::nullopt;  // out of memory: no match
    const int rc = pcre2_match(m_impl->code.get(), data, subject.size(), from, PCRE2_NO_UTF_CHECK,
                               scratch.matchData.get(), scratch.matchContext.get());
    // Anything but a match (no match, a limit reached, out of memory) is "not found": the
    // search goes on with the next line.
    if (rc < 0)
        return std::nullopt;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(scratch.matchData.get());
    return std::pair<std::size_t, std::size_t>(ovector[0], ovector[1]);
}

}  // namespace ferretta::platform
