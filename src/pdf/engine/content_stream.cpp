#include "pdf/engine/content_stream.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "pdf/engine/lexer.h"
#include "pdf/engine/lookalike.h"
#include "platform/cp932.h"

namespace ferretta::pdf {
namespace {

// Han, kana, the CJK symbols and punctuation, half- and full-width forms: the scripts that
// write no blanks between words.
bool isCjk(char32_t c) {
    return (c >= 0x3000 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF01 && c <= 0xFF9F) || (c >= 0x20000 && c <= 0x3FFFF) ||
           (c >= 0x31F0 && c <= 0x31FF) || (c >= 0x2E80 && c <= 0x2FDF);
}

// The code point of well-formed UTF-8 at `at` (U+FFFD for anything else).
char32_t codePointAt(std::string_view text, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
    const std::size_t left = text.size() - at;
    if (p[0] < 0x80)
        return p[0];
    if (p[0] >= 0xE0 && p[0] < 0xF0 && left >= 3)
        return (char32_t{p[0]} & 0x0F) << 12 | (char32_t{p[1]} & 0x3F) << 6 | (p[2] & 0x3F);
    if (p[0] >= 0xC0 && p[0] < 0xE0 && left >= 2)
        return (char32_t{p[0]} & 0x1F) << 6 | (p[1] & 0x3F);
    if (p[0] >= 0xF0 && left >= 4)
        return (char32_t{p[0]} & 0x07) << 18 | (char32_t{p[1]} & 0x3F) << 12 |
               (char32_t{p[2]} & 0x3F) << 6 | (p[3] & 0x3F);
    return 0xFFFD;
}

// The code point that ends at `end` (exclusive).
char32_t codePointBefore(std::string_view text, std::size_t end) {
    std::size_t start = end;
    while (start > 0 && end - start < 4) {
        --start;
        if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80)
            break;
    }
    return start < end ? codePointAt(text.substr(0, end), start) : 0;
}

// A number operand's value; 0 for what is no number.
double numberValue(std::string_view text) {
    double value = 0;
    const char* first = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    std::from_chars(first, text.data() + text.size(), value);
    return std::isfinite(value) ? value : 0;
}

}  // namespace

float FontDecoder::widthOfCid(std::uint32_t cid) const {
    const auto after = std::upper_bound(
        cidWidths.begin(), cidWidths.end(), cid,
        [](std::uint32_t value, const WidthRange& range) { return value < range.first; });
    if (after != cidWidths.begin() && cid <= std::prev(after)->last)
        return std::prev(after)->width;
    return defaultWidth;
}

void ContentTextExtractor::beginPage(FontSource* fonts) {
    m_fonts = fonts;
    m_state = {};
    m_savedStates.clear();
    m_unsavedDepth = 0;
    m_textMatrix = m_lineMatrix = {};
    m_openForms.clear();
    m_formsOnPage = 0;
    m_formBytesOnPage = 0;
}

const std::string& ContentTextExtractor::extract(std::string_view data) {
    m_text.clear();
    m_bytes.clear();
    m_malformed = 0;
    m_cut = false;
    m_blank.active = false;
    run(data, 0, 0);
    flushBytes();
    releaseBlank();
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
    unifyLookalikes();
    return m_text;
}

void ContentTextExtractor::run(std::string_view data, int scope, int depth) {
    m_operandBytes.clear();
    m_operands.clear();
    m_nameOperand = {};
    Lexer lexer(data);
    lexer.setStringLimit(maxStringBytes);
    for (;;) {
        if (m_operands.size() >= maxPendingOperands || m_operandBytes.size() >= maxPendingBytes) {
            m_operands.clear();
            m_operandBytes.clear();
            m_cut = true;
        }
        if (m_text.size() >= maxTextBytes) {
            m_cut = true;
            return;
        }
        const std::size_t before = m_operandBytes.size();
        const Token token = lexer.next(&m_operandBytes);
        switch (token.kind) {
            case TokenKind::End:
                return;
            case TokenKind::LiteralString:
                // A string left open at the end of the data keeps what it holds.
                m_operands.push_back(
                    {Operand::Kind::Literal, false, before, m_operandBytes.size(), {}});
                continue;
            case TokenKind::HexString:
                if (token.malformed) {
                    ++m_malformed;  // its bytes are dropped
                    continue;
                }
                m_operands.push_back(
                    {Operand::Kind::Hex, token.oddHexDigits, before, m_operandBytes.size(), {}});
                continue;
            case TokenKind::Number:
                m_operands.push_back({Operand::Kind::Number, false, 0, 0, token.text});
                continue;
            case TokenKind::Name:
                m_nameOperand = token.text;
                continue;
            case TokenKind::Keyword:
                break;
            default:
                continue;  // arrays, dictionaries (marked content): nothing to act on
        }
        const Operator op = operatorOf(token.text);
        if (op == Operator::InlineImageData)
            lexer.skipInlineImageData();
        else if (op != Operator::Other)
            act(op, scope, depth);
        // Any operator ends the operands of the one before it.
        m_operands.clear();
        m_operandBytes.clear();
        m_nameOperand = {};
    }
}

