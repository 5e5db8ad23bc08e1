// The scanner in front of expat: the forms Office parts are written in, read without expat's
// tokenizer and its callbacks. It reads only what it knows for certain to be what expat reads,
// and the same: UTF-8 without a byte-order mark other than UTF-8's, an XML declaration of
// version 1.0 in UTF-8, elements whose names are ASCII, attributes in either quotes, the five
// predefined entities, character references, CDATA sections, and white space of spaces, tabs
// and line feeds (a carriage return, which expat turns into a line feed, is left to expat). At
// anything else (a comment, a processing instruction, a document type, a malformed tag, a
// character XML does not allow, a name outside ASCII) it stops where the construct begins and
// expat reads on from there, with its refusals and messages.
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "documents/xml_parser.h"

namespace ferretta::documents {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// The ASCII characters that start a name (1) or may follow in one (2, and 1).
constexpr std::array<std::uint8_t, 256> kNameBytes = [] {
    std::array<std::uint8_t, 256> bytes{};
    for (int c = 0; c < 256; ++c) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_')
            bytes[c] = 3;
        else if ((c >= '0' && c <= '9') || c == '-' || c == '.')
            bytes[c] = 2;
    }
    return bytes;
}();

bool startsName(char c) {
    return (kNameBytes[static_cast<unsigned char>(c)] & 1) != 0;
}

bool inName(char c) {
    return kNameBytes[static_cast<unsigned char>(c)] != 0;
}

// Bytes a text may hold as they are: printable ASCII, tabs and line feeds, but for '&', '<',
// the byte that ends the text (']', which may start "]]>", or a value's quote) and what needs
// a look (bytes of multi-byte characters).
constexpr std::array<bool, 256> plainBytes(char end) {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7F; ++c)
        plain[c] = c != '&' && c != '<' && c != end;
    // A value's tabs and line feeds are read as spaces: a look, as for a reference.
    plain['\t'] = plain['\n'] = end == ']';
    return plain;
}
constexpr std::array<bool, 256> kPlain = plainBytes(']');
constexpr std::array<bool, 256> kPlainInDoubleQuotes = plainBytes('"');
constexpr std::array<bool, 256> kPlainInSingleQuotes = plainBytes('\'');

// The length of the well-formed UTF-8 character at `at` that expat takes for a character of
// XML; 0 for anything else (an overlong form, a surrogate, U+FFFE and U+FFFF, a cut sequence).
std::size_t characterLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0U;
    };
    const auto trail = [&](std::size_t i) { return (byte(i) & 0xC0) == 0x80; };
    const unsigned lead = byte(0);
    if (lead >= 0xC2 && lead <= 0xDF)
        return trail(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned second = byte(1);
        if (!trail(1) || !trail(2) || (lead == 0xE0 && second < 0xA0) ||
            (lead == 0xED && second > 0x9F) || (lead == 0xEF && second == 0xBF && byte(2) >= 0xBE))
            return 0;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned second = byte(1);
        if (!trail(1) || !trail(2) || !trail(3) || (lead == 0xF0 && second < 0x90) ||
            (lead == 0xF4 && second > 0x8F))
            return 0;
        return 4;
    }
    return 0;
}

// The reference at `at` (an '&'): its length, and its character as UTF-8 in `out`; 0 for one
// the scanner leaves to expat (an entity of the document's own, a character XML does not allow).
std::size_t reference(std::string_view text, std::size_t at, std::string_view& out,
                      std::array<char, 4>& buffer) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kNamed = {
        {{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&quot;", "\""}, {"&apos;", "'"}}};
    const std::string_view rest = text.substr(at);
    if (rest.size() < 2 || rest[1] != '#') {
        for (const auto& [name, character] : kNamed) {
            if (rest.starts_with(name)) {
                out = character;
                return name.size();
            }
        }
        return 0;
    }
    const bool hex = rest.size() > 2 && rest[2] == 'x';
    std::size_t i = hex ? 3 : 2;
    const std::size_t first = i;
    char32_t value = 0;
    for (; i < rest.size() && i - first < 8; ++i) {
        const char c = rest[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            break;
        value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
    }
    if (i == first || i >= rest.size() || rest[i] != ';')
        return 0;
    const bool allowed =
        value == 0x9 || value == 0xA || value == 0xD || (value >= 0x20 && value <= 0xD7FF) ||
        (value >= 0xE000 && value <= 0xFFFD) || (value >= 0x10000 && value <= 0x10FFFF);
    if (!allowed)
        return 0;
    std::size_t length = 0;
    if (value < 0x80) {
        buffer[length++] = static_cast<char>(value);
    } else if (value < 0x800) {
        buffer[length++] = static_cast<char>(0xC0 | (value >> 6));
        buffer[length++] = static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        buffer[length++] = static_cast<char>(0xE0 | (value >> 12));
        buffer[length++] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        buffer[length++] = static_cast<char>(0x80 | (value & 0x3F));
    } else {
        buffer[length++] = static_cast<char>(0xF0 | (value >> 18));
        buffer[length++] = static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        buffer[length++] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        buffer[length++] = static_cast<char>(0x80 | (value & 0x3F));
    }
    out = std::string_view(buffer.data(), length);
    return i + 1;
}

