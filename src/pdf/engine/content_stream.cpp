#include "pdf/engine/content_stream.h"

#include <algorithm>

#include "pdf/engine/lexer.h"
#include "pdf/engine/lookalike.h"
#include "pdf/engine/operators.h"
#include "platform/cp932.h"

namespace ferretta::pdf {
void ContentTextExtractor::beginPage(FontSource* fonts) {
    m_fonts = fonts;
    m_font = nullptr;
    m_savedFonts.clear();
    m_unsavedDepth = 0;
    m_openForms.clear();
    m_formsOnPage = 0;
    m_formBytesOnPage = 0;
}

const std::string& ContentTextExtractor::extract(std::string_view data) {
    m_text.clear();
    m_bytes.clear();
    m_malformed = 0;
    run(data, 0, 0);
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
        const std::size_t before = m_operandBytes.size();
        const Token token = lexer.next(&m_operandBytes);
        switch (token.kind) {
            case TokenKind::End:
                return;
            case TokenKind::LiteralString:
                // A string left open at the end of the data keeps what it holds.
                m_operands.push_back({false, false, before, m_operandBytes.size()});
                continue;
            case TokenKind::HexString:
                if (token.malformed) {
                    ++m_malformed;  // its bytes are dropped
                    continue;
                }
                m_operands.push_back({true, token.oddHexDigits, before, m_operandBytes.size()});
                continue;
            case TokenKind::Name:
                m_nameOperand = token.text;
                continue;
            case TokenKind::Keyword:
                break;
            default:
                continue;  // numbers, arrays, dictionaries (marked content): no shown text
        }
        switch (operatorOf(token.text)) {
            case Operator::ShowText:
            case Operator::ShowTextArray:
            case Operator::NextLineShow:
            case Operator::SpacingLineShow:
                showOperands();
                break;
            case Operator::SetFont:
                selectFont(scope);
                break;
            case Operator::Save:
                if (m_savedFonts.size() < maxGraphicsDepth) {
                    m_savedFonts.push_back(m_font);
                } else {
                    ++m_unsavedDepth;
                }
                break;
            case Operator::Restore:
                if (m_unsavedDepth > 0) {
                    --m_unsavedDepth;
                } else if (!m_savedFonts.empty()) {
                    m_font = m_savedFonts.back();
                    m_savedFonts.pop_back();
                }
                break;
            case Operator::PaintXObject:
                showForm(scope, depth);
                break;
            case Operator::InlineImageData:
                lexer.skipInlineImageData();
                break;
            default:
                break;
        }
        // Any operator ends the operands of the one before it.
        m_operands.clear();
        m_operandBytes.clear();
        m_nameOperand = {};
    }
}

// "/F1 12 Tf": a Tf without a name operand is malformed and changes nothing.
void ContentTextExtractor::selectFont(int scope) {
    if (m_nameOperand.empty())
        return;
    m_font = m_fonts ? m_fonts->fontOf(scope, decodeNameEscapes(m_nameOperand)) : nullptr;
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
    const FontDecoder* const font = m_font;
    const std::size_t saved = m_savedFonts.size();
    const std::size_t unsaved = m_unsavedDepth;
    m_unsavedDepth = 0;
    m_openForms.push_back(form->id);
    run(form->content, form->scope, depth + 1);
    m_openForms.pop_back();
    m_font = font;
    m_savedFonts.resize(std::min(saved, m_savedFonts.size()));
    m_unsavedDepth = unsaved;
}

void ContentTextExtractor::showOperands() {
    for (const Operand& operand : m_operands) {
        const std::string_view bytes(m_operandBytes.data() + operand.begin,
                                     operand.end - operand.begin);
        if (!m_font || m_font->kind == FontDecoder::Kind::Default) {
            showDefault(operand, bytes);
            continue;
        }
        flushBytes();
        if (m_font->kind == FontDecoder::Kind::Composite) {
            showComposite(*m_font, bytes);
        } else {
            showSimple(*m_font, bytes);
        }
    }
}

// Literal strings are CP932 bytes, hexadecimal strings 2-byte CIDs; the half a CID that an odd
// last digit makes is dropped with the rest of an incomplete CID.
void ContentTextExtractor::showDefault(const Operand& operand, std::string_view bytes) {
    if (!operand.hex) {
        for (char b : bytes) {
            if (b != '\0')
                m_bytes.push_back(b);
        }
        return;
    }
    flushBytes();
    if (operand.oddDigits)
        bytes.remove_suffix(1);
    for (std::size_t k = 0; k + 2 <= bytes.size(); k += 2) {
        const std::int32_t cid =
            static_cast<unsigned char>(bytes[k]) << 8 | static_cast<unsigned char>(bytes[k + 1]);
        m_text += m_cidTable.p2tCID2Str(cid);
    }
}

void ContentTextExtractor::showComposite(const FontDecoder& font, std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        CharCode code;
        std::uint32_t cid = 0;
        bool valid = false;
        if (font.encoding) {
            code = font.encoding->nextCode(bytes, at, valid);
            at += code.length;
            if (!valid)
                continue;
            if (font.toUnicode && font.toUnicode->appendText(code, m_text))
                continue;
            const auto mapped = font.encoding->cidOf(code);
            if (!mapped)
                continue;
            cid = *mapped;
        } else {
            if (at + 2 > bytes.size())
                break;
            code.length = 2;
            code.value = static_cast<unsigned char>(bytes[at]) << 8 |
                         static_cast<unsigned char>(bytes[at + 1]);
            at += 2;
            if (font.toUnicode && font.toUnicode->appendText(code, m_text))
                continue;
            cid = code.value;
        }
        if (font.japan1 && cid <= 0x7FFFFFFF)
            m_text += m_cidTable.p2tCID2Str(static_cast<std::int32_t>(cid));
    }
}

void ContentTextExtractor::showSimple(const FontDecoder& font, std::string_view bytes) {
    for (const char b : bytes) {
        const auto byte = static_cast<unsigned char>(b);
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
    m_text += platform::cp932ToUtf8(m_bytes);
    m_bytes.clear();
}

}  // namespace ferretta::pdf
