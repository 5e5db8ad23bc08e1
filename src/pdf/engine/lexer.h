#pragma once
// The one lexer of PDF syntax, used by the object parser (through PdfReader), the content
// streams and the CMaps. It cuts bytes held in memory into tokens; the reader feeds it windows
// of the file and asks again with a larger window when a token runs into the window's end.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ferretta::pdf {

// ISO 32000-2 §7.2.3: the white-space characters (Table 1: NUL, HT, LF, FF, CR, SP) and the
// delimiters (Table 2: ( ) < > [ ] { } / %); every other byte is regular.
enum class CharClass : std::uint8_t { Regular, WhiteSpace, Delimiter };

namespace detail {
constexpr std::array<CharClass, 256> makeCharClasses(bool designSeparators) {
    std::array<CharClass, 256> classes{};
    for (const unsigned char c : std::string_view("()<>[]{}/%"))
        classes[c] = CharClass::Delimiter;
    for (const unsigned char c : {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20}) {
        if (!designSeparators || c == 0x0A || c == 0x0D || c == 0x20)
            classes[c] = CharClass::WhiteSpace;
    }
    return classes;
}
}  // namespace detail

inline constexpr std::array<CharClass, 256> isoCharClasses = detail::makeCharClasses(false);

constexpr bool isPdfWhiteSpace(unsigned char c) {
    return isoCharClasses[c] == CharClass::WhiteSpace;
}

// Which bytes separate tokens.
enum class Separators : std::uint8_t {
    Iso,  // ISO 32000's white-space set
    // Blank, CR and LF only; tab, form feed and NUL are then ordinary token bytes. The
    // original reader's scans — the cross-reference rows, the object headers, the catalog's
    // /Pages, the page count, /Kids, /Contents and the object's /Type — were written for these
    // separators, and p2tGetToken keeps them so that those scans take a file apart exactly as
    // they always have: "/Count<TAB>3" is one token there, and a page tree written that way
    // stays as unreadable as it was. Values, content streams and CMaps use the ISO set.
    Design,
};

enum class TokenKind : std::uint8_t {
    End,            // no token before the end of the data
    Number,         // a regular run starting with a digit, sign or point (§7.3.3)
    Keyword,        // any other regular run: operators, true, false, null, R, obj ...
    Name,           // "/..." with its slash, #xx escapes not decoded (§7.3.5)
    LiteralString,  // "(...)" (§7.3.4.2)
    HexString,      // "<...>" (§7.3.4.3)
    ArrayOpen,
    ArrayClose,
    DictOpen,
    DictClose,
    ProcOpen,  // "{" and "}": PostScript calculator functions, CMap procedures
    ProcClose,
    Stray,  // a ")" or ">" standing alone
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::string_view text;  // the token's bytes in the data (strings with their delimiters)
    // Strings: a hexadecimal string held a character that is no hex digit (it adds no bytes),
    // or a string was not closed before the end of the data (a literal one keeps what it held).
    bool malformed = false;
    bool oddHexDigits = false;  // a hex string with an odd number of digits (last one padded 0)
    bool cut = false;           // string bytes beyond the limit were dropped
};

class Lexer {
  public:
    explicit Lexer(std::string_view data, Separators separators = Separators::Iso);

    // The next token from the position. White space and comments (§7.2.4: "%" to the end of
    // the line) are skipped first. A regular token or a keyword ends at white space or a
    // delimiter; one white-space byte after it is consumed (CR LF as one), so that after
    // "stream" the position is on the stream's first byte (§7.3.8.1). Strings are decoded
    // into `strings` when it is not null (appended; escapes, octal codes, line ends and the
    // odd last hex digit read as §7.3.4 says), at most `stringLimit` bytes of each. Never
    // fails: a damaged string gives what it holds, marked malformed.
    Token next(std::string* strings = nullptr);

    std::size_t position() const { return m_at; }
    void seek(std::size_t at) { m_at = at < m_data.size() ? at : m_data.size(); }
    std::string_view data() const { return m_data; }

    // The last token (or the white space before the End) touched the end of the data: with
    // more bytes after it, it might have come out longer.
    bool reachedEnd() const { return m_reachedEnd; }

    void setStringLimit(std::size_t bytes) { m_stringLimit = bytes; }

    // Skips an inline image's data after its "ID" keyword (the lexer stands just past the
    // keyword's one white-space byte): the data runs to "EI" standing alone between white
    // space (§8.9.7), and may hold any bytes, parentheses included.
    void skipInlineImageData();

  private:
    void skipWhiteSpace();
    std::size_t endOfRegular(std::size_t from) const;
    void consumeSeparator();
    void readLiteral(Token& token, std::string* strings);
    void readHex(Token& token, std::string* strings);

    std::string_view m_data;
    const std::array<CharClass, 256>& m_classes;
    std::size_t m_at = 0;
    std::size_t m_stringLimit = SIZE_MAX;
    bool m_reachedEnd = false;
};

// A PDF name with its #xx escapes decoded ("/F#31" is "/F1", §7.3.5); a # without two hex
// digits after it stays as it is.
std::string decodeNameEscapes(std::string_view name);

}  // namespace ferretta::pdf
