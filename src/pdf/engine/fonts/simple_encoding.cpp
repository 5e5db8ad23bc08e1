#include "pdf/engine/fonts/simple_encoding.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <iterator>
#include <utility>

#include "pdf/engine/lexer.h"
#include "platform/hex_digit.h"

namespace ferretta::pdf {
namespace {

#include "pdf/engine/fonts/glyph_list.inc"

// Longer names are no glyph names a font would use; the bound keeps hostile input cheap.
constexpr std::size_t kMaxGlyphName = 1024;

std::string_view nameOf(const GlyphEntry& entry) {
    return {kGlyphNameChars + entry.nameOffset, entry.nameLength};
}

// The text of a name of the glyph list, or nothing.
std::optional<std::u32string_view> listedText(std::string_view name) {
    const auto* const end = std::end(kGlyphs);
    const auto* const found =
        std::lower_bound(std::begin(kGlyphs), end, name,
                         [](const GlyphEntry& entry, auto key) { return nameOf(entry) < key; });
    if (found == end || nameOf(*found) != name) {
        return std::nullopt;
    }
    return std::u32string_view(kGlyphTextChars + found->textOffset, found->textLength);
}

bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// Appends the text of one component of a glyph name.
void appendComponent(std::string_view component, std::u32string& out) {
    if (const std::optional<std::u32string_view> listed = listedText(component)) {
        out += *listed;
        return;
    }
    if (component.size() > 3 && component.substr(0, 3) == "uni") {
        const std::string_view digits = component.substr(3);
        if (digits.size() % 4 != 0) {
            return;
        }
        std::u32string text;
        for (std::size_t at = 0; at < digits.size(); at += 4) {
            const std::optional<char32_t> value = platform::hexValue(digits.substr(at, 4));
            if (!value || isSurrogate(*value)) {
                return;
            }
            text += *value;
        }
        out += text;
        return;
    }
    if (component.size() >= 5 && component.size() <= 7 && component[0] == 'u') {
        const std::optional<char32_t> value = platform::hexValue(component.substr(1));
        if (value && *value <= 0x10FFFF && !isSurrogate(*value)) {
            out += *value;
        }
    }
}

}  // namespace

std::optional<BaseEncoding> baseEncodingByName(std::string_view pdfName) {
    static constexpr std::pair<std::string_view, BaseEncoding> kNames[] = {
        {"StandardEncoding", BaseEncoding::Standard},
        {"WinAnsiEncoding", BaseEncoding::WinAnsi},
        {"MacRomanEncoding", BaseEncoding::MacRoman},
        {"MacExpertEncoding", BaseEncoding::MacExpert},
        {"PDFDocEncoding", BaseEncoding::PdfDoc},
    };
    for (const auto& [name, encoding] : kNames) {
        if (name == pdfName) {
            return encoding;
        }
    }
    return std::nullopt;
}

const std::array<std::u32string_view, 256>& baseEncodingTable(BaseEncoding encoding) {
    switch (encoding) {
        case BaseEncoding::Standard:
            return kStandardEncoding;
        case BaseEncoding::WinAnsi:
            return kWinAnsiEncoding;
        case BaseEncoding::MacRoman:
            return kMacRomanEncoding;
        case BaseEncoding::MacExpert:
            return kMacExpertEncoding;
        case BaseEncoding::Symbol:
            return kSymbolEncoding;
        case BaseEncoding::PdfDoc:
            return kPdfDocEncoding;
    }
    // A value outside the enumeration (a cast from a damaged byte) reads as Standard.
    return kStandardEncoding;
}

std::u32string unicodeOfGlyphName(std::string_view glyphName) {
    if (glyphName.size() > kMaxGlyphName) {
        return {};
    }
    glyphName = glyphName.substr(0, glyphName.find('.'));
    std::u32string text;
    while (!glyphName.empty()) {
        const std::size_t underscore = glyphName.find('_');
        appendComponent(glyphName.substr(0, underscore), text);
        if (underscore == std::string_view::npos) {
            break;
        }
        glyphName.remove_prefix(underscore + 1);
    }
    return text;
}

std::optional<std::array<std::u32string, 256>> type1BuiltinEncoding(std::string_view program) {
    const std::string_view clearText = program.substr(0, program.find("eexec"));
    const std::size_t at = clearText.find("/Encoding");
    if (at == std::string_view::npos)
        return std::nullopt;
    Lexer lexer(clearText.substr(at + 9));
    std::array<std::u32string, 256> texts;
    Token token = lexer.next();
    if (token.kind == TokenKind::Keyword && token.text == "StandardEncoding") {
        const auto& standard = baseEncodingTable(BaseEncoding::Standard);
        std::copy(standard.begin(), standard.end(), texts.begin());
        return texts;
    }
    bool named = false;
    for (; token.kind != TokenKind::End; token = lexer.next()) {
        if (token.kind == TokenKind::Keyword && token.text == "def")
            break;
        if (token.kind != TokenKind::Keyword || token.text != "dup")
            continue;
        const Token code = lexer.next();
        const Token name = lexer.next();
        token = lexer.next();
        unsigned value = 256;
        if (code.kind == TokenKind::Number)
            std::from_chars(code.text.data(), code.text.data() + code.text.size(), value);
        if (value < 256 && name.kind == TokenKind::Name && token.text == "put") {
            texts[value] = unicodeOfGlyphName(name.text.substr(1));
            named = true;
        }
    }
    if (!named)
        return std::nullopt;
    return texts;
}

}  // namespace ferretta::pdf
