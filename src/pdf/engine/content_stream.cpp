#include "pdf/engine/content_stream.h"

#include <cstring>

#include "platform/cp932.h"

namespace ferretta::pdf {
namespace {

bool isSpace(unsigned char c) {
    return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == '\0';
}

bool isDelimiter(unsigned char c) {
    return std::strchr("()<>[]{}/%", c) != nullptr && c != 0;
}

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string decodeNameEscapes(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '#' && i + 2 < name.size()) {
            const int high = hexValue(static_cast<unsigned char>(name[i + 1]));
            const int low = hexValue(static_cast<unsigned char>(name[i + 2]));
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(name[i]);
    }
    return out;
}

void ContentTextExtractor::beginPage(FontSource* fonts) {
    m_fonts = fonts;
    m_font = FontCoding::Default;
    m_savedFonts.clear();
    m_unsavedDepth = 0;
}

const std::string& ContentTextExtractor::extract(std::string_view data) {
    m_text.clear();
    m_operandBytes.clear();
    m_operands.clear();
    m_bytes.clear();
    m_nameOperand = {};
    m_malformed = 0;
    const std::size_t n = data.size();
    std::size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (isSpace(c)) {
            ++i;
            continue;
        }
        switch (c) {
            case '%':
                while (i < n && data[i] != '\r' && data[i] != '\n')
                    ++i;
                break;
            case '(':
                i = readLiteral(data, i);
                break;
            case '<':
                if (i + 1 < n && data[i + 1] == '<') {
                    i += 2;  // a dictionary operand (marked content): its strings are not shown
                } else {
                    i = readHex(data, i);
                }
                break;
            case '>':
            case ')':
            case '[':
            case ']':
            case '{':
            case '}':
                ++i;
                break;
            case '/': {
                const std::size_t start = i++;
                while (i < n && !isSpace(static_cast<unsigned char>(data[i])) &&
                       !isDelimiter(static_cast<unsigned char>(data[i]))) {
                    ++i;
                }
                m_nameOperand = data.substr(start, i - start);
                break;
            }
            default: {
                const std::size_t start = i;
                while (i < n && !isSpace(static_cast<unsigned char>(data[i])) &&
                       !isDelimiter(static_cast<unsigned char>(data[i]))) {
                    ++i;
                }
                const std::string_view word = data.substr(start, i - start);
                const char first = word[0];
                const bool number =
                    (first >= '0' && first <= '9') || first == '+' || first == '-' || first == '.';
                if (number)
                    break;
                if (word == "Tj" || word == "TJ" || word == "'" || word == "\"") {
                    showOperands();
                } else if (word == "Tf") {
                    selectFont();
                } else if (word == "q") {
                    if (m_savedFonts.size() < maxGraphicsDepth) {
                        m_savedFonts.push_back(m_font);
                    } else {
                        ++m_unsavedDepth;
                    }
                } else if (word == "Q") {
                    if (m_unsavedDepth > 0) {
                        --m_unsavedDepth;
                    } else if (!m_savedFonts.empty()) {
                        m_font = m_savedFonts.back();
                        m_savedFonts.pop_back();
                    }
                } else if (word == "ID") {
                    i = skipInlineImage(data, i);
                }
                // Any operator ends the operands of the one before it.
                m_operands.clear();
                m_operandBytes.clear();
                m_nameOperand = {};
                break;
            }
        }
    }
    flushBytes();
    // CR LF pairs go: a line break inside one shown string must not split a search word.
    std::size_t out = 0;
    for (std::size_t k = 0; k < m_text.size(); ++k) {
        if (m_text[k] == '\r' && k + 1 < m_text.size() && m_text[k + 1] == '\n') {
            ++k;
            continue;
        }
        m_text[out++] = m_text[k];
    }
    m_text.resize(out);
    return m_text;
}

// "/F1 12 Tf": a Tf without a name operand is malformed and changes nothing.
void ContentTextExtractor::selectFont() {
    if (m_nameOperand.empty())
        return;
    m_font = m_fonts ? m_fonts->codingOf(decodeNameEscapes(m_nameOperand)) : FontCoding::Default;
}

void ContentTextExtractor::appendCids(std::string_view bigEndianPairs) {
    for (std::size_t k = 0; k + 2 <= bigEndianPairs.size(); k += 2) {
        const auto high = static_cast<unsigned char>(bigEndianPairs[k]);
        const auto low = static_cast<unsigned char>(bigEndianPairs[k + 1]);
        m_text += m_cidTable.p2tCID2Str(high * 256 + low);
    }
}