// A character beyond the plain ones at text[i]: its length, 0 for one the scanner leaves to
// expat. `markup`: in an element's text or a value, where '&' starts a reference (`references`
// set, as for a value's tab or line feed) and '<' may not stand, nor "]]>" in an element's
// text; in a CDATA section both may.
std::size_t specialLength(std::string_view text, std::size_t i, bool markup, bool& references) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80)
        return characterLength(text, i);
    if (c == ']')
        return markup && text.substr(i, 3) == "]]>" ? 0 : 1;
    if (c == '"' || c == '\'')
        return 1;
    if (c == '\t' || c == '\n') {
        references = true;
        return 1;
    }
    if (c == '&' && markup) {
        std::array<char, 4> buffer{};
        std::string_view character;
        references = true;
        return reference(text, i, character, buffer);
    }
    if ((c == '&' || c == '<') && !markup)
        return 1;
    return 0;  // a control character, a carriage return, '<' in a value
}

// Whether a CDATA section's `text` holds only characters the scanner reads as expat does.
bool knownData(std::string_view text) {
    bool references = false;
    for (std::size_t i = 0; i < text.size();) {
        if (kPlain[static_cast<unsigned char>(text[i])]) {
            ++i;
            continue;
        }
        const std::size_t length = specialLength(text, i, false, references);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

// Skips runs of plain ASCII 16 bytes at a time: printable ASCII but '&', '<' and the byte that
// ends the text (with `controls`, tabs and line feeds too).
class PlainRun {
  public:
    PlainRun(char end, bool controls)
#if defined(__SSE2__)
        : m_end(_mm_set1_epi8(end)),
          m_tab(_mm_set1_epi8(controls ? '\t' : '<')),
          m_lf(_mm_set1_epi8(controls ? '\n' : '<'))
#endif
    {
#if !defined(__SSE2__)
        (void)end;
        (void)controls;
#endif
    }

    // The first byte from `at` on that is not plain, or where fewer than 16 bytes are left;
    // the caller's table looks at the bytes from there.
    std::size_t skip(std::string_view bytes, std::size_t at) const {
#if defined(__SSE2__)
        while (at + 16 <= bytes.size()) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + at));
            // Signed comparisons: the bytes from 0x80 up are below 0x1F.
            const __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x1F)),
                                                    _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F)));
            const __m128i controls =
                _mm_or_si128(_mm_cmpeq_epi8(v, m_tab), _mm_cmpeq_epi8(v, m_lf));
            const __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('&')),
                                                           _mm_cmpeq_epi8(v, _mm_set1_epi8('<'))),
                                              _mm_cmpeq_epi8(v, m_end));
            const auto plain = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_andnot_si128(stop, _mm_or_si128(printable, controls))));
            if (plain != 0xFFFF)
                return at + static_cast<std::size_t>(std::countr_one(plain));
            at += 16;
        }
#else
        (void)bytes;
#endif
        return at;
    }

  private:
#if defined(__SSE2__)
    __m128i m_end;
    __m128i m_tab;  // '<' (a stop anyway) where tabs and line feeds are no plain bytes
    __m128i m_lf;
#endif
};

