#include "pdf/engine/lexer.h"

#include <algorithm>

#include "platform/hex_digit.h"

namespace ferretta::pdf {
namespace {

constexpr std::array<CharClass, 256> designCharClasses = detail::makeCharClasses(true);

}  // namespace

Lexer::Lexer(std::string_view data, Separators separators)
    : m_data(data), m_classes(separators == Separators::Iso ? isoCharClasses : designCharClasses) {}

void Lexer::skipWhiteSpace() {
    const std::size_t n = m_data.size();
    while (m_at < n) {
        const auto c = static_cast<unsigned char>(m_data[m_at]);
        if (m_classes[c] == CharClass::WhiteSpace) {
            ++m_at;
        } else if (c == '%') {
            // §7.2.4: a comment runs to the end of the line and counts as white space.
            while (m_at < n && m_data[m_at] != '\r' && m_data[m_at] != '\n')
                ++m_at;
        } else {
            return;
        }
    }
}

std::size_t Lexer::endOfRegular(std::size_t from) const {
    const std::size_t n = m_data.size();
    while (from < n && m_classes[static_cast<unsigned char>(m_data[from])] == CharClass::Regular)
        ++from;
    return from;
}

void Lexer::consumeSeparator() {
    const std::size_t n = m_data.size();
    if (m_at >= n) {
        m_reachedEnd = true;
        return;
    }
    const auto c = static_cast<unsigned char>(m_data[m_at]);
    if (m_classes[c] != CharClass::WhiteSpace)
        return;
    ++m_at;
    if (c == '\r') {
        if (m_at >= n)
            m_reachedEnd = true;  // an LF may follow
        else if (m_data[m_at] == '\n')
            ++m_at;
    }
}

Token Lexer::next(std::string* strings) {
    m_reachedEnd = false;
    Token token;
    skipWhiteSpace();
    const std::size_t n = m_data.size();
    if (m_at >= n) {
        m_reachedEnd = true;
        return token;
    }
    const std::size_t start = m_at;
    const char c = m_data[m_at];
    switch (c) {
        case '(':
            readLiteral(token, strings);
            break;
        case '<':
            if (m_at + 1 < n && m_data[m_at + 1] == '<') {
                m_at += 2;
                token.kind = TokenKind::DictOpen;
            } else if (m_at + 1 >= n) {
                ++m_at;
                token.kind = TokenKind::HexString;
                token.malformed = true;
                m_reachedEnd = true;
            } else {
                readHex(token, strings);
            }
            break;
        case '>':
            if (m_at + 1 < n && m_data[m_at + 1] == '>') {
                m_at += 2;
                token.kind = TokenKind::DictClose;
            } else {
                m_reachedEnd = m_at + 1 >= n;
                ++m_at;
                token.kind = TokenKind::Stray;
            }
            break;
        case ')':
            ++m_at;
            token.kind = TokenKind::Stray;
            break;
        case '[':
            ++m_at;
            token.kind = TokenKind::ArrayOpen;
            break;
        case ']':
            ++m_at;
            token.kind = TokenKind::ArrayClose;
            break;
        case '{':
            ++m_at;
            token.kind = TokenKind::ProcOpen;
            break;
        case '}':
            ++m_at;
            token.kind = TokenKind::ProcClose;
            break;
        case '/':
            m_at = endOfRegular(m_at + 1);
            token.kind = TokenKind::Name;
            token.text = m_data.substr(start, m_at - start);
            consumeSeparator();
            return token;
        default:
            m_at = endOfRegular(m_at);
            if (m_at == start)
                ++m_at;  // a byte no table calls regular cannot get here; never loop
            token.kind = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'
                             ? TokenKind::Number
                             : TokenKind::Keyword;
            token.text = m_data.substr(start, m_at - start);
            consumeSeparator();
            return token;
    }
    token.text = m_data.substr(start, m_at - start);
    return token;
}

// §7.3.4.2: balanced parentheses; the escapes \n \r \t \b \f \( \) \\, one to three octal
// digits, a backslash before a line end continuing the line (and an unknown escape giving the
// character itself); a bare line end (CR, LF, CR LF) read as LF.
void Lexer::readLiteral(Token& token, std::string* strings) {
    token.kind = TokenKind::LiteralString;
    const std::size_t n = m_data.size();
    const std::size_t begin = strings ? strings->size() : 0;
    auto kept = [&] { return strings->size() - begin; };
    auto put = [&](char byte) {
        if (kept() < m_stringLimit)
            strings->push_back(byte);
        else
            token.cut = true;
    };
    int depth = 1;
    ++m_at;
    while (m_at < n) {
        // The bytes up to the next one that means something are taken as they are.
        std::size_t run = m_at;
        while (run < n && m_data[run] != '\\' && m_data[run] != '(' && m_data[run] != ')' &&
               m_data[run] != '\r')
            ++run;
        if (strings && run > m_at) {
            const std::size_t room = m_stringLimit > kept() ? m_stringLimit - kept() : 0;
            const std::size_t take = std::min(run - m_at, room);
            strings->append(m_data.data() + m_at, take);
            token.cut = token.cut || take < run - m_at;
        }
        m_at = run;
        if (m_at >= n)
            break;
        char c = m_data[m_at++];
        if (c == '\\') {
            if (m_at >= n)
                break;
            const char e = m_data[m_at++];
            switch (e) {
                case 'n':
                    c = '\n';
                    break;
                case 'r':
                    c = '\r';
                    break;
                case 't':
                    c = '\t';
                    break;
                case 'b':
                    c = '\b';
                    break;
                case 'f':
                    c = '\f';
                    break;
                case '\r':
                    if (m_at < n && m_data[m_at] == '\n')
                        ++m_at;
                    continue;
                case '\n':
                    continue;
                default:
                    if (e >= '0' && e <= '7') {
                        int value = e - '0';
                        for (int k = 0;
                             k < 2 && m_at < n && m_data[m_at] >= '0' && m_data[m_at] <= '7'; ++k) {
                            value = value * 8 + (m_data[m_at++] - '0');
                        }
                        c = static_cast<char>(value & 0xFF);
                    } else {
                        c = e;
                    }
                    break;
            }
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0)
                return;
        } else {  // CR
            if (m_at < n && m_data[m_at] == '\n')
                ++m_at;
            c = '\n';
        }
        if (strings)
            put(c);
    }
    token.malformed = true;  // not closed
    m_reachedEnd = true;
}

