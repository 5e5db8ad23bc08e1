#include "search/ansi_fold_table.h"

#include <array>
#include <cstring>
#include <memory>

#include "platform/cp932.h"
#include "platform/width_fold.h"

namespace ferretta::search {
namespace {

using platform::isCp932LeadByte;

constexpr bool isTrailByte(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

struct Folded {
    std::uint8_t length = 0;
    std::uint8_t reencoded = 0;
    std::array<char, 2> bytes{};
    char16_t decoded = 0;  // the character itself, as decoding the text gives it
};

class FoldTables {
  public:
    FoldTables() {
        for (int b = 0; b < 256; ++b) {
            std::string one(1, static_cast<char>(b));
            if (isCp932LeadByte(static_cast<unsigned char>(b))) {
                // A lead byte not followed by a trail byte decodes on its own; take the
                // character the decoder makes of it when something else follows.
                one += '\n';
            }
            m_single[b] = make(one, true);
        }
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (!isCp932LeadByte(static_cast<unsigned char>(lead)))
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                if (!isTrailByte(static_cast<unsigned char>(trail)))
                    continue;
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                Folded f = make(std::string_view(pair, 2), false);
                m_double[(lead << 8) | trail] = f;
            }
        }
        // A lead byte at the very end of a text decodes to '?'.
        m_leadAtEnd = make(std::string_view("?"), true);

        // One flat table for the folding loop: a character and the byte after it index it
        // without a branch. Pairs use lead << 8 | trail (>= 0x8100); a character of one byte
        // uses its own value; a lead byte before a line end uses 0x100 + the byte.
        for (int b = 0; b < 256; ++b) {
            m_flat[b] = b < 0x80 ? asciiEntry(b) : m_single[b];
            m_flat[0x100 + b] = m_leadAtEnd;
        }
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            for (int trail = 0; trail < 256; ++trail) {
                if (isCp932LeadByte(static_cast<unsigned char>(lead)) &&
                    isTrailByte(static_cast<unsigned char>(trail))) {
                    m_flat[(lead << 8) | trail] = m_double[(lead << 8) | trail];
                }
            }
        }
    }

    const Folded* flat() const { return m_flat.data(); }

    const Folded& single(unsigned char b) const { return m_single[b]; }
    const Folded& pair(unsigned char lead, unsigned char trail) const {
        return m_double[(lead << 8) | trail];
    }
    const Folded& leadAtEnd() const { return m_leadAtEnd; }

  private:
    // Decodes the bytes, keeps the first character, folds and re-encodes it.
    static Folded make(std::string_view bytes, bool firstCharOnly) {
        std::u16string decoded = platform::cp932ToUtf16(bytes);
        if (firstCharOnly || decoded.size() > 1)
            decoded.resize(1);
        Folded f;
        f.decoded = decoded.empty() ? u'?' : decoded[0];
        f.reencoded = static_cast<std::uint8_t>(platform::cp932Length(decoded));
        std::string folded = platform::utf16ToCp932(platform::foldForMatch(decoded));
        // Folding never lengthens a character's CP932 form; cut defensively so the invariant
        // "output no longer than input" cannot be broken by a table change.
        std::size_t limit = firstCharOnly ? 1 : 2;
        if (folded.size() > limit)
            folded.resize(limit);
        f.length = static_cast<std::uint8_t>(folded.size());
        std::memcpy(f.bytes.data(), folded.data(), folded.size());
        return f;
    }

    static Folded asciiEntry(int b) {
        Folded f;
        f.length = 1;
        f.reencoded = 1;
        f.bytes[0] = static_cast<char>((b >= 'a' && b <= 'z') ? b - 0x20 : b);
        f.decoded = static_cast<char16_t>(b);
        return f;
    }

    std::array<Folded, 65536> m_flat{};
    std::array<Folded, 256> m_single{};
    std::array<Folded, 65536> m_double{};
    Folded m_leadAtEnd{};
};

// The flat-table index of the character starting with byte b, followed by byte c; `pair` says
// whether the two bytes are one character. Arithmetic only: no branch on the kind of
// character, so the processor never mispredicts on Japanese text mixed with ASCII.
inline unsigned flatIndex(unsigned b, unsigned c, unsigned& pair) {
    const unsigned lead = static_cast<unsigned>((b - 0x81u < 0x1Fu) | (b - 0xE0u < 0x1Du));
    const unsigned trail = static_cast<unsigned>((c - 0x40u < 0x3Fu) | (c - 0x80u < 0x7Du));
    const unsigned lineEnd = static_cast<unsigned>((c == '\r') | (c == '\n'));
    pair = lead & trail;
    return pair ? ((b << 8) | c) : (b | ((lead & lineEnd) << 8));
}

const FoldTables& tables() {
    static const auto instance = std::make_unique<FoldTables>();
    return *instance;
}

}  // namespace

void foldCp932(std::string_view in, std::string& out, bool textEndsHere) {
    const Folded* const flat = tables().flat();
    out.resize(in.size() + 1);  // one byte of room: every character stores two bytes
    const auto* src = reinterpret_cast<const unsigned char*>(in.data());
    char* dst = out.data();
    const std::size_t n = in.size();
    std::size_t i = 0;
    // How far to step is worked out with arithmetic; the table lookup is off that dependency
    // chain.
    if (n >= 2) {
        for (; i + 1 < n;) {
            unsigned pair = 0;
            const Folded& f = flat[flatIndex(src[i], src[i + 1], pair)];
            std::memcpy(dst, f.bytes.data(), 2);
            dst += f.length;
            i += 1 + pair;
        }
    }
    if (i < n) {
        // The last byte: a lead byte there ends the text unless the text goes on elsewhere.
        const unsigned b = src[i];
        const bool lead = isCp932LeadByte(static_cast<unsigned char>(b));
        const Folded& f = lead ? (textEndsHere ? tables().leadAtEnd()
                                               : tables().single(static_cast<unsigned char>(b)))
                               : flat[b];
        *dst++ = f.bytes[0];
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
}

void decodeCp932(std::string_view in, std::u16string& out) {
    const Folded* const flat = tables().flat();
    out.resize(in.size());
    const auto* src = reinterpret_cast<const unsigned char*>(in.data());
    char16_t* dst = out.data();
    const std::size_t n = in.size();
    std::size_t i = 0;
    for (; i + 1 < n;) {
        unsigned pair = 0;
        *dst++ = flat[flatIndex(src[i], src[i + 1], pair)].decoded;
        i += 1 + pair;
    }
    if (i < n) {
        const unsigned b = src[i];
        *dst++ = isCp932LeadByte(static_cast<unsigned char>(b)) ? tables().leadAtEnd().decoded
                                                                : flat[b].decoded;
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
}

AnsiCharInfo cp932CharAt(std::string_view text, std::size_t at) {
    const FoldTables& t = tables();
    auto b = static_cast<unsigned char>(text[at]);
    if (b < 0x80)
        return {1, 1};
    if (isCp932LeadByte(b)) {
        if (at + 1 < text.size() && isTrailByte(static_cast<unsigned char>(text[at + 1]))) {
            return {2, t.pair(b, static_cast<unsigned char>(text[at + 1])).reencoded};
        }
        return {1, at + 1 < text.size() ? t.single(b).reencoded : t.leadAtEnd().reencoded};
    }
    return {1, t.single(b).reencoded};
}

}  // namespace ferretta::search
