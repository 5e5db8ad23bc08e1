#pragma once
// The text of a content stream: the string operands of the text-showing operators Tj, TJ, '
// and ", read as a token stream, each decoded by the font selected with Tf. Where text is
// invisible (an OCR layer over a scanned page), the text positions are followed too.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/engine/fonts/cid_map.h"
#include "pdf/engine/fonts/cmap.h"
#include "pdf/engine/operators.h"

namespace ferretta::pdf {

// How the strings shown in one font are read.
struct FontDecoder {
    enum class Kind : std::uint8_t {
        // Literal strings are single bytes of CP932 text, hexadecimal strings 2-byte CIDs of
        // Adobe-Japan1: what the engine has always done, for every font it cannot tell apart.
        Default,
        // A font of one-byte codes (Type1, TrueType, Type3): each byte through the ToUnicode
        // CMap, else through `codeText`.
        Simple,
        // A Type0 font: codes cut by `encoding` (null: Identity, 2-byte codes that are their
        // CIDs), each through the ToUnicode CMap, else (Adobe-Japan1 fonts) its CID through
        // the CID table.
        Composite,
    };
    Kind kind = Kind::Default;
    CMapPtr toUnicode;
    CMapPtr encoding;
    bool japan1 = false;
    std::array<std::string, 256> codeText;  // Simple: UTF-8 text of each code, "" for none

    // Glyph widths in thousandths of text space (§9.2.4): a simple font's by code, a composite
    // font's by CID (§9.7.4.3: /W ranges, /DW for the rest).
    struct WidthRange {
        std::uint32_t first;
        std::uint32_t last;
        float width;
    };
    std::array<float, 256> codeWidths{};  // Simple
    std::vector<WidthRange> cidWidths;    // Composite, sorted by `first`
    float defaultWidth = 1000;            // Composite: /DW
    float widthOfCid(std::uint32_t cid) const;
};

// A form XObject's content, as a FontSource found it.
struct FormXObject {
    std::uint64_t id = 0;  // the object, to see a form that shows itself
    std::string content;   // decoded
    int scope = 0;         // the resources its names are looked up in
};

// Answers the fonts and forms that a content stream names, by their names in the resources
// ("/F1"; #xx escapes already decoded). Scope 0 is the page's resources; a form's content
// names things in the scope its FormXObject gives. Answers stay valid until the page ends.
class FontSource {
  public:
    // Null reads the font's strings the Default way.
    virtual const FontDecoder* fontOf(int scope, std::string_view name) = 0;
    // Null when the name is no form XObject (an image) or the form cannot be read.
    virtual const FormXObject* formOf(int scope, std::string_view name) = 0;

  protected:
    ~FontSource() = default;
};

class ContentTextExtractor {
  public:
    explicit ContentTextExtractor(const CidTable& cidTable) : m_cidTable(cidTable) {}

    // Starts the content of a page: no current font and an empty graphics-state stack. The
    // page's streams are one content, so the font a stream selects holds in the next one. The
    // names given to Tf are looked up in `fonts` (kept until the next call); null reads every
    // string the Default way.
    void beginPage(FontSource* fonts);

    // The text (UTF-8) of a decoded content stream: the strings shown, in stream order, joined
    // without separators. Strings are read by the current font (see FontDecoder): Tf selects
    // a font, q saves it and Q restores it (past maxGraphicsDepth nested q, the further saves
    // keep nothing and their Q leave the font as it is); with no font or one the FontSource
    // cannot resolve, the Default way. "/Name Do" of a form XObject reads the form's content
    // in place, as if between q and Q, its names looked up in the form's scope; a form that
    // is already being read (one showing itself), forms nested deeper than maxFormDepth, and
    // the forms past maxFormsPerPage or maxFormBytesPerPage on one page are skipped.
    // Hexadecimal strings in the Default way: one to three trailing digits are ignored; codes
    // cut short at a string's end are ignored. A string keeps its first maxStringBytes bytes.
    // NUL characters and CR LF pairs are removed, and look-alike characters (Kangxi radicals,
    // CJK compatibility ideographs) become the ideographs they stand for.
    //
    // OCR layers: in invisible text (render modes 3 and 7), OCR programs show each "word" with
    // a blank after it and place the next one with Td, also inside a Japanese word ("カ" "タカ"
    // "ナ"). Such a blank between two CJK characters is dropped unless the next text starts on
    // the same line more than one em (the font size) beyond where the blank ends: a gap that
    // far separates cells or columns, and the blank stays. Glyph advances (§9.4.4) are followed
    // for that only while text is invisible. Malformed strings (a hex string with a non-hex digit)
    // are skipped; inline image data is stepped over. Never fails itself (only what the FontSource
    // throws comes through); the result is at most a few times the size of the data and of the
    // forms read, and never beyond maxTextBytes (see the limits below). The reference stays valid
    // until the next call.
    const std::string& extract(std::string_view data);