// §7.3.4.3: hex digits with white space between them; an odd last digit is followed by 0. A
// character that is no hex digit makes the string malformed; it still ends at its ">".
void Lexer::readHex(Token& token, std::string* strings) {
    token.kind = TokenKind::HexString;
    const std::size_t n = m_data.size();
    const std::size_t close = m_data.find('>', m_at + 1);
    const std::size_t end = close == std::string_view::npos ? n : close;
    const std::size_t begin = strings ? strings->size() : 0;
    std::size_t written = 0;
    char* out = nullptr;
    std::size_t room = 0;
    if (strings) {
        room = std::min((end - m_at) / 2 + 1, m_stringLimit);
        strings->resize(begin + room);
        out = strings->data() + begin;
    }
    int high = -1;
    for (std::size_t i = m_at + 1; i < end; ++i) {
        const auto c = static_cast<unsigned char>(m_data[i]);
        const int digit = platform::hexDigitValue(c);
        if (digit < 0) {
            if (!isPdfWhiteSpace(c))
                token.malformed = true;
            continue;
        }
        if (high < 0) {
            high = digit;
            continue;
        }
        if (written < room)
            out[written++] = static_cast<char>(high << 4 | digit);
        else
            token.cut = true;
        high = -1;
    }
    if (high >= 0) {
        token.oddHexDigits = true;
        if (written < room)
            out[written++] = static_cast<char>(high << 4);
        else
            token.cut = true;
    }
    if (close == std::string_view::npos) {
        token.malformed = true;  // not closed
        m_reachedEnd = true;
        m_at = n;
    } else {
        m_at = close + 1;
    }
    if (strings)
        strings->resize(token.malformed ? begin : begin + written);
}

void Lexer::skipInlineImageData() {
    const std::size_t n = m_data.size();
    std::size_t i = m_at;
    while (i + 1 < n) {
        const std::size_t at = m_data.find("EI", i);
        if (at == std::string_view::npos)
            break;
        const bool before = at > 0 && isPdfWhiteSpace(static_cast<unsigned char>(m_data[at - 1]));
        const bool after =
            at + 2 >= n || isPdfWhiteSpace(static_cast<unsigned char>(m_data[at + 2]));
        if (before && after) {
            m_at = at + 2;
            return;
        }
        i = at + 1;
    }
    m_at = n;
}

std::string decodeNameEscapes(std::string_view name) {
    if (name.find('#') == std::string_view::npos)
        return std::string(name);
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '#') {
            if (const std::optional<unsigned char> byte = platform::hexByteAt(name, i + 1)) {
                out.push_back(static_cast<char>(*byte));
                i += 2;
                continue;
            }
        }
        out.push_back(name[i]);
    }
    return out;
}

}  // namespace ferretta::pdf