// The end of the text or value starting at `at`: the first `end` ('<' or the value's quote)
// outside a reference. npos, with `known` true, when the bytes end first; npos, with `known`
// false, at a character the scanner leaves to expat.
std::size_t textEnd(std::string_view bytes, std::size_t at, char end, bool& known,
                    bool& references) {
    const std::array<bool, 256>& plain = end == '<'   ? kPlain
                                         : end == '"' ? kPlainInDoubleQuotes
                                                      : kPlainInSingleQuotes;
    known = true;
    references = false;
    std::size_t i = at;
    const auto trail = [&](std::size_t k) { return (bytes[k] & 0xC0) == 0x80; };
    const PlainRun run(end == '<' ? ']' : end, end == '<');
    for (;;) {
        while (i < bytes.size()) {
            i = run.skip(bytes, i);
            if (i >= bytes.size())
                break;
            const auto c = static_cast<unsigned char>(bytes[i]);
            if (plain[c]) {
                ++i;
            } else if (c >= 0xE1 && c <= 0xEC && i + 2 < bytes.size() && trail(i + 1) &&
                       trail(i + 2)) {
                // U+1000 to U+CFFF (kana and kanji among them): characters whatever follows.
                // A run of them is walked without a look for ASCII after each.
                i += 3;
                while (i + 2 < bytes.size() && static_cast<unsigned char>(bytes[i]) >= 0xE1 &&
                       static_cast<unsigned char>(bytes[i]) <= 0xEC && trail(i + 1) && trail(i + 2))
                    i += 3;
            } else {
                break;
            }
        }
        if (i >= bytes.size())
            return std::string_view::npos;
        if (bytes[i] == end)
            return i;
        // "]]>", a reference or a character cut by the end of the bytes is read with more.
        if (end == '<' && bytes[i] == ']' && bytes.size() - i < 3)
            return std::string_view::npos;
        const std::size_t length = specialLength(bytes, i, true, references);
        if (length == 0) {
            const bool cut = (bytes[i] == '&' && bytes.find(';', i) == std::string_view::npos &&
                              bytes.size() - i < 16) ||
                             (static_cast<unsigned char>(bytes[i]) >= 0xC0 && bytes.size() - i < 4);
            known = cut;
            return std::string_view::npos;
        }
        i += length;
    }
}

// The end of the qualified name starting at `at`: ASCII name characters, at most one colon
// between two of them. npos when the bytes end within it; `at` itself when it is no name of
// that form.
std::size_t nameEnd(std::string_view bytes, std::size_t at) {
    std::size_t i = at;
    // The prefix (or the whole name), then the local name after a colon.
    for (int part = 0; part < 2; ++part) {
        if (i >= bytes.size())
            return std::string_view::npos;
        if (!startsName(bytes[i]))
            return at;
        while (i < bytes.size() && inName(bytes[i]))
            ++i;
        if (i >= bytes.size())
            return std::string_view::npos;
        if (bytes[i] != ':' || part == 1)
            break;
        ++i;
    }
    // What follows must end the name; a character outside ASCII or a second colon is expat's.
    const auto next = static_cast<unsigned char>(bytes[i]);
    if (next >= 0x80 || next == ':')
        return at;
    return i;
}

}  // namespace

XmlParser::Scanned XmlParser::scan(std::string_view bytes, bool last, std::size_t& at) {
    const Scanned more = last ? Scanned::Expat : Scanned::More;
    while (at < bytes.size()) {
        if (!m_started) {
            const Scanned read = scanProlog(bytes, last, at);
            if (read != Scanned::Read)
                return read;
            continue;
        }
        if (bytes[at] != '<' && m_phase == Phase::Content) {
            bool known = false;
            bool references = false;
            const std::size_t end = textEnd(bytes, at, '<', known, references);
            if (end == std::string_view::npos)
                return known ? more : Scanned::Expat;
            if (!text(bytes.substr(at, end - at), references))
                return Scanned::Ended;
            at = end;
            continue;
        }
        if (bytes[at] != '<') {
            const std::size_t lt = bytes.find('<', at);
            if (lt == std::string_view::npos && !last)
                return more;
            const std::size_t end = lt == std::string_view::npos ? bytes.size() : lt;
            const std::string_view run = bytes.substr(at, end - at);
            {
                // Outside the root, white space only, which is no character data.
                for (const char c : run) {
                    if (!isSpace(c))
                        return Scanned::Expat;
                }
                if (m_phase == Phase::Prolog)
                    m_prolog += run;
            }
            at = end;
            continue;
        }
        if (at + 1 >= bytes.size())
            return more;
        const char next = bytes[at + 1];
        Scanned read;
        if (next == '/')
            read = scanEndTag(bytes, last, at);
        else if (next == '!')
            read = scanMarkup(bytes, last, at);
        else
            read = scanStartTag(bytes, last, at);
        if (read != Scanned::Read)
            return read;
    }
    // All read: at the end of the document, the root must have been read whole.
    return !last || m_phase == Phase::Epilogue ? Scanned::Read : Scanned::Expat;
}

