#include "cache/index_text.h"

#include <algorithm>

#include "platform/cp932.h"
#include "platform/office/cell_pattern.h"
#include "platform/unicode.h"
#include "platform/width_fold.h"

namespace ferretta::cache {
namespace {

// A trigram query of more terms than this checks a spread of them: any subset of a word's
// trigrams still lets every document that holds the word through.
constexpr std::size_t kMaxTrigrams = 12;

// The text as its ANSI form (with best-fit forms, as the matcher's byte-wise pass sees it)
// decodes.
std::u16string roundTripped(std::u16string_view text) {
    return platform::cp932ToUtf16(platform::utf16ToCp932(text, platform::Cp932Fallback::BestFit));
}

// Bumped whenever what the index holds for a text changes: older indexes are then rebuilt.
constexpr std::uint64_t kIndexFormVersion = 2;

// A byte that can follow a lead byte: a match of the byte-wise pass may start there.
constexpr bool canBeTrailByte(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// A second byte that is also a character of its own (ASCII or half-width katakana).
constexpr bool isSingleByteTrail(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0xA1 && b <= 0xDF);
}

bool isLead(std::string_view ansi, std::size_t at) {
    return platform::isCp932LeadByte(static_cast<unsigned char>(ansi[at]));
}

// Where a double-byte character is followed by two single-byte ones, its second byte and
// those two read as three characters: the byte-wise pass finds a three-letter word such as
// "ABC" in "アBC" (ア is 83 41), which no text form shows. One such trigram a line.
std::string shiftedTrigrams(std::string_view ansi) {
    std::string out;
    for (std::size_t at = 0; at + 1 < ansi.size();) {
        if (!isLead(ansi, at)) {
            ++at;
            continue;
        }
        const std::size_t next = at + 2;
        if (next + 2 <= ansi.size() &&
            isSingleByteTrail(static_cast<unsigned char>(ansi[at + 1])) && !isLead(ansi, next) &&
            !isLead(ansi, next + 1)) {
            out += platform::utf16ToUtf8(
                platform::foldForMatch(platform::cp932ToUtf16(ansi.substr(at + 1, 3))));
            out += '\n';
        }
        at = next;
    }
    return out;
}

// The code points of a UTF-8 text, each as its bytes.
std::vector<std::string_view> codePoints(std::string_view text) {
    std::vector<std::string_view> points;
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        length = std::min(length, text.size() - at);
        points.push_back(text.substr(at, length));
        at += length;
    }
    return points;
}

// "abc" AND "bcd" ... for a folded form of at least three characters; nullopt for a shorter
// one (or one holding a NUL, which a query cannot carry).
std::optional<std::string> trigramsOf(std::u16string_view form) {
    const std::string text = platform::utf16ToUtf8(form);
    if (text.find('\0') != std::string::npos)
        return std::nullopt;
    const auto points = codePoints(text);
    if (points.size() < 3)
        return std::nullopt;
    const std::size_t count = points.size() - 2;
    std::vector<std::size_t> starts;
    if (count <= kMaxTrigrams) {
        for (std::size_t i = 0; i < count; ++i)
            starts.push_back(i);
    } else {
        for (std::size_t i = 0; i < kMaxTrigrams; ++i)
            starts.push_back(i * (count - 1) / (kMaxTrigrams - 1));
    }
    std::string expression;
    for (const std::size_t start : starts) {
        if (!expression.empty())
            expression += " AND ";
        expression += '"';
        for (std::size_t i = start; i < start + 3; ++i) {
            for (const char ch : points[i]) {
                expression += ch;
                if (ch == '"')
                    expression += '"';
            }
        }
        expression += '"';
    }
    return expression;
}

// The forms in which a word can show in the index when the matcher finds it, as one query;
// nullopt when one of them is too short to look up.
std::optional<std::string> wordExpression(std::string_view word) {
    const std::u16string word16 = platform::utf8ToUtf16(word);
    if (word16.empty())
        return std::nullopt;
    std::vector<std::u16string> forms;
    // The folded pass, and the byte-wise pass at a character boundary.
    forms.push_back(platform::foldForMatch(word16));
    const std::string ansi = platform::utf16ToCp932(word16, platform::Cp932Fallback::BestFit);
    forms.push_back(platform::foldForMatch(platform::cp932ToUtf16(ansi)));
    // The byte-wise pass from the second byte of a character: the text then holds, from a
    // character boundary on, the characters that the word's bytes after its first one make
    // (all but a lead byte left over at the end).
    if (!ansi.empty() && canBeTrailByte(static_cast<unsigned char>(ansi[0]))) {
        std::size_t end = 1;
        for (std::size_t at = 1; at < ansi.size();) {
            const bool lead = platform::isCp932LeadByte(static_cast<unsigned char>(ansi[at]));
            if (lead && at + 1 >= ansi.size())
                break;
            at += lead ? 2 : 1;
            end = at;
        }
        std::u16string rest = platform::foldForMatch(
            platform::cp932ToUtf16(std::string_view(ansi).substr(1, end - 1)));
        if (codePoints(platform::utf16ToUtf8(rest)).size() >= 3) {
            forms.push_back(std::move(rest));
        } else if (ansi.size() >= 3 && isSingleByteTrail(static_cast<unsigned char>(ansi[0])) &&
                   !isLead(ansi, 1) && !isLead(ansi, 2)) {
            // Too short to look up on its own; the word's first three bytes are characters of
            // their own, and the index holds them as shifted trigrams.
            forms.push_back(platform::foldForMatch(
                platform::cp932ToUtf16(std::string_view(ansi).substr(0, 3))));
        } else {
            return std::nullopt;
        }
    }
    std::sort(forms.begin(), forms.end());
    forms.erase(std::unique(forms.begin(), forms.end()), forms.end());

    std::string expression;
    for (const auto& form : forms) {
        auto trigrams = trigramsOf(form);
        if (!trigrams)
            return std::nullopt;
        if (!expression.empty())
            expression += " OR ";
        expression += "(" + *trigrams + ")";
    }
    return expression;
}

// A cell-find pattern: every literal run of three characters or more must be there.
std::optional<std::string> cellPatternExpression(std::string_view word) {
    std::string expression;
    for (const auto& run :
         platform::office::CellPattern(platform::utf8ToUtf16(word)).literalRuns()) {
        if (auto trigrams = trigramsOf(run)) {
            if (!expression.empty())
                expression += " AND ";
            expression += *trigrams;
        }
    }
    if (expression.empty())
        return std::nullopt;
    return expression;
}

std::uint64_t fnv1a(std::uint64_t hash, std::u16string_view text) {
    for (const char16_t unit : text) {
        hash ^= unit;
        hash *= 0x100000001B3ULL;
    }
    return hash;
}

}  // namespace

