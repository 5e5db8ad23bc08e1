#include "drivers/pim/mail_charsets.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/cp932.h"
#include "platform/hex_digit.h"
#include "platform/unicode.h"

namespace ferretta::platform::pim {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

enum class Family { Cp932, Iso2022Jp, EucJp, Utf8, Ascii, Other, Unknown };

std::string normalisedName(std::string_view charset) {
    std::string name;
    for (char c : charset) {
        if (c == '"' || c == '\'' || c == ' ' || c == '\t')
            continue;
        name += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    return name;
}

Family familyOf(const std::string& name) {
    static constexpr std::string_view cp932Names[] = {
        "shift_jis",   "shift-jis", "sjis",  "x-sjis",     "ms_kanji", "csshiftjis",
        "windows-31j", "cp932",     "ms932", "x-ms-cp932", "ibm-943",  "ibm943"};
    static constexpr std::string_view eucNames[] = {
        "euc-jp", "eucjp", "x-euc-jp", "euc-jp-ms", "eucjp-ms", "eucjp-win", "cseucpkdfmtjapanese"};
    if (name.empty())
        return Family::Unknown;
    if (std::find(std::begin(cp932Names), std::end(cp932Names), name) != std::end(cp932Names))
        return Family::Cp932;
    // ISO-2022-JP and its variants (-1, -2, -3, -MS, Windows' 50220-50222) share the escapes
    // that matter for Japanese.
    if (name.starts_with("iso-2022-jp") || name == "csiso2022jp" || name == "cp50220" ||
        name == "cp50221" || name == "cp50222")
        return Family::Iso2022Jp;
    if (std::find(std::begin(eucNames), std::end(eucNames), name) != std::end(eucNames))
        return Family::EucJp;
    if (name == "utf-8" || name == "utf8")
        return Family::Utf8;
    if (name == "us-ascii" || name == "ascii" || name == "ansi_x3.4-1968")
        return Family::Ascii;
    if (name == "unknown-8bit" || name == "x-unknown" || name == "x-user-defined")
        return Family::Unknown;
    return Family::Other;
}

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

using JisTable = std::array<char16_t, 94 * 94>;

// The CP932 characters of the JIS X 0208 row/cell pairs (each 0x21..0x7E), made once from the
// CP932 table: the Japanese decoders look up every character.
const JisTable& jisTable() {
    static const JisTable table = [] {
        JisTable made{};
        for (unsigned r = 0x21; r <= 0x7E; ++r) {
            for (unsigned c = 0x21; c <= 0x7E; ++c) {
                const unsigned s1 = ((r + 1) >> 1) + (r <= 0x5E ? 0x70 : 0xB0);
                const unsigned s2 = c + ((r & 1) ? (c >= 0x60 ? 0x20 : 0x1F) : 0x7E);
                const char16_t ch = cp932CodeToUnicode(static_cast<std::uint16_t>(s1 << 8 | s2));
                made[(r - 0x21) * 94 + (c - 0x21)] = ch == 0xFFFF ? kReplacement : ch;
            }
        }
        return made;
    }();
    return table;
}

inline char16_t jisToUnicode(const JisTable& table, unsigned j1, unsigned j2) {
    return table[(j1 - 0x21) * 94 + (j2 - 0x21)];
}

// UTF-8 written into a buffer sized for the worst case (three bytes for each input byte: a
// half-width katakana byte becomes three), trimmed at the end.
class Utf8Buffer {
  public:
    explicit Utf8Buffer(std::size_t inputSize)
        : m_text(inputSize * 3, '\0'), m_end(m_text.data()) {}
    void ascii(char c) { *m_end++ = c; }
    void ascii(std::string_view run) {
        std::memcpy(m_end, run.data(), run.size());
        m_end += run.size();
    }
    // One character of the Basic Multilingual Plane (never a surrogate here).
    void put(char16_t ch) {
        if (ch < 0x80) {
            *m_end++ = static_cast<char>(ch);
        } else if (ch < 0x800) {
            *m_end++ = static_cast<char>(0xC0 | (ch >> 6));
            *m_end++ = static_cast<char>(0x80 | (ch & 0x3F));
        } else {
            *m_end++ = static_cast<char>(0xE0 | (ch >> 12));
            *m_end++ = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            *m_end++ = static_cast<char>(0x80 | (ch & 0x3F));
        }
    }
    std::string finish() {
        m_text.resize(static_cast<std::size_t>(m_end - m_text.data()));
        return std::move(m_text);
    }

  private:
    std::string m_text;
    char* m_end;
};

char16_t halfWidthKana(unsigned char c) {
    return static_cast<char16_t>(0xFF61 + (c - 0xA1));
}

// Written straight to UTF-8, ASCII runs copied whole: most Japanese mail is this charset.
std::string decodeIso2022Jp(std::string_view bytes) {
    enum class Set { Ascii, Kana, Jis0208, Jis0212 };
    Set set = Set::Ascii;
    bool shiftedOut = false;  // SO: half-width katakana until SI
    Utf8Buffer out(bytes.size());
    const JisTable& jis = jisTable();
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (set == Set::Jis0208 && !shiftedOut && c >= 0x21 && c <= 0x7E && i + 1 < bytes.size()) {
            const unsigned char c2 = static_cast<unsigned char>(bytes[i + 1]);
            if (c2 >= 0x21 && c2 <= 0x7E) {
                out.put(jisToUnicode(jis, c, c2));
                i += 2;
                continue;
            }
        }
        if (set == Set::Ascii && !shiftedOut && c >= 0x20 && c < 0x7F) {
            std::size_t end = i + 1;
            while (end < bytes.size() && static_cast<unsigned char>(bytes[end]) >= 0x20 &&
                   static_cast<unsigned char>(bytes[end]) < 0x7F)
                ++end;
            out.ascii(bytes.substr(i, end - i));
            i = end;
            continue;
        }
        ++i;
        if (c == 0x1B) {
            const std::string_view rest = bytes.substr(i);
            struct Escape {
                std::string_view sequence;
                Set set;
            };
            static constexpr Escape escapes[] = {{"(B", Set::Ascii},    {"(J", Set::Ascii},
                                                 {"(I", Set::Kana},     {"$B", Set::Jis0208},
                                                 {"$@", Set::Jis0208},  {"$(B", Set::Jis0208},
                                                 {"$(Q", Set::Jis0208}, {"$(O", Set::Jis0208},
                                                 {"$(D", Set::Jis0212}, {"&@\x1b$B", Set::Jis0208}};
            bool known = false;
            for (const auto& escape : escapes) {
                if (rest.starts_with(escape.sequence)) {
                    set = escape.set;
                    i += escape.sequence.size();
                    known = true;
                    break;
                }
            }
            if (!known)
                out.put(kReplacement);
        } else if (c == 0x0E || c == 0x0F) {
            shiftedOut = c == 0x0E;
        } else if (c < 0x21 || c == 0x7F) {
            // Controls and blanks stand for themselves in every set: a line break inside a
            // double-byte run (a mailer that forgot to return to ASCII) stays a line break.
            out.ascii(static_cast<char>(c));
        } else if (c >= 0x80) {
            // 8-bit bytes have no place in ISO-2022-JP; half-width katakana sent as such
            // (0xA1-0xDF) are read as CP932 does.
            out.put(c >= 0xA1 && c <= 0xDF ? halfWidthKana(c) : kReplacement);
        } else if (shiftedOut || set == Set::Kana) {
            out.put(c <= 0x5F ? halfWidthKana(static_cast<unsigned char>(c + 0x80)) : kReplacement);
        } else if (set == Set::Ascii) {
            out.ascii(static_cast<char>(c));
        } else if (i >= bytes.size()) {
            out.put(kReplacement);
        } else {
            const unsigned char c2 = static_cast<unsigned char>(bytes[i]);
            if (c2 < 0x21 || c2 > 0x7E) {
                out.put(kReplacement);
                continue;
            }
            ++i;
            out.put(set == Set::Jis0208 ? jisToUnicode(jis, c, c2) : kReplacement);
        }
    }
    return out.finish();
}

std::string decodeEucJp(std::string_view bytes) {
    Utf8Buffer out(bytes.size());
    const JisTable& jis = jisTable();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out.ascii(static_cast<char>(c));
            continue;
        }
        const auto next = [&](std::size_t k) {
            return i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0;
        };
        if (c == 0x8E && next(1) >= 0xA1 && next(1) <= 0xDF) {
            out.put(halfWidthKana(next(1)));
            ++i;
        } else if (c == 0x8F && next(1) >= 0xA1 && next(2) >= 0xA1) {
            // JIS X 0212 has no CP932 form worth the table.
            out.put(kReplacement);
            i += 2;
        } else if (c >= 0xA1 && c <= 0xFE && next(1) >= 0xA1 && next(1) <= 0xFE) {
            out.put(jisToUnicode(jis, c - 0x80, next(1) - 0x80));
            ++i;
        } else {
            out.put(kReplacement);
        }
    }
    return out.finish();
}

