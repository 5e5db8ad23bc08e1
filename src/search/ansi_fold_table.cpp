#include "search/ansi_fold_table.h"

#include <array>
#include <cstring>
#include <memory>

#include "platform/cp932.h"
#include "platform/width_fold.h"

namespace ferretta::search {
namespace {

using platform::isCp932LeadByte;

constexpr bool isTrailByte(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

struct Folded {
    std::uint8_t length = 0;
    std::uint8_t reencoded = 0;
    std::array<char, 2> bytes{};
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
            if (!isCp932LeadByte(static_cast<unsigned char>(lead))) continue;
            bool identity = true;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                if (!isTrailByte(static_cast<unsigned char>(trail))) continue;
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                Folded f = make(std::string_view(pair, 2), false);
                m_double[(lead << 8) | trail] = f;
                identity = identity && f.length == 2 && f.bytes[0] == pair[0] && f.bytes[1] == pair[1];
            }
            m_identityLead[lead] = identity;
        }
        // A lead byte at the very end of a text decodes to '?'.
        m_leadAtEnd = make(std::string_view("?"), true);
    }

    const Folded& single(unsigned char b) const { return m_single[b]; }
    const Folded& pair(unsigned char lead, unsigned char trail) const { return m_double[(lead << 8) | trail]; }
    bool identityLead(unsigned char lead) const { return m_identityLead[lead]; }
    const Folded& leadAtEnd() const { return m_leadAtEnd; }

private:
    // Decodes the bytes, keeps the first character, folds and re-encodes it.
    static Folded make(std::string_view bytes, bool firstCharOnly) {
        std::u16string decoded = platform::cp932ToUtf16(bytes);
        if (firstCharOnly || decoded.size() > 1) decoded.resize(1);
        Folded f;
        f.reencoded = static_cast<std::uint8_t>(platform::cp932Length(decoded));
        std::string folded = platform::utf16ToCp932(platform::foldForMatch(decoded));
        // Folding never lengthens a character's CP932 form; cut defensively so the invariant
        // "output no longer than input" cannot be broken by a table change.
        std::size_t limit = firstCharOnly ? 1 : 2;
        if (folded.size() > limit) folded.resize(limit);
        f.length = static_cast<std::uint8_t>(folded.size());
        std::memcpy(f.bytes.data(), folded.data(), folded.size());
        return f;
    }

    std::array<Folded, 256> m_single{};
    std::array<Folded, 65536> m_double{};
    std::array<bool, 256> m_identityLead{};
    Folded m_leadAtEnd{};
};

const FoldTables& tables() {
    static const auto instance = std::make_unique<FoldTables>();
    return *instance;
}

}  // namespace

void foldCp932(std::string_view in, std::string& out, bool textEndsHere) {
    const FoldTables& t = tables();
    out.resize(in.size());
    const auto* src = reinterpret_cast<const unsigned char*>(in.data());
    char* dst = out.data();
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned char b = src[i];
        if (b < 0x80) {
            *dst++ = (b >= 'a' && b <= 'z') ? static_cast<char>(b - 0x20) : static_cast<char>(b);
            ++i;
        } else if (isCp932LeadByte(b)) {
            if (i + 1 < n && isTrailByte(src[i + 1])) {
                if (t.identityLead(b)) {
                    dst[0] = static_cast<char>(b);
                    dst[1] = static_cast<char>(src[i + 1]);
                    dst += 2;
                } else {
                    const Folded& f = t.pair(b, src[i + 1]);
                    std::memcpy(dst, f.bytes.data(), 2);
                    dst += f.length;
                }
                i += 2;
            } else {
                // Lines are decoded one by one, so a lead byte before a line end is a lead byte
                // at the end of its text.
                const bool atLineEnd = (i + 1 >= n && textEndsHere) || (i + 1 < n && (src[i + 1] == '\r' || src[i + 1] == '\n'));
                const Folded& f = atLineEnd ? t.leadAtEnd() : t.single(b);
                *dst++ = f.bytes[0];
                ++i;
            }
        } else {
            *dst++ = t.single(b).bytes[0];
            ++i;
        }
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
}

AnsiCharInfo cp932CharAt(std::string_view text, std::size_t at) {
    const FoldTables& t = tables();
    auto b = static_cast<unsigned char>(text[at]);
    if (b < 0x80) return {1, 1};
    if (isCp932LeadByte(b)) {
        if (at + 1 < text.size() && isTrailByte(static_cast<unsigned char>(text[at + 1]))) {
            return {2, t.pair(b, static_cast<unsigned char>(text[at + 1])).reencoded};
        }
        return {1, at + 1 < text.size() ? t.single(b).reencoded : t.leadAtEnd().reencoded};
    }
    return {1, t.single(b).reencoded};
}

}  // namespace ferretta::search