// The number `fromEnd` places before the operator (0: the last one); 0 when there is none.
double ContentTextExtractor::number(std::size_t fromEnd) const {
    std::size_t seen = 0;
    for (auto it = m_operands.rbegin(); it != m_operands.rend(); ++it) {
        if (it->kind != Operand::Kind::Number)
            continue;
        if (seen++ < fromEnd)
            continue;
        return numberValue(it->number);
    }
    return 0;
}

void ContentTextExtractor::act(Operator op, int scope, int depth) {
    switch (op) {
        case Operator::ShowText:
        case Operator::ShowTextArray:
            showOperands();
            break;
        case Operator::SpacingLineShow:  // §9.4.3: aw ac (string) "
            m_state.wordSpacing = number(1);
            m_state.charSpacing = number(0);
            [[fallthrough]];
        case Operator::NextLineShow:
            moveText(0, -m_state.leading);
            showOperands();
            break;
        case Operator::SetFont:
            selectFont(scope);
            m_state.fontSize = number(0);
            break;
        case Operator::SetRenderMode:
            m_state.renderMode = static_cast<int>(number(0));
            break;
        case Operator::SetCharSpacing:
            m_state.charSpacing = number(0);
            break;
        case Operator::SetWordSpacing:
            m_state.wordSpacing = number(0);
            break;
        case Operator::SetHorizontalScale:
            m_state.horizontalScale = number(0) / 100;
            break;
        case Operator::SetLeading:
            m_state.leading = number(0);
            break;
        case Operator::BeginText:  // §9.4.1
            m_textMatrix = m_lineMatrix = {};
            break;
        case Operator::EndText:
            break;
        case Operator::MoveTextSetLeading:  // §9.4.2
            m_state.leading = -number(0);
            moveText(number(1), number(0));
            break;
        case Operator::MoveText:
            moveText(number(1), number(0));
            break;
        case Operator::SetTextMatrix:
            m_textMatrix =
                m_lineMatrix = {number(5), number(4), number(3), number(2), number(1), number(0)};
            break;
        case Operator::NextLine:
            moveText(0, -m_state.leading);
            break;
        case Operator::Save:
            if (m_savedStates.size() < maxGraphicsDepth) {
                m_savedStates.push_back(m_state);
            } else {
                ++m_unsavedDepth;
            }
            break;
        case Operator::Restore:
            if (m_unsavedDepth > 0) {
                --m_unsavedDepth;
            } else if (!m_savedStates.empty()) {
                m_state = m_savedStates.back();
                m_savedStates.pop_back();
            }
            break;
        case Operator::PaintXObject:
            showForm(scope, depth);
            break;
        case Operator::InlineImageData:
        case Operator::Other:
            break;
    }
}

// Td: a new line, offset from the start of the current one in its own space.
void ContentTextExtractor::moveText(double tx, double ty) {
    Matrix& m = m_lineMatrix;
    m.e += tx * m.a + ty * m.c;
    m.f += tx * m.b + ty * m.d;
    m_textMatrix = m_lineMatrix;
}

// The text position after a glyph or a TJ adjustment of tx text-space units (§9.4.4).
void ContentTextExtractor::advance(double tx) {
    m_textMatrix.e += tx * m_textMatrix.a;
    m_textMatrix.f += tx * m_textMatrix.b;
}

// "/F1 12 Tf": a Tf without a name operand is malformed and changes nothing.
void ContentTextExtractor::selectFont(int scope) {
    if (m_nameOperand.empty())
        return;
    m_state.font = m_fonts ? m_fonts->fontOf(scope, decodeNameEscapes(m_nameOperand)) : nullptr;
}

// "/Fm1 Do": the form's content is read here, as if between q and Q.
void ContentTextExtractor::showForm(int scope, int depth) {
    if (m_nameOperand.empty() || !m_fonts || depth >= maxFormDepth ||
        m_formsOnPage >= maxFormsPerPage) {
        return;
    }
    const FormXObject* form = m_fonts->formOf(scope, decodeNameEscapes(m_nameOperand));
    if (!form)
        return;
    for (const std::uint64_t open : m_openForms) {
        if (open == form->id)
            return;
    }
    if (form->content.size() > maxFormBytesPerPage - m_formBytesOnPage)
        return;
    ++m_formsOnPage;
    m_formBytesOnPage += form->content.size();
    flushBytes();
    releaseBlank();
    const TextState state = m_state;
    const Matrix textMatrix = m_textMatrix;
    const Matrix lineMatrix = m_lineMatrix;
    const std::size_t saved = m_savedStates.size();
    const std::size_t unsaved = m_unsavedDepth;
    m_unsavedDepth = 0;
    m_openForms.push_back(form->id);
    run(form->content, form->scope, depth + 1);
    m_openForms.pop_back();
    flushBytes();
    releaseBlank();
    m_state = state;
    m_textMatrix = textMatrix;
    m_lineMatrix = lineMatrix;
    m_savedStates.resize(std::min(saved, m_savedStates.size()));
    m_unsavedDepth = unsaved;
}