    // How many malformed hex strings the last extract skipped.
    std::size_t malformedHexStrings() const { return m_malformed; }
    // Whether the last extract met one of the limits above (and dropped what lay beyond).
    bool cutShort() const { return m_cut; }

    static constexpr std::size_t maxGraphicsDepth = 256;
    static constexpr int maxFormDepth = 8;
    static constexpr std::size_t maxFormsPerPage = 4096;
    static constexpr std::size_t maxFormBytesPerPage = std::size_t{16} << 20;
    static constexpr std::size_t maxStringBytes = std::size_t{1} << 20;
    // Operands waiting for their operator, by number and by their strings' bytes together: a
    // stream that piles up more is junk, and what piled up is dropped.
    static constexpr std::size_t maxPendingOperands = 65536;
    static constexpr std::size_t maxPendingBytes = std::size_t{4} << 20;
    // The text of one content stream (with the forms it shows) is cut here.
    static constexpr std::size_t maxTextBytes = std::size_t{16} << 20;

  private:
    struct Operand {
        enum class Kind : std::uint8_t { Literal, Hex, Number };
        Kind kind;
        bool oddDigits;     // a hex string's last byte is half a byte
        std::size_t begin;  // strings: their bytes in m_operandBytes
        std::size_t end;
        std::string_view number;
    };
    // §9.3: the text state, part of the graphics state (saved by q, restored by Q).
    struct TextState {
        const FontDecoder* font = nullptr;
        double fontSize = 0;         // Tfs
        double charSpacing = 0;      // Tc
        double wordSpacing = 0;      // Tw
        double horizontalScale = 1;  // Th (Tz / 100)
        double leading = 0;          // TL
        int renderMode = 0;          // Tr
    };
    // [a b 0 / c d 0 / e f 1]
    struct Matrix {
        double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    };
    // A blank held back after invisible CJK text: where the text stood after it.
    struct PendingBlank {
        bool active = false;
        Matrix at;
        double fontSize = 0;
    };

    void run(std::string_view data, int scope, int depth);
    void act(Operator op, int scope, int depth);
    void showOperands();
    void showDefault(const Operand& operand, std::string_view bytes);
    void showComposite(const FontDecoder& font, std::string_view bytes);
    void showSimple(const FontDecoder& font, std::string_view bytes);
    void selectFont(int scope);
    void showForm(int scope, int depth);
    void flushBytes();
    void unifyLookalikes();
    bool invisible() const { return m_state.renderMode == 3 || m_state.renderMode == 7; }
    double number(std::size_t fromEnd) const;
    void moveText(double tx, double ty);
    void advance(double tx);
    void holdBlank();
    void settleBlank(std::size_t textStart, const Matrix& start, bool invisibleText);
    void releaseBlank();

    const CidTable& m_cidTable;
    std::string m_text;
    std::string m_operandBytes;       // literal bytes and hex digits of the pending operands
    std::vector<Operand> m_operands;  // strings since the last operator
    std::string m_bytes;              // CP932 bytes not yet converted
    std::size_t m_malformed = 0;
    bool m_cut = false;

    FontSource* m_fonts = nullptr;
    std::string_view m_nameOperand;  // the last name since the last operator
    TextState m_state;
    std::vector<TextState> m_savedStates;  // q ... Q
    std::size_t m_unsavedDepth = 0;        // q past maxGraphicsDepth
    Matrix m_textMatrix;                   // Tm
    Matrix m_lineMatrix;                   // Tlm
    double m_width = 0;  // while a string is shown invisibly: its glyphs' widths and spacing
    PendingBlank m_blank;
    std::vector<std::uint64_t> m_openForms;  // forms being read, outermost first
    std::size_t m_formsOnPage = 0;
    std::size_t m_formBytesOnPage = 0;
};

}  // namespace ferretta::pdf