// Valid UTF-8 as it is; an invalid sequence's bytes become U+FFFD.
std::string sanitisedUtf8(std::string_view bytes) {
    if (isValidUtf8(bytes))
        return std::string(bytes);
    return utf16ToUtf8(utf8ToUtf16(bytes));
}

std::optional<std::string> decodeWithIconv(std::string_view bytes, const std::string& charset) {
    iconv_t converter = iconv_open("UTF-8", charset.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out;
    out.reserve(bytes.size() * 2);
    char buffer[4096];
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (result != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // An invalid or truncated sequence: one replacement for its first byte, then on.
        out += "\xEF\xBF\xBD";
        ++in;
        --inLeft;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(converter, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    iconv_close(converter);
    return sanitisedUtf8(out);
}

std::string base64Decode(std::string_view text) {
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        int digit;
        if (c >= 'A' && c <= 'Z')
            digit = c - 'A';
        else if (c >= 'a' && c <= 'z')
            digit = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            digit = c - '0' + 52;
        else if (c == '+' || c == '-')
            digit = 62;
        else if (c == '/' || c == '_')
            digit = 63;
        else
            continue;
        value = (value << 6) | static_cast<unsigned>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

std::string qEncodingDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_') {
            out += ' ';
        } else if (const std::optional<unsigned char> byte =
                       text[i] == '=' ? hexByteAt(text, i + 1) : std::nullopt) {
            out += static_cast<char>(*byte);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string unfold(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (char c : raw) {
        if (c != '\r' && c != '\n')
            out += c;
    }
    return out;
}

// One encoded word "=?charset?B|Q?text?=" at the start of the text.
struct EncodedWord {
    std::size_t length = 0;
    std::string charset;
    std::string bytes;
};

std::optional<EncodedWord> encodedWordAt(std::string_view text) {
    if (!text.starts_with("=?"))
        return std::nullopt;
    const std::size_t charsetEnd = text.find('?', 2);
    if (charsetEnd == std::string_view::npos || charsetEnd + 2 >= text.size() ||
        text[charsetEnd + 2] != '?')
        return std::nullopt;
    const char encoding = text[charsetEnd + 1];
    const std::size_t end = text.find("?=", charsetEnd + 3);
    if (end == std::string_view::npos)
        return std::nullopt;
    std::string_view charset = text.substr(2, charsetEnd - 2);
    // An RFC 2231 language ("iso-2022-jp*ja") is not part of the charset.
    charset = charset.substr(0, charset.find('*'));
    const std::string_view payload = text.substr(charsetEnd + 3, end - charsetEnd - 3);
    if (payload.find_first_of(" \t") != std::string_view::npos)
        return std::nullopt;
    EncodedWord word;
    word.length = end + 2;
    word.charset = std::string(charset);
    if (encoding == 'B' || encoding == 'b')
        word.bytes = base64Decode(payload);
    else if (encoding == 'Q' || encoding == 'q')
        word.bytes = qEncodingDecode(payload);
    else
        return std::nullopt;
    return word;
}

// Decodes the run of encoded words at the start of the text (blanks between them dropped,
// same-charset neighbours joined). Answers the text and the length consumed; nullopt when no
// encoded word starts there.
std::optional<std::pair<std::string, std::size_t>> decodeWordRun(std::string_view text) {
    auto word = encodedWordAt(text);
    if (!word)
        return std::nullopt;
    std::string decoded;
    std::string pendingCharset = word->charset;
    std::string pendingBytes = word->bytes;
    std::size_t consumed = word->length;
    while (true) {
        std::size_t next = consumed;
        while (next < text.size() && (text[next] == ' ' || text[next] == '\t'))
            ++next;
        auto following = encodedWordAt(text.substr(next));
        if (!following)
            break;
        if (normalisedName(following->charset) == normalisedName(pendingCharset)) {
            pendingBytes += following->bytes;
        } else {
            decoded += decodeCharset(pendingBytes, pendingCharset);
            pendingCharset = following->charset;
            pendingBytes = following->bytes;
        }
        consumed = next + following->length;
    }
    decoded += decodeCharset(pendingBytes, pendingCharset);
    return std::make_pair(std::move(decoded), consumed);
}

// Decodes the plain (not encoded) stretch of a header.
void appendPlain(std::string& out, std::string_view plain) {
    out += isAscii(plain) ? std::string(plain) : decodeUndeclared(plain);
}

std::string escapeQuoted(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

std::string decodeUndeclared(std::string_view bytes) {
    if (bytes.find("\x1b$") != std::string_view::npos)
        return decodeIso2022Jp(bytes);
    if (isValidUtf8(bytes))
        return std::string(bytes);
    return cp932ToUtf8(bytes);
}

std::string decodeCharset(std::string_view bytes, std::string_view charset) {
    const std::string name = normalisedName(charset);
    switch (familyOf(name)) {
        case Family::Cp932:
            return cp932ToUtf8(bytes);
        case Family::Iso2022Jp:
            return decodeIso2022Jp(bytes);
        case Family::EucJp:
            return decodeEucJp(bytes);
        case Family::Utf8:
            return sanitisedUtf8(bytes);
        case Family::Ascii:
        case Family::Unknown:
            return decodeUndeclared(bytes);
        case Family::Other:
            break;
    }
    if (auto text = decodeWithIconv(bytes, name))
        return std::move(*text);
    return decodeUndeclared(bytes);
}

std::string decodeHeaderText(std::string_view raw) {
    const std::string text = unfold(raw);
    const std::string_view view = text;
    std::string out;
    std::size_t plainStart = 0;
    std::size_t i = 0;
    while (i < view.size()) {
        const std::size_t at = view.find("=?", i);
        if (at == std::string_view::npos)
            break;
        auto run = decodeWordRun(view.substr(at));
        if (!run) {
            i = at + 2;
            continue;
        }
        appendPlain(out, view.substr(plainStart, at - plainStart));
        out += run->first;
        i = plainStart = at + run->second;
    }
    appendPlain(out, view.substr(plainStart));
    return out;
}

std::string decodeAddressHeader(std::string_view raw) {
    const std::string text = unfold(raw);
    const std::string_view view = text;
    std::string out;
    bool quoted = false;
    int commentDepth = 0;
    std::size_t plainStart = 0;
    std::size_t i = 0;
    while (i < view.size()) {
        const char c = view[i];
        if (c == '\\' && (quoted || commentDepth > 0)) {
            i += 2;
            continue;
        }
        if (c == '"' && commentDepth == 0) {
            quoted = !quoted;
        } else if (c == '(' && !quoted) {
            ++commentDepth;
        } else if (c == ')' && !quoted && commentDepth > 0) {
            --commentDepth;
        } else if (c == '=' && view.substr(i).starts_with("=?")) {
            if (auto run = decodeWordRun(view.substr(i))) {
                appendPlain(out, view.substr(plainStart, i - plainStart));
                if (quoted || commentDepth > 0) {
                    out += escapeQuoted(run->first);
                } else {
                    out += '"';
                    out += escapeQuoted(run->first);
                    out += '"';
                }
                i = plainStart = i + run->second;
                continue;
            }
        }
        ++i;
    }
    appendPlain(out, view.substr(plainStart));
    return out;
}

std::string decodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
            continue;
        }
        if (const std::optional<unsigned char> byte = hexByteAt(text, i + 1)) {
            out += static_cast<char>(*byte);
            i += 2;
            continue;
        }
        // A soft line break: "=" then optional blanks then the line end.
        std::size_t k = i + 1;
        while (k < text.size() && (text[k] == ' ' || text[k] == '\t'))
            ++k;
        if (k < text.size() && (text[k] == '\r' || text[k] == '\n')) {
            if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')
                ++k;
            i = k;
            continue;
        }
        if (k == text.size()) {
            i = k;
            continue;
        }
        out += '=';
    }
    return out;
}

}  // namespace ferretta::platform::pim