void ContentTextExtractor::showOperands() {
    const bool track = invisible();
    const FontDecoder* font = m_state.font;
    const double size = m_state.fontSize;
    const double scale = m_state.horizontalScale;
    for (const Operand& operand : m_operands) {
        if (operand.kind == Operand::Kind::Number) {
            // A TJ adjustment, in thousandths of text space (§9.4.3).
            if (track)
                advance(-numberValue(operand.number) / 1000 * size * scale);
            continue;
        }
        const std::string_view bytes(m_operandBytes.data() + operand.begin,
                                     operand.end - operand.begin);
        const Matrix start = m_textMatrix;
        const bool settle = track || m_blank.active;
        if (settle)
            flushBytes();
        const std::size_t textStart = m_text.size();
        m_width = 0;
        if (!font || font->kind == FontDecoder::Kind::Default) {
            showDefault(operand, bytes);
        } else {
            flushBytes();
            if (font->kind == FontDecoder::Kind::Composite) {
                showComposite(*font, bytes);
            } else {
                showSimple(*font, bytes);
            }
        }
        if (settle)
            flushBytes();
        if (track)
            advance(m_width * scale);
        if (m_blank.active)
            settleBlank(textStart, start, track);
        if (track)
            holdBlank();
    }
}

// After invisible text: a trailing blank after a CJK character is held back until the next
// text shows whether it is needed.
void ContentTextExtractor::holdBlank() {
    std::size_t blanks = m_text.size();
    while (blanks > 0 && m_text[blanks - 1] == ' ')
        --blanks;
    if (blanks == m_text.size() || blanks == 0 || m_blank.active ||
        !isCjk(codePointBefore(m_text, blanks))) {
        return;
    }
    m_text.resize(blanks);
    m_blank = {true, m_textMatrix, m_state.fontSize};
}

// The first text after a held blank begins at textStart, shown from the position `start`;
// visible text always keeps the blank.
void ContentTextExtractor::settleBlank(std::size_t textStart, const Matrix& start,
                                       bool invisibleText) {
    if (textStart >= m_text.size())
        return;  // nothing shown yet
    m_blank.active = false;
    // Where the text starts, seen from where the blank ended, in the blank's text space.
    const Matrix& at = m_blank.at;
    const double de = start.e - at.e;
    const double df = start.f - at.f;
    const double det = at.a * at.d - at.b * at.c;
    bool needed = true;
    if (invisibleText && std::abs(det) > 1e-9 && isCjk(codePointAt(m_text, textStart))) {
        const double dx = (de * at.d - df * at.c) / det;
        const double dy = (df * at.a - de * at.b) / det;
        const double em = std::abs(m_blank.fontSize);
        const bool sameLine = std::abs(dy) < em / 2;
        needed = sameLine && dx > em;
    }
    if (needed)
        m_text.insert(textStart, 1, ' ');
}

void ContentTextExtractor::releaseBlank() {
    if (!m_blank.active)
        return;
    flushBytes();
    m_text.push_back(' ');
    m_blank.active = false;
}

// Literal strings are CP932 bytes, hexadecimal strings 2-byte CIDs; the half a CID that an odd
// last digit makes is dropped with the rest of an incomplete CID. Without a font's widths,
// each byte counts as half an em.
void ContentTextExtractor::showDefault(const Operand& operand, std::string_view bytes) {
    if (invisible()) {
        for (const char b : bytes)
            m_width += (500.0 / 1000) * m_state.fontSize + m_state.charSpacing +
                       (b == ' ' ? m_state.wordSpacing : 0);
    }
    if (operand.kind == Operand::Kind::Literal) {
        for (char b : bytes) {
            if (b != '\0')
                m_bytes.push_back(b);
        }
        // Bytes are read across strings (a character may be split between two), but not
        // without end.
        if (m_bytes.size() > maxStringBytes)
            flushBytes();
        return;
    }
    flushBytes();
    if (operand.oddDigits)
        bytes.remove_suffix(1);
    for (std::size_t k = 0; k + 2 <= bytes.size() && m_text.size() < maxTextBytes; k += 2) {
        const std::int32_t cid =
            static_cast<unsigned char>(bytes[k]) << 8 | static_cast<unsigned char>(bytes[k + 1]);
        m_text += m_cidTable.p2tCID2Str(cid);
    }
}