IndexForms indexForms(const Extract& extract) {
    IndexForms forms;
    for (const Unit& unit : extract.units) {
        if (unit.text.empty())
            continue;
        const std::u16string text = platform::utf8ToUtf16(unit.text);
        const std::u16string folded = platform::foldForMatch(text);
        // The ANSI form as the matcher's byte-wise pass sees it (best-fit forms included).
        const std::string ansi = platform::utf16ToCp932(text, platform::Cp932Fallback::BestFit);
        const std::u16string decoded = platform::foldForMatch(platform::cp932ToUtf16(ansi));
        forms.folded += platform::utf16ToUtf8(folded);
        forms.folded += '\n';
        if (decoded != folded) {
            forms.roundTrip += platform::utf16ToUtf8(decoded);
            forms.roundTrip += '\n';
        }
        forms.roundTrip += shiftedTrigrams(ansi);
    }
    return forms;
}

std::optional<std::string> matchExpression(const IndexQuery& query) {
    std::string expression;
    for (const std::string& word : query.words) {
        auto part = query.cellPatterns ? cellPatternExpression(word) : wordExpression(word);
        if (!part) {
            if (!query.all)
                return std::nullopt;
            continue;  // this word narrows nothing; the others still must be there
        }
        if (!expression.empty())
            expression += query.all ? " AND " : " OR ";
        expression += "(" + *part + ")";
    }
    if (expression.empty())
        return std::nullopt;
    return expression;
}

std::uint64_t conversionFingerprint() {
    // Every conversion works character by character, so converting all characters at once
    // shows each character's result.
    std::u16string all;
    all.reserve(0x10000);
    for (char32_t ch = 1; ch < 0x10000; ++ch) {
        if (ch < 0xD800 || ch > 0xDFFF)
            all += static_cast<char16_t>(ch);
    }
    std::uint64_t hash = 0xCBF29CE484222325ULL ^ kIndexFormVersion;
    hash = fnv1a(hash, platform::foldForMatch(all));
    hash = fnv1a(hash, platform::foldForMatch(roundTripped(all)));
    return hash;
}

}  // namespace ferretta::cache
