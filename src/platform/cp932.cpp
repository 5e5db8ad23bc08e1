#include "platform/cp932.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "platform/unicode.h"

namespace ferretta::platform {
namespace {

#include "platform/cp932_tables.inc"

constexpr std::uint16_t kNoCode = 0xFFFF;
constexpr char16_t kUndefinedDoubleByte = u'\u30FB';  // What Windows shows for such a code.

constexpr bool isTrailByte(unsigned char b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// Index into a lead byte's row of kDoubleByte; the row skips 0x7F.
constexpr int trailIndex(unsigned char b) {
    return b < 0x7F ? b - 0x40 : b - 0x41;
}

std::uint16_t bestFitCode(char16_t ch) {
    // Most characters without a code of their own lie above every best-fit one.
    if (ch > std::prev(std::end(kBestFit))->ch)
        return kNoCode;
    const auto* const end = std::end(kBestFit);
    const auto* it =
        std::lower_bound(std::begin(kBestFit), end, ch,
                         [](const BestFit& entry, char16_t c) { return entry.ch < c; });
    return it != end && it->ch == ch ? it->code : kNoCode;
}

inline std::uint16_t encodeUnit(char16_t ch, Cp932Fallback fallback) {
    const std::uint16_t code = kEncodePage[kEncodePageIndex[ch >> 8]][ch & 0xFF];
    return code == kNoCode && fallback == Cp932Fallback::BestFit ? bestFitCode(ch) : code;
}

// The row of kWrittenCode for a lead byte, or -1 when none of its codes has a duplicate.
int duplicateRow(unsigned char lead) {
    for (std::size_t i = 0; i < std::size(kDuplicateLeads); ++i) {
        if (kDuplicateLeads[i] == lead)
            return static_cast<int>(i);
    }
    return -1;
}

constexpr bool isHighSurrogate(char16_t ch) {
    return ch >= 0xD800 && ch <= 0xDBFF;
}
constexpr bool isLowSurrogate(char16_t ch) {
    return ch >= 0xDC00 && ch <= 0xDFFF;
}

}  // namespace

char16_t cp932CodeToUnicode(std::uint16_t code) {
    if (code < 0x100) {
        return static_cast<char16_t>(kSingleByte[code]);
    }
    const int row = kLeadRow[code >> 8];
    const auto trail = static_cast<unsigned char>(code & 0xFF);
    if (row < 0 || !isTrailByte(trail)) {
        return static_cast<char16_t>(kNoCode);
    }
    return static_cast<char16_t>(kDoubleByte[row][trailIndex(trail)]);
}

std::uint16_t unicodeToCp932Code(char16_t ch, Cp932Fallback fallback) {
    return encodeUnit(ch, fallback);
}

std::uint16_t cp932WrittenCode(std::uint16_t code) {
    const int row = duplicateRow(static_cast<unsigned char>(code >> 8));
    const auto trail = static_cast<unsigned char>(code & 0xFF);
    if (row < 0 || !isTrailByte(trail))
        return code;
    const std::uint16_t written = kWrittenCode[row][trailIndex(trail)];
    return written != 0 ? written : code;
}

bool cp932CodeHasDuplicates(std::uint16_t code) {
    static const std::vector<bool> written = [] {
        std::vector<bool> set(0x10000, false);
        for (const auto& row : kWrittenCode) {
            for (const std::uint16_t target : row) {
                if (target != 0)
                    set[target] = true;
            }
        }
        return set;
    }();
    return written[code];
}

bool normalizeCp932Duplicates(std::string_view text, std::string& out) {
    static const auto isDuplicateLead = [] {
        std::array<bool, 256> table{};
        for (const unsigned char lead : kDuplicateLeads)
            table[lead] = true;
        return table;
    }();
    // Most texts hold none of the few lead bytes in question: find that out without walking
    // the characters.
    const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t first = 0;
    while (first < n && !isDuplicateLead[bytes[first]])
        ++first;
    if (first == n)
        return false;
    bool changed = false;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char b = bytes[i];
        if (kLeadRow[b] < 0 || i + 1 == n || !isTrailByte(bytes[i + 1]))
            continue;
        if (isDuplicateLead[b]) {
            const auto code = static_cast<std::uint16_t>(b << 8 | bytes[i + 1]);
            const std::uint16_t written = cp932WrittenCode(code);
            if (written != code) {
                if (!changed)
                    out.assign(text);
                changed = true;
                out[i] = static_cast<char>(written >> 8);
                out[i + 1] = static_cast<char>(written & 0xFF);
            }
        }
        ++i;
    }
    return changed;
}

std::u16string cp932ToUtf16(std::string_view bytes) {
    std::u16string out;
    // Never more units than bytes; one allocation for the whole text.
    out.resize(bytes.size());
    char16_t* dst = out.data();
    const auto* src = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* const end = src + bytes.size();
    while (src != end) {
        // Eight ASCII bytes at a time: most lines are mostly ASCII.
        while (end - src >= 8) {
            std::uint64_t word;
            std::memcpy(&word, src, sizeof word);
            if ((word & 0x8080808080808080ULL) != 0) {
                break;
            }
            for (int i = 0; i < 8; ++i) {
                dst[i] = src[i];
            }
            src += 8;
            dst += 8;
        }
        if (src == end) {
            break;
        }
        const unsigned char b = *src++;
        if (b < 0x80) {
            *dst++ = b;
            continue;
        }
        const int row = kLeadRow[b];
        if (row < 0) {
            *dst++ = static_cast<char16_t>(kSingleByte[b]);
            continue;
        }
        if (src == end) {
            *dst++ = u'?';
            break;
        }
        if (!isTrailByte(*src)) {
            // Windows does not join a lead byte with a byte that cannot be a trail byte: the
            // lead byte alone is an undefined character and the next byte stands on its own
            // (so a line break or quote after a stray lead byte survives).
            *dst++ = kUndefinedDoubleByte;
            continue;
        }
        const std::uint16_t ch = kDoubleByte[row][trailIndex(*src++)];
        *dst++ = ch == kNoCode ? kUndefinedDoubleByte : static_cast<char16_t>(ch);
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

std::string cp932ToUtf8(std::string_view bytes) {
    // Straight to UTF-8, measuring first: a very long line must not cost a UTF-16 copy or a
    // worst-case-sized buffer on top of its own size.
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* const end = begin + bytes.size();
    auto next = [end](const unsigned char*& src) -> char16_t {
        const unsigned char b = *src++;
        if (b < 0x80)
            return b;
        const int row = kLeadRow[b];
        if (row < 0)
            return static_cast<char16_t>(kSingleByte[b]);
        if (src == end)
            return u'?';
        if (!isTrailByte(*src))
            return kUndefinedDoubleByte;
        const std::uint16_t ch = kDoubleByte[row][trailIndex(*src++)];
        return ch == kNoCode ? kUndefinedDoubleByte : static_cast<char16_t>(ch);
    };
    std::size_t length = 0;
    for (const unsigned char* src = begin; src != end;) {
        if (*src < 0x80) {
            ++src;
            ++length;
            continue;
        }
        const char16_t ch = next(src);
        length += ch < 0x80 ? 1 : ch < 0x800 ? 2 : 3;
    }
    std::string out(length, '\0');
    char* dst = out.data();
    for (const unsigned char* src = begin; src != end;) {
        if (*src < 0x80) {
            *dst++ = static_cast<char>(*src++);
            continue;
        }
        const char16_t ch = next(src);
        if (ch < 0x80) {
            *dst++ = static_cast<char>(ch);
        } else if (ch < 0x800) {
            *dst++ = static_cast<char>(0xC0 | (ch >> 6));
            *dst++ = static_cast<char>(0x80 | (ch & 0x3F));
        } else {
            *dst++ = static_cast<char>(0xE0 | (ch >> 12));
            *dst++ = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            *dst++ = static_cast<char>(0x80 | (ch & 0x3F));
        }
    }
    return out;
}

std::string utf16ToCp932(std::u16string_view text, Cp932Fallback fallback) {
    std::string out;
    // At most two bytes per unit; the string is shrunk once at the end.
    out.resize(text.size() * 2);
    char* dst = out.data();
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t ch = text[i];
        if (ch < 0x80) {
            *dst++ = static_cast<char>(ch);
            continue;
        }
        const std::uint16_t code = encodeUnit(ch, fallback);
        if (code == kNoCode) {
            if (isHighSurrogate(ch) && i + 1 < n && isLowSurrogate(text[i + 1])) {
                ++i;  // one character, one '?'
            }
            *dst++ = '?';
        } else if (code < 0x100) {
            *dst++ = static_cast<char>(code);
        } else {
            *dst++ = static_cast<char>(code >> 8);
            *dst++ = static_cast<char>(code & 0xFF);
        }
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

std::string utf8ToCp932(std::string_view text, Cp932Fallback fallback) {
    std::size_t asciiPrefix = 0;
    while (asciiPrefix < text.size() && static_cast<unsigned char>(text[asciiPrefix]) < 0x80) {
        ++asciiPrefix;
    }
    if (asciiPrefix == text.size()) {
        return std::string(text);
    }
    return utf16ToCp932(utf8ToUtf16(text), fallback);
}

std::size_t cp932Length(std::u16string_view text, Cp932Fallback fallback) {
    std::size_t length = 0;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t ch = text[i];
        if (ch < 0x80) {
            ++length;
            continue;
        }
        const std::uint16_t code = encodeUnit(ch, fallback);
        if (code == kNoCode) {
            if (isHighSurrogate(ch) && i + 1 < n && isLowSurrogate(text[i + 1])) {
                ++i;
            }
            ++length;
        } else {
            length += code < 0x100 ? 1 : 2;
        }
    }
    return length;
}

bool hasCp932Form(std::string_view utf8) {
    return isValidUtf8(utf8) && cp932ToUtf8(utf8ToCp932(utf8)) == utf8;
}

bool isCp932Text(std::string_view bytes) {
    std::string normalized;
    const std::string_view expected =
        normalizeCp932Duplicates(bytes, normalized) ? std::string_view(normalized) : bytes;
    return utf8ToCp932(cp932ToUtf8(bytes)) == expected;
}

}  // namespace ferretta::platform
