#pragma once
// The text of a content stream: the string operands of the text-showing operators Tj, TJ, '
// and ", read as a token stream, each decoded by the font selected with Tf.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/engine/cid_map.h"

namespace ferretta::pdf {

// How the strings shown in a font are read.
enum class FontCoding : std::uint8_t {
    // Literal strings are single bytes of CP932 text, hexadecimal strings 2-byte CIDs: what
    // the engine has always done, for every font it cannot tell apart.
    Default,
    // Every string, literal or hexadecimal, is 2-byte big-endian CIDs of Adobe-Japan1 (a
    // Type0 font with the Identity-H or Identity-V encoding).
    TwoByteCids,
};

// Answers how the strings of a font resource are read, by its name in the page's /Font
// resources ("/F1"; #xx escapes already decoded).
class FontSource {
  public:
    virtual FontCoding codingOf(std::string_view fontName) = 0;

  protected:
    ~FontSource() = default;
};

// A PDF name with its #xx escapes decoded ("/F#31" is "/F1"); a # without two hex digits after
// it stays as it is.
std::string decodeNameEscapes(std::string_view name);

class ContentTextExtractor {
  public:
    explicit ContentTextExtractor(const CidTable& cidTable) : m_cidTable(cidTable) {}

    // Starts the content of a page: no current font and an empty graphics-state stack. The
    // page's streams are one content, so the font a stream selects holds in the next one. The
    // names given to Tf are looked up in `fonts` (kept until the next call); null reads every
    // string the Default way.
    void beginPage(FontSource* fonts);

    // The text (UTF-8) of a decoded content stream: the strings shown, in stream order, joined
    // without separators. Strings are read by the current font's coding (see FontCoding): Tf
    // selects a font, q saves it and Q restores it (past maxGraphicsDepth nested q, the
    // further saves keep nothing and their Q leave the font as it is); with no font or one the
    // FontSource cannot resolve, the Default way. Hexadecimal strings: one to three trailing
    // digits are ignored; literal strings read as CIDs: a trailing odd byte is ignored. NUL
    // characters of CP932 text and CR LF pairs are removed. Malformed strings (a hex string
    // with a non-hex digit) are skipped; inline image data is stepped over. Never fails itself
    // (only what the FontSource throws comes through); the result is at most a few times the
    // size of the data. The reference stays valid until the next call.
    const std::string& extract(std::string_view data);

    // How many malformed hex strings the last extract skipped.
    std::size_t malformedHexStrings() const { return m_malformed; }

    static constexpr std::size_t maxGraphicsDepth = 256;

  private:
    struct Operand {
        bool hex;
        std::size_t begin;
        std::size_t end;
    };

    void showOperands();
    void selectFont();
    void appendCids(std::string_view bigEndianPairs);
    void flushBytes();
    std::size_t readLiteral(std::string_view data, std::size_t i);
    std::size_t readHex(std::string_view data, std::size_t i);
    std::size_t skipInlineImage(std::string_view data, std::size_t i);

    const CidTable& m_cidTable;
    std::string m_text;
    std::string m_operandBytes;       // literal bytes and hex digits of the pending operands
    std::vector<Operand> m_operands;  // strings since the last operator
    std::string m_bytes;              // CP932 bytes not yet converted
    std::size_t m_malformed = 0;

    FontSource* m_fonts = nullptr;
    std::string_view m_nameOperand;  // the last name since the last operator
    FontCoding m_font = FontCoding::Default;
    std::vector<FontCoding> m_savedFonts;  // q ... Q
    std::size_t m_unsavedDepth = 0;        // q past maxGraphicsDepth
};

}  // namespace ferretta::pdf