void ContentTextExtractor::showOperands() {
    for (const Operand& operand : m_operands) {
        const std::string_view bytes(m_operandBytes.data() + operand.begin,
                                     operand.end - operand.begin);
        if (!operand.hex && m_font == FontCoding::TwoByteCids) {
            flushBytes();
            appendCids(bytes);
            continue;
        }
        if (!operand.hex) {
            for (char b : bytes) {
                if (b != '\0')
                    m_bytes.push_back(b);
            }
            continue;
        }
        flushBytes();
        for (std::size_t k = 0; k + 4 <= bytes.size(); k += 4) {
            std::int32_t cid = 0;
            for (std::size_t d = 0; d < 4; ++d)
                cid = cid * 16 + hexValue(static_cast<unsigned char>(bytes[k + d]));
            m_text += m_cidTable.p2tCID2Str(cid);
        }
    }
}

void ContentTextExtractor::flushBytes() {
    if (m_bytes.empty())
        return;
    m_text += platform::cp932ToUtf8(m_bytes);
    m_bytes.clear();
}

// A literal string: balanced parentheses, the escapes \n \r \t \b \f \( \) \\, one to three
// octal digits, a backslash before a line end continuing the line, and a bare line end (CR,
// LF, CR LF) read as LF. A string left open at the end of the data keeps what it holds.
std::size_t ContentTextExtractor::readLiteral(std::string_view data, std::size_t i) {
    const std::size_t n = data.size();
    const std::size_t begin = m_operandBytes.size();
    int depth = 1;
    ++i;
    while (i < n) {
        char c = data[i++];
        if (c == '\\') {
            if (i >= n)
                break;
            const char e = data[i++];
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
                    if (i < n && data[i] == '\n')
                        ++i;
                    continue;
                case '\n':
                    continue;
                default:
                    if (e >= '0' && e <= '7') {
                        int value = e - '0';
                        for (int k = 0; k < 2 && i < n && data[i] >= '0' && data[i] <= '7'; ++k) {
                            value = value * 8 + (data[i++] - '0');
                        }
                        c = static_cast<char>(value & 0xFF);
                    } else {
                        c = e;  // \( \) \\ and an unknown escape: the character itself
                    }
                    break;
            }
            m_operandBytes.push_back(c);
            continue;
        }
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0)
                break;
        } else if (c == '\r') {
            if (i < n && data[i] == '\n')
                ++i;
            c = '\n';
        }
        m_operandBytes.push_back(c);
    }
    m_operands.push_back({false, begin, m_operandBytes.size()});
    return i;
}

std::size_t ContentTextExtractor::readHex(std::string_view data, std::size_t i) {
    const std::size_t n = data.size();
    const std::size_t begin = m_operandBytes.size();
    ++i;
    while (i < n) {
        const auto c = static_cast<unsigned char>(data[i++]);
        if (c == '>') {
            m_operands.push_back({true, begin, m_operandBytes.size()});
            return i;
        }
        if (isSpace(c))
            continue;
        if (hexValue(c) < 0) {
            // Not a hex string: skip it to its ">" and drop what it held.
            ++m_malformed;
            while (i < n && data[i] != '>')
                ++i;
            m_operandBytes.resize(begin);
            return i < n ? i + 1 : n;
        }
        m_operandBytes.push_back(static_cast<char>(c));
    }
    m_operandBytes.resize(begin);  // unterminated: nothing
    return n;
}

// Inline image data after "ID" runs to "EI" standing alone between whitespace; it may hold
// any bytes, parentheses included.
std::size_t ContentTextExtractor::skipInlineImage(std::string_view data, std::size_t i) {
    const std::size_t n = data.size();
    ++i;  // the one whitespace byte after ID
    while (i + 1 < n) {
        const std::size_t at = data.find("EI", i);
        if (at == std::string_view::npos)
            return n;
        const bool before = at > 0 && isSpace(static_cast<unsigned char>(data[at - 1]));
        const bool after = at + 2 >= n || isSpace(static_cast<unsigned char>(data[at + 2]));
        if (before && after)
            return at + 2;
        i = at + 1;
    }
    return n;
}

}  // namespace ferretta::pdf
