#include "platform/unicode.h"

#include <cstdint>
#include <cstring>

namespace ferretta::platform {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Length of the ASCII run at the start of [p, end), eight bytes at a time: most text the
// search reads is mostly ASCII.
std::size_t asciiRun(const unsigned char* p, const unsigned char* end) {
    const unsigned char* const start = p;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if ((word & kHighBits) != 0) {
            break;
        }
        p += 8;
    }
    while (p != end && *p < 0x80) {
        ++p;
    }
    return static_cast<std::size_t>(p - start);
}

constexpr bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// The bytes a lead byte announces (2-4), 0 for a byte that cannot start a sequence. C0, C1
// and F5-FF can never start a well-formed sequence.
constexpr int sequenceLength(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF) {
        return 2;
    }
    if (b >= 0xE0 && b <= 0xEF) {
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        return 4;
    }
    return 0;
}

// The allowed range of the byte after a lead byte: tighter than 0x80-0xBF where the plain
// range would allow an over-long form, a surrogate or a code point past U+10FFFF.
constexpr bool secondByteFits(unsigned char lead, unsigned char b) {
    switch (lead) {
        case 0xE0:
            return b >= 0xA0 && b <= 0xBF;
        case 0xED:
            return b >= 0x80 && b <= 0x9F;
        case 0xF0:
            return b >= 0x90 && b <= 0xBF;
        case 0xF4:
            return b >= 0x80 && b <= 0x8F;
        default:
            return isContinuation(b);
    }
}

struct Sequence {
    int length;      // bytes consumed
    char32_t value;  // the code point, valid only when ok
    bool ok;
};

// Reads one non-ASCII sequence at p (p < end). A bad sequence consumes its lead byte and the
// continuation bytes that follow it (at most length - 1), each of which the caller turns into
// one U+FFFD; the first byte that does not fit is left for the next read.
Sequence readSequence(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = *p;
    const int length = sequenceLength(lead);
    if (length == 0) {
        return {1, 0, false};
    }
    int have = 1;
    bool ok = true;
    while (have < length && p + have != end && isContinuation(p[have])) {
        if (have == 1 && !secondByteFits(lead, p[1])) {
            ok = false;
        }
        ++have;
    }
    if (!ok || have < length) {
        return {have, 0, false};
    }
    char32_t value = lead & (0xFF >> (length + 1));
    for (int i = 1; i < length; ++i) {
        value = (value << 6) | (p[i] & 0x3F);
    }
    return {length, value, true};
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    utf8ToUtf16(text, out);
    return out;
}

void utf8ToUtf16(std::string_view text, std::u16string& out) {
    // Never more units than bytes.
    out.resize(text.size());
    char16_t* dst = out.data();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = p + text.size();
    while (p != end) {
        if (*p < 0x80) {
            const std::size_t run = asciiRun(p, end);
            for (std::size_t i = 0; i < run; ++i) {
                dst[i] = p[i];
            }
            dst += run;
            p += run;
            continue;
        }
        // The common well-formed two- and three-byte forms first (E0 and ED need the checks
        // of readSequence against over-long forms and surrogates).
        const unsigned char lead = *p;
        if (lead >= 0xC2 && lead <= 0xDF && end - p >= 2 && isContinuation(p[1])) {
            *dst++ = static_cast<char16_t>((lead & 0x1F) << 6 | (p[1] & 0x3F));
            p += 2;
            continue;
        }
        if (lead >= 0xE1 && lead <= 0xEF && lead != 0xED && end - p >= 3 && isContinuation(p[1]) &&
            isContinuation(p[2])) {
            *dst++ =
                static_cast<char16_t>((lead & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
            p += 3;
            continue;
        }
        const Sequence seq = readSequence(p, end);
        p += seq.length;
        if (!seq.ok) {
            for (int i = 0; i < seq.length; ++i) {
                *dst++ = kReplacement;
            }
        } else if (seq.value < 0x10000) {
            *dst++ = static_cast<char16_t>(seq.value);
        } else {
            const char32_t v = seq.value - 0x10000;
            *dst++ = static_cast<char16_t>(0xD800 + (v >> 10));
            *dst++ = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        }
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    // At most three bytes per unit (a surrogate pair: four bytes for two units).
    out.resize(text.size() * 3);
    char* dst = out.data();
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        char32_t ch = text[i];
        if (ch < 0x80) {
            *dst++ = static_cast<char>(ch);
            continue;
        }
        if (ch >= 0xD800 && ch <= 0xDFFF) {
            if (ch <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                ch = 0x10000 + ((ch - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else {
                ch = kReplacement;
            }
        }
        if (ch < 0x800) {
            *dst++ = static_cast<char>(0xC0 | (ch >> 6));
        } else if (ch < 0x10000) {
            *dst++ = static_cast<char>(0xE0 | (ch >> 12));
            *dst++ = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        } else {
            *dst++ = static_cast<char>(0xF0 | (ch >> 18));
            *dst++ = static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
            *dst++ = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        }
        *dst++ = static_cast<char>(0x80 | (ch & 0x3F));
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

bool isValidUtf8(std::string_view bytes, bool allowTruncatedEnd) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* const end = p + bytes.size();
    while (p != end) {
        p += asciiRun(p, end);
        if (p == end) {
            return true;
        }
        const Sequence seq = readSequence(p, end);
        if (!seq.ok) {
            // Only a sequence that is good so far and stops at the very end may pass.
            const bool cutOff = p + seq.length == end && sequenceLength(*p) > seq.length &&
                                (seq.length == 1 || secondByteFits(*p, p[1]));
            return allowTruncatedEnd && cutOff;
        }
        p += seq.length;
    }
    return true;
}

}  // namespace ferretta::platform