XmlParser::Scanned XmlParser::scanProlog(std::string_view bytes, bool last, std::size_t& at) {
    const Scanned more = last ? Scanned::Expat : Scanned::More;
    // UTF-8's byte-order mark; any other first byte but '<' and white space may choose another
    // encoding, which expat works out.
    std::size_t i = 0;
    if (static_cast<unsigned char>(bytes[0]) == 0xEF) {
        if (bytes.size() < 3)
            return more;
        if (bytes.substr(0, 3) != "\xEF\xBB\xBF")
            return Scanned::Expat;
        i = 3;
    } else if (bytes[0] != '<' && !isSpace(bytes[0])) {
        return Scanned::Expat;
    }
    // The XML declaration, in the forms written: version 1.0, encoding UTF-8, standalone.
    const std::string_view rest = bytes.substr(i);
    constexpr std::string_view kOpen = "<?xml";
    if (rest.size() < kOpen.size() + 1 && kOpen.starts_with(rest))
        return more;
    if (rest.starts_with(kOpen) && !inName(rest[kOpen.size()])) {
        const std::size_t close = rest.find("?>");
        if (close == std::string_view::npos)
            return rest.size() > 512 ? Scanned::Expat : more;
        std::string_view declaration = rest.substr(kOpen.size(), close - kOpen.size());
        const auto pseudoAttribute = [&](std::string_view name,
                                         std::initializer_list<std::string_view> values) {
            std::size_t j = 0;
            while (j < declaration.size() && isSpace(declaration[j]))
                ++j;
            if (j == 0 || !declaration.substr(j).starts_with(name))
                return false;
            j += name.size();
            while (j < declaration.size() && isSpace(declaration[j]))
                ++j;
            if (j >= declaration.size() || declaration[j++] != '=')
                return false;
            while (j < declaration.size() && isSpace(declaration[j]))
                ++j;
            if (j >= declaration.size() || (declaration[j] != '"' && declaration[j] != '\''))
                return false;
            const char quote = declaration[j++];
            const std::size_t end = declaration.find(quote, j);
            if (end == std::string_view::npos)
                return false;
            const std::string_view value = declaration.substr(j, end - j);
            for (const std::string_view allowed : values) {
                if (value == allowed) {
                    declaration.remove_prefix(end + 1);
                    return true;
                }
            }
            return false;
        };
        if (!pseudoAttribute("version", {"1.0"}))
            return Scanned::Expat;
        pseudoAttribute("encoding", {"UTF-8", "utf-8"});
        pseudoAttribute("standalone", {"yes", "no"});
        for (const char c : declaration) {
            if (!isSpace(c))
                return Scanned::Expat;
        }
        i += close + 2;
    }
    m_prolog.assign(bytes.substr(0, i));
    m_started = true;
    at = i;
    return Scanned::Read;
}

XmlParser::Scanned XmlParser::scanStartTag(std::string_view bytes, bool last, std::size_t& at) {
    const Scanned more = last ? Scanned::Expat : Scanned::More;
    if (m_phase == Phase::Epilogue)
        return Scanned::Expat;
    const std::size_t start = at;
    const std::size_t end = nameEnd(bytes, start + 1);
    if (end == std::string_view::npos)
        return more;
    if (end == start + 1)
        return Scanned::Expat;
    const std::string_view name = bytes.substr(start + 1, end - start - 1);
    m_rawAttributes.clear();
    m_decodedOf.clear();
    std::size_t i = end;
    bool empty = false;
    for (;;) {
        bool spaced = false;
        while (i < bytes.size() && isSpace(bytes[i])) {
            ++i;
            spaced = true;
        }
        if (i >= bytes.size())
            return more;
        if (bytes[i] == '>') {
            ++i;
            break;
        }
        if (bytes[i] == '/') {
            if (i + 1 >= bytes.size())
                return more;
            if (bytes[i + 1] != '>')
                return Scanned::Expat;
            i += 2;
            empty = true;
            break;
        }
        if (!spaced)
            return Scanned::Expat;
        const std::size_t attributeEnd = nameEnd(bytes, i);
        if (attributeEnd == std::string_view::npos)
            return more;
        if (attributeEnd == i)
            return Scanned::Expat;
        const std::string_view attribute = bytes.substr(i, attributeEnd - i);
        i = attributeEnd;
        while (i < bytes.size() && isSpace(bytes[i]))
            ++i;
        if (i >= bytes.size())
            return more;
        if (bytes[i] != '=')
            return Scanned::Expat;
        ++i;
        while (i < bytes.size() && isSpace(bytes[i]))
            ++i;
        if (i >= bytes.size())
            return more;
        const char quote = bytes[i];
        if (quote != '"' && quote != '\'')
            return Scanned::Expat;
        bool known = false;
        bool references = false;
        const std::size_t close = textEnd(bytes, i + 1, quote, known, references);
        if (close == std::string_view::npos)
            return known ? more : Scanned::Expat;
        const std::string_view value = bytes.substr(i + 1, close - i - 1);
        // Expat reads a tab or a line feed in a value as a space (`references` tells of those
        // too).
        if (references)
            m_decodedOf.push_back(m_rawAttributes.size());
        for (const RawAttribute& earlier : m_rawAttributes) {
            if (sameName(earlier.name, attribute))
                return Scanned::Expat;
        }
        m_rawAttributes.push_back({attribute, value});
        i = close + 1;
    }
    if (m_decoded.size() < m_decodedOf.size())
        m_decoded.resize(m_decodedOf.size());
    std::array<char, 4> buffer{};
    for (std::size_t k = 0; k < m_decodedOf.size(); ++k) {
        RawAttribute& raw = m_rawAttributes[m_decodedOf[k]];
        std::string& decoded = m_decoded[k];
        decoded.clear();
        const std::string_view value = raw.value;
        for (std::size_t j = 0; j < value.size();) {
            std::string_view character;
            if (value[j] == '&') {
                j += reference(value, j, character, buffer);
                decoded += character;
            } else {
                decoded += value[j] == '\t' || value[j] == '\n' ? ' ' : value[j];
                ++j;
            }
        }
        raw.value = decoded;
    }
    m_tagIndex = m_offset + static_cast<std::int64_t>(start);
    if (!startTag(name, m_rawAttributes, true))
        return m_error.empty() ? Scanned::Expat : Scanned::Ended;
    if (m_stopped)
        return Scanned::Ended;
    m_phase = Phase::Content;
    m_prolog.clear();
    at = i;
    if (empty) {
        endTag(name);
        --m_depth;
        if (m_stopped)
            return Scanned::Ended;
        if (m_openNames.empty())
            m_phase = Phase::Epilogue;
        return Scanned::Read;
    }
    m_openNames.emplace_back(m_openTags.size() + 1, name.size());
    m_openTags.append(bytes.substr(start, i - start));
    return Scanned::Read;
}

