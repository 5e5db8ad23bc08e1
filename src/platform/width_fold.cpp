#include "platform/width_fold.h"

#include <cstdint>

namespace ferretta::platform {
namespace {

#include "platform/case_tables.inc"

constexpr char16_t kVoiced = u'\uFF9E';      // half-width ﾞ
constexpr char16_t kSemiVoiced = u'\uFF9F';  // half-width ﾟ

struct HalfKana {
    char16_t base;  // 0: the letter has no half-width form and stays
    char16_t mark;  // 0, kVoiced or kSemiVoiced
};

// Full-width katakana U+30A1-U+30FA. Derived from the compatibility decompositions of the
// half-width forms; ヮ ヰ ヱ ヵ ヶ ヸ ヹ have none and stay full-width.
constexpr char16_t kFirstKana = u'\u30A1';
constexpr char16_t kLastKana = u'\u30FA';
// clang-format off
constexpr HalfKana kHalfKana[kLastKana - kFirstKana + 1] = {
    {0xFF67, 0}, {0xFF71, 0}, {0xFF68, 0}, {0xFF72, 0}, {0xFF69, 0}, {0xFF73, 0},  // ァアィイゥウ
    {0xFF6A, 0}, {0xFF74, 0}, {0xFF6B, 0}, {0xFF75, 0}, {0xFF76, 0}, {0xFF76, kVoiced},  // ェエォオカガ
    {0xFF77, 0}, {0xFF77, kVoiced}, {0xFF78, 0}, {0xFF78, kVoiced}, {0xFF79, 0}, {0xFF79, kVoiced},  // キギクグケゲ
    {0xFF7A, 0}, {0xFF7A, kVoiced}, {0xFF7B, 0}, {0xFF7B, kVoiced}, {0xFF7C, 0}, {0xFF7C, kVoiced},  // コゴサザシジ
    {0xFF7D, 0}, {0xFF7D, kVoiced}, {0xFF7E, 0}, {0xFF7E, kVoiced}, {0xFF7F, 0}, {0xFF7F, kVoiced},  // スズセゼソゾ
    {0xFF80, 0}, {0xFF80, kVoiced}, {0xFF81, 0}, {0xFF81, kVoiced}, {0xFF6F, 0}, {0xFF82, 0},  // タダチヂッツ
    {0xFF82, kVoiced}, {0xFF83, 0}, {0xFF83, kVoiced}, {0xFF84, 0}, {0xFF84, kVoiced}, {0xFF85, 0},  // ヅテデトドナ
    {0xFF86, 0}, {0xFF87, 0}, {0xFF88, 0}, {0xFF89, 0}, {0xFF8A, 0}, {0xFF8A, kVoiced},  // ニヌネノハバ
    {0xFF8A, kSemiVoiced}, {0xFF8B, 0}, {0xFF8B, kVoiced}, {0xFF8B, kSemiVoiced}, {0xFF8C, 0}, {0xFF8C, kVoiced},  // パヒビピフブ
    {0xFF8C, kSemiVoiced}, {0xFF8D, 0}, {0xFF8D, kVoiced}, {0xFF8D, kSemiVoiced}, {0xFF8E, 0}, {0xFF8E, kVoiced},  // プヘベペホボ
    {0xFF8E, kSemiVoiced}, {0xFF8F, 0}, {0xFF90, 0}, {0xFF91, 0}, {0xFF92, 0}, {0xFF93, 0},  // ポマミムメモ
    {0xFF6C, 0}, {0xFF94, 0}, {0xFF6D, 0}, {0xFF95, 0}, {0xFF6E, 0}, {0xFF96, 0},  // ャヤュユョヨ
    {0xFF97, 0}, {0xFF98, 0}, {0xFF99, 0}, {0xFF9A, 0}, {0xFF9B, 0}, {0, 0},  // ラリルレロヮ
    {0xFF9C, 0}, {0, 0}, {0, 0}, {0xFF66, 0}, {0xFF9D, 0}, {0xFF73, kVoiced},  // ワヰヱヲンヴ
    {0, 0}, {0, 0}, {0xFF9C, kVoiced}, {0, 0}, {0, 0}, {0xFF66, kVoiced},  // ヵヶヷヸヹヺ
};
// clang-format on

// The half-width form of the marks in U+3000-U+30FF that are not letters; 0: unchanged.
constexpr char16_t halfWidthMark(char16_t ch) {
    switch (ch) {
        case u'\u3000':
            return u' ';
        case u'\u3001':  // 、
            return u'\uFF64';
        case u'\u3002':  // 。
            return u'\uFF61';
        case u'\u300C':  // 「
            return u'\uFF62';
        case u'\u300D':  // 」
            return u'\uFF63';
        case u'\u309B':  // ゛
            return kVoiced;
        case u'\u309C':  // ゜
            return kSemiVoiced;
        case u'\u30FB':  // ・
            return u'\uFF65';
        case u'\u30FC':  // ー
            return u'\uFF70';
        default:
            return 0;
    }
}

// Appends the half-width form of ch at dst (one or two units) and answers the new end.
inline char16_t* putHalfWidth(char16_t ch, char16_t* dst) {
    if (ch >= u'\uFF01' && ch <= u'\uFF5E') {
        *dst++ = static_cast<char16_t>(ch - 0xFEE0);
    } else if (ch >= kFirstKana && ch <= kLastKana) {
        const HalfKana& kana = kHalfKana[ch - kFirstKana];
        if (kana.base == 0) {
            *dst++ = ch;
        } else {
            *dst++ = kana.base;
            if (kana.mark != 0) {
                *dst++ = kana.mark;
            }
        }
    } else if (ch >= u'\u3000' && ch <= u'\u30FF') {
        const char16_t mark = halfWidthMark(ch);
        *dst++ = mark != 0 ? mark : ch;
    } else {
        *dst++ = ch;
    }
    return dst;
}

inline char16_t upper(char16_t ch) {
    if (ch < 0x80) {
        return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - 0x20) : ch;
    }
    const std::uint16_t mapped = kUpperPage[kUpperPageIndex[ch >> 8]][ch & 0xFF];
    return mapped != 0 ? static_cast<char16_t>(mapped) : ch;
}

// Only U+3000-U+30FF and U+FF01-U+FF5E change width; everything else is copied as it is.
constexpr bool mayChangeWidth(char16_t ch) {
    return (ch >= u'\u3000' && ch <= u'\u30FF') || (ch >= u'\uFF01' && ch <= u'\uFF5E');
}

}  // namespace

std::u16string toHalfWidth(std::u16string_view text) {
    std::u16string out;
    // A voiced letter becomes two units; the string is shrunk once at the end.
    out.resize(text.size() * 2);
    char16_t* dst = out.data();
    for (const char16_t ch : text) {
        if (mayChangeWidth(ch)) {
            dst = putHalfWidth(ch, dst);
        } else {
            *dst++ = ch;
        }
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

std::u16string toUpperCase(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& ch : out) {
        ch = upper(ch);
    }
    return out;
}

std::u16string foldForMatch(std::u16string_view text) {
    std::u16string out;
    foldForMatch(text, out);
    return out;
}

void foldForMatch(std::u16string_view text, std::u16string& out) {
    out.resize(text.size() * 2);
    char16_t* dst = out.data();
    for (const char16_t ch : text) {
        if (mayChangeWidth(ch)) {
            char16_t* const start = dst;
            dst = putHalfWidth(ch, dst);
            for (char16_t* p = start; p != dst; ++p) {
                *p = upper(*p);
            }
        } else {
            *dst++ = upper(ch);
        }
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
}

}  // namespace ferretta::platform