// §9.4.4: a glyph moves the text position by its width at the font size, the character
// spacing, and the word spacing for the single-byte code 32.
void ContentTextExtractor::showComposite(const FontDecoder& font, std::string_view bytes) {
    const bool track = invisible();
    std::size_t at = 0;
    while (at < bytes.size() && m_text.size() < maxTextBytes) {
        CharCode code;
        std::optional<std::uint32_t> cid;
        bool valid = false;
        if (font.encoding) {
            code = font.encoding->nextCode(bytes, at, valid);
            at += code.length;
            if (valid)
                cid = font.encoding->cidOf(code);
        } else {
            if (at + 2 > bytes.size())
                break;
            code.length = 2;
            code.value = static_cast<unsigned char>(bytes[at]) << 8 |
                         static_cast<unsigned char>(bytes[at + 1]);
            at += 2;
            valid = true;
            cid = code.value;
        }
        if (track) {
            m_width += (cid ? font.widthOfCid(*cid) : font.defaultWidth) / 1000 * m_state.fontSize +
                       m_state.charSpacing +
                       (code.length == 1 && code.value == 32 ? m_state.wordSpacing : 0);
        }
        if (!valid)
            continue;
        if (font.toUnicode && font.toUnicode->appendText(code, m_text))
            continue;
        if (cid && font.japan1 && *cid <= 0x7FFFFFFF)
            m_text += m_cidTable.p2tCID2Str(static_cast<std::int32_t>(*cid));
    }
}

void ContentTextExtractor::showSimple(const FontDecoder& font, std::string_view bytes) {
    if (invisible()) {
        for (const char b : bytes)
            m_width += font.codeWidths[static_cast<unsigned char>(b)] / 1000 * m_state.fontSize +
                       m_state.charSpacing + (b == ' ' ? m_state.wordSpacing : 0);
    }
    for (const char b : bytes) {
        const auto byte = static_cast<unsigned char>(b);
        if (m_text.size() >= maxTextBytes)
            break;
        if (font.toUnicode && font.toUnicode->appendText({byte, 1}, m_text))
            continue;
        m_text += font.codeText[byte];
    }
}

// Kangxi radicals (U+2E80-2FDF: E2 BA 80 - E2 BF 9F) and CJK compatibility ideographs
// (U+F900-FAFF: EF A4 80 - EF AB BF; U+2F800-2FA1F: F0 AF A0 80 - F0 AF A8 9F) are what some
// fonts map their ideographs to; the search words hold the unified ideographs. Vertical
// punctuation (U+FE10-FE48: EF B8 90 - EF B9 88) likewise becomes its horizontal form.
void ContentTextExtractor::unifyLookalikes() {
    const std::size_t n = m_text.size();
    std::size_t k = 0;
    while (k < n) {
        const auto c = static_cast<unsigned char>(m_text[k]);
        if (c == 0xE2 || c == 0xEF || c == 0xF0)
            break;
        ++k;
    }
    if (k == n)
        return;
    std::string out(m_text, 0, k);
    while (k < n) {
        const auto* p = reinterpret_cast<const unsigned char*>(m_text.data()) + k;
        const std::size_t left = n - k;
        char32_t code = 0;
        std::size_t length = 0;
        if (p[0] == 0xE2 && left >= 3 && p[1] >= 0xBA && p[1] <= 0xBF) {
            code = (char32_t{p[0]} & 0x0F) << 12 | (char32_t{p[1]} & 0x3F) << 6 | (p[2] & 0x3F);
            length = 3;
        } else if (p[0] == 0xEF && left >= 3 &&
                   ((p[1] >= 0xA4 && p[1] <= 0xAB) || p[1] == 0xB8 || p[1] == 0xB9)) {
            code = (char32_t{p[0]} & 0x0F) << 12 | (char32_t{p[1]} & 0x3F) << 6 | (p[2] & 0x3F);
            length = 3;
        } else if (p[0] == 0xF0 && left >= 4 && p[1] == 0xAF && p[2] >= 0xA0 && p[2] <= 0xA8) {
            code = (char32_t{p[1]} & 0x3F) << 12 | (char32_t{p[2]} & 0x3F) << 6 | (p[3] & 0x3F);
            length = 4;
        }
        if (length == 0) {
            out.push_back(m_text[k++]);
            continue;
        }
        appendUtf8(unifyLookalike(code), out);
        k += length;
    }
    m_text = std::move(out);
}

void ContentTextExtractor::flushBytes() {
    if (m_bytes.empty())
        return;
    if (m_text.size() < maxTextBytes)
        m_text += platform::cp932ToUtf8(m_bytes);
    else
        m_cut = true;
    m_bytes.clear();
}

}  // namespace ferretta::pdf