XmlParser::Scanned XmlParser::scanEndTag(std::string_view bytes, bool last, std::size_t& at) {
    const Scanned more = last ? Scanned::Expat : Scanned::More;
    if (m_openNames.empty())
        return Scanned::Expat;
    const auto [nameAt, nameLength] = m_openNames.back();
    const std::string_view open = std::string_view(m_openTags).substr(nameAt, nameLength);
    const std::size_t end = nameEnd(bytes, at + 2);
    if (end == std::string_view::npos)
        return more;
    if (!sameName(bytes.substr(at + 2, end - at - 2), open))
        return Scanned::Expat;
    std::size_t i = end;
    while (i < bytes.size() && isSpace(bytes[i]))
        ++i;
    if (i >= bytes.size())
        return more;
    if (bytes[i] != '>')
        return Scanned::Expat;
    endTag(open);
    --m_depth;
    m_openTags.resize(nameAt - 1);
    m_openNames.pop_back();
    if (m_stopped)
        return Scanned::Ended;
    if (m_openNames.empty())
        m_phase = Phase::Epilogue;
    at = i + 1;
    return Scanned::Read;
}

XmlParser::Scanned XmlParser::scanMarkup(std::string_view bytes, bool last, std::size_t& at) {
    constexpr std::string_view kCdata = "<![CDATA[";
    const std::string_view rest = bytes.substr(at);
    if (rest.size() < kCdata.size() && kCdata.starts_with(rest))
        return last ? Scanned::Expat : Scanned::More;
    // Comments and declarations are expat's.
    if (m_phase != Phase::Content || !rest.starts_with(kCdata))
        return Scanned::Expat;
    const std::size_t close = rest.find("]]>", kCdata.size());
    if (close == std::string_view::npos)
        return last ? Scanned::Expat : Scanned::More;
    const std::string_view data = rest.substr(kCdata.size(), close - kCdata.size());
    if (!knownData(data))
        return Scanned::Expat;
    if (!text(data, false))
        return Scanned::Ended;
    at += close + 3;
    return Scanned::Read;
}

bool XmlParser::text(std::string_view run, bool references) {
    if (!references) {
        if (!run.empty())
            m_handler.characters(run);
        return !m_stopped;
    }
    std::array<char, 4> buffer{};
    while (!run.empty() && !m_stopped) {
        const std::size_t amp = run.find('&');
        if (amp != 0) {
            m_handler.characters(run.substr(0, amp));
            if (amp == std::string_view::npos)
                break;
        } else {
            std::string_view character;
            const std::size_t length = reference(run, 0, character, buffer);
            m_handler.characters(character);
            run.remove_prefix(length);
            continue;
        }
        run.remove_prefix(amp);
    }
    return !m_stopped;
}

}  // namespace ferretta::documents
