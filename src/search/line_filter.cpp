#include "search/line_filter.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/cp932.h"
#include "platform/regex.h"
#include "platform/unicode.h"
#include "platform/width_fold.h"
#include "search/ansi_fold_table.h"
#include "search/byte_scan.h"

namespace ferretta::search {
namespace {

using platform::Cp932Fallback;
constexpr std::uint16_t kNoCode = 0xFFFF;
constexpr std::size_t npos = std::string_view::npos;

bool isAsciiLetter(std::uint32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isTrailByte(unsigned char b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

std::string utf8Of(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

std::string cp932BytesOf(std::uint16_t code) {
    if (code < 0x100)
        return std::string(1, static_cast<char>(code));
    return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

// The codes of a CP932 text, character by character (a lead byte without its trail byte is
// a code < 0x100 too).
std::vector<std::uint16_t> codesOf(std::string_view bytes) {
    std::vector<std::uint16_t> codes;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (platform::isCp932LeadByte(b) && i + 1 < bytes.size() &&
            isTrailByte(static_cast<unsigned char>(bytes[i + 1]))) {
            codes.push_back(
                static_cast<std::uint16_t>(b << 8 | static_cast<unsigned char>(bytes[i + 1])));
            ++i;
        } else {
            codes.push_back(b);
        }
    }
    return codes;
}

// Which other characters of a text turn into a given one, under folding (in CP932 text and
// in Unicode text) and under the conversion to the ANSI form. Only characters that something
// else turns into are listed. Each is made once, on first use.
using Cp932Sources = std::unordered_map<std::uint16_t, std::vector<std::uint16_t>>;  // codes
using UnicodeSources = std::unordered_map<char16_t, std::vector<char16_t>>;
using AnsiSources = std::unordered_map<std::uint16_t, std::vector<char16_t>>;  // code -> characters

// Hands every CP932 code with its folded form to `visit` (a lead byte alone: as it folds
// before a line end, before a byte that is no trail byte, and at the very end of a line).
template <typename Visit>
void forEachFoldedCp932Code(Visit&& visit) {
    std::string folded;
    auto fold = [&](std::uint16_t code, std::string_view bytes, std::size_t keep) {
        foldCp932(bytes, folded, true);
        visit(code, std::string_view(folded).substr(0, folded.size() - keep));
    };
    for (unsigned b = 0; b < 0x100; ++b) {
        if (b == '\r' || b == '\n')
            continue;
        if (platform::isCp932LeadByte(static_cast<unsigned char>(b))) {
            const char pair[2] = {static_cast<char>(b), '\n'};
            const char beforeOther[2] = {static_cast<char>(b), ' '};
            fold(static_cast<std::uint16_t>(b), std::string_view(pair, 2), 1);
            fold(static_cast<std::uint16_t>(b), std::string_view(beforeOther, 2), 1);
            fold(static_cast<std::uint16_t>(b), std::string_view(pair, 1), 0);
            for (unsigned t = 0x40; t <= 0xFC; ++t) {
                if (t == 0x7F)
                    continue;
                const char code[2] = {static_cast<char>(b), static_cast<char>(t)};
                fold(static_cast<std::uint16_t>(b << 8 | t), std::string_view(code, 2), 0);
            }
        } else {
            const char one = static_cast<char>(b);
            fold(static_cast<std::uint16_t>(b), std::string_view(&one, 1), 0);
        }
    }
}

const Cp932Sources& cp932FoldSources() {
    static const Cp932Sources sources = [] {
        Cp932Sources map;
        forEachFoldedCp932Code([&](std::uint16_t code, std::string_view folded) {
            for (std::uint16_t f : codesOf(folded)) {
                if (f != code)
                    map[f].push_back(code);
            }
        });
        return map;
    }();
    return sources;
}

// Per folded form (bytes): the CP932 codes that fold to exactly it, itself among them.
const std::unordered_map<std::string, std::vector<std::uint16_t>>& cp932FoldedFrom() {
    static const auto sources = [] {
        std::unordered_map<std::string, std::vector<std::uint16_t>> map;
        forEachFoldedCp932Code([&](std::uint16_t code, std::string_view folded) {
            auto& codes = map[std::string(folded)];
            if (std::find(codes.begin(), codes.end(), code) == codes.end())
                codes.push_back(code);
        });
        return map;
    }();
    return sources;
}

const UnicodeSources& unicodeFoldSources() {
    static const UnicodeSources sources = [] {
        UnicodeSources map;
        std::u16string folded;
        for (unsigned u = 0; u < 0x10000; ++u) {
            const auto c = static_cast<char16_t>(u);
            if (u >= 0xD800 && u <= 0xDFFF)
                continue;
            platform::foldForMatch(std::u16string_view(&c, 1), folded);
            for (char16_t unit : folded) {
                if (unit != c)
                    map[unit].push_back(c);
            }
        }
        return map;
    }();
    return sources;
}

const AnsiSources& ansiSources() {
    static const AnsiSources sources = [] {
        // Only codes that more than one character turns into matter: they are counted first
        // and only they are mapped (a map of every code cost a millisecond at each start).
        std::vector<std::uint16_t> codes(0x10000, kNoCode);
        std::vector<std::uint8_t> characters(0x10000, 0);  // per code, up to 2
        for (unsigned u = 0; u < 0x10000; ++u) {
            if (u >= 0xD800 && u <= 0xDFFF)
                continue;
            const std::uint16_t code =
                platform::unicodeToCp932Code(static_cast<char16_t>(u), Cp932Fallback::BestFit);
            codes[u] = code;
            if (code != kNoCode && characters[code] < 2)
                ++characters[code];
        }
        AnsiSources map;
        for (unsigned u = 0; u < 0x10000; ++u) {
            if (codes[u] != kNoCode && characters[codes[u]] >= 2)
                map[codes[u]].push_back(static_cast<char16_t>(u));
        }
        return map;
    }();
    return sources;
}

// A trigger must be rare in Japanese text, or the filter would look at nearly every line.
bool rareCp932(std::uint16_t code) {
    if (code < 0x100)
        return false;
    const unsigned lead = code >> 8;
    const unsigned trail = code & 0xFF;
    if (platform::cp932CodeToUnicode(code) == kNoCode)
        return false;
    return lead == 0x81 || (lead == 0x82 && trail < 0x9F) || (lead == 0x83 && trail >= 0x9F) ||
           lead == 0x84 || lead == 0x87 || lead == 0xED || lead == 0xEE || lead >= 0xFA;
}
bool rareUnicode(char16_t c) {
    return c >= 0x80 && !(c >= 0x3000 && c <= 0x3003) && !(c >= 0x3040 && c <= 0x30FF) &&
           !(c >= 0x4E00 && c <= 0x9FFF) && !(c >= 0xFF61 && c <= 0xFF9F) && c != 0xFFFD &&
           !(c >= 0xD800 && c <= 0xDFFF);
}

// The characters next to a trigger in a matching line: one of `left` before it or one of
// `right` after it (ASCII letters in upper case), unless `any`.
struct Neighbours {
    bool any = true;
    std::vector<char32_t> left;
    std::vector<char32_t> right;
};

// What a line holds for one character of a word: one of its forms (each the bytes of a
// character or two that turn into it; ASCII letters in either case), or one of the triggers.
struct Piece {
    std::vector<std::string> forms;
    bool usable = true;
    bool letter = false;
    std::vector<std::uint32_t> triggers;  // CP932 codes, or code points
    // CP932 forms with half-width katakana, weighed by weightOf().
    bool halfWidthKana = false;
};

bool isHalfWidthKanaByte(std::uint16_t code) {
    return code >= 0xA1 && code <= 0xDF;
}

// How selective looking for bytes is, in bytes: as many as they are, unless `halfWidthKana`
// (CP932 katakana of either width). A half-width katakana byte is as rare in Japanese text as
// a double-byte character; every Japanese character of these counts as three bytes, what it
// takes in UTF-8, for which the weighing of runs (several forms, triggers) was made: else a
// two-letter run of one width would seem as good as the longer run of every width.
std::size_t weightOf(std::string_view bytes, bool halfWidthKana) {
    if (!halfWidthKana)
        return bytes.size();
    std::size_t weight = 0;
    for (std::uint16_t code : codesOf(bytes))
        weight += code >= 0x100 || isHalfWidthKanaByte(code) ? 3 : 1;
    return weight;
}
std::size_t formWeight(const Piece& p, const std::string& form) {
    return weightOf(form, p.halfWidthKana);
}

Piece unusable() {
    Piece p;
    p.usable = false;
    return p;
}

Piece onlyForm(std::string bytes) {
    Piece p;
    p.forms.push_back(std::move(bytes));
    return p;
}

// A part every matching line holds, unless it holds one of the triggers.
struct Alternative {
    std::string bytes;
    bool caseless = false;
    std::vector<std::uint32_t> triggers;
    // Whether the bytes stand at character boundaries in every line they match in (false for
    // a byte-wise part of a CP932 word, whose ASCII bytes may be trail bytes there).
    bool aligned = true;
    // Per trigger, in UTF-8 text: the characters that may stand before or after it in a line
    // that matches (its neighbours in the run); empty: any.
    std::vector<Neighbours> neighbours;
    bool halfWidthKana = false;  // CP932 bytes weighed as weightOf() does

    long score() const {
        return static_cast<long>(weightOf(bytes, halfWidthKana)) - (triggers.empty() ? 0 : 2);
    }
};

using Plan = std::vector<Alternative>;

// A run whose pieces have several forms is looked for as every combination of them: up to
// this many.
constexpr std::size_t kMaxCombinations = 16;

// How selective looking for all of the alternatives is, in half bytes: the shortest of them
// (beyond twelve bytes, three or four Japanese characters, a literal is rare enough), less
// what the triggers and the number of them cost.
long planScore(const Plan& plan) {
    long shortest = 12;
    bool triggers = false;
    for (const Alternative& a : plan) {
        triggers = triggers || !a.triggers.empty();
        shortest = std::min(shortest, static_cast<long>(weightOf(a.bytes, a.halfWidthKana)));
    }
    long spread = 0;
    for (std::size_t n = plan.size(); n > 1; n = (n + 1) / 2)
        ++spread;
    return 2 * shortest - spread - (triggers ? 4 : 0);
}

// The first (or last) characters of what a line may hold for a piece, ASCII letters in upper
// case.
std::vector<char32_t> edgeCharacters(const Piece& p, bool last) {
    std::vector<char32_t> out;
    auto add = [&](char32_t c) {
        if (c < 0x80 && isAsciiLetter(c))
            c &= ~0x20u;
        if (std::find(out.begin(), out.end(), c) == out.end())
            out.push_back(c);
    };
    for (const std::string& form : p.forms) {
        const std::u16string units = platform::utf8ToUtf16(form);
        if (!units.empty())
            add(last ? units.back() : units.front());  // forms are of the BMP
    }
    for (std::uint32_t key : p.triggers)
        add(static_cast<char32_t>(key & 0xFFFF));
    return out;
}

// Pieces [from, to) of a word.
struct Span {
    std::size_t from = 0;
    std::size_t to = 0;
};

// The most selective run of usable pieces, as the alternatives that together stand for it;
// nullopt when no run is worth a search. `neighbours`: a run's triggers count only next to a
// neighbour they have in the run (UTF-8 text, where a character is found only where it
// stands). The pieces of `skip` are left out; `chosen` gets the run's pieces.
std::optional<Plan> bestRun(const std::vector<Piece>& pieces, bool neighbours = false,
                            Span skip = {}, Span* chosen = nullptr) {
    // The runs are weighed by their sizes alone; the plan is made for the best one.
    long bestScore = 0;
    std::size_t bestShortest = 0;  // between runs as selective, the longer one
    std::size_t bestFrom = 0;
    std::size_t bestTo = 0;
    for (std::size_t from = 0; from < pieces.size(); ++from) {
        std::size_t combinations = 1;
        std::size_t shortest = 0;
        bool triggers = false;
        for (std::size_t to = from; to < pieces.size(); ++to) {
            const Piece& piece = pieces[to];
            if (!piece.usable || piece.forms.empty() ||
                combinations * piece.forms.size() > kMaxCombinations ||
                (to >= skip.from && to < skip.to))
                break;
            combinations *= piece.forms.size();
            std::size_t least = formWeight(piece, piece.forms.front());
            for (const std::string& form : piece.forms)
                least = std::min(least, formWeight(piece, form));
            shortest += least;
            triggers = triggers || !piece.triggers.empty();
            long spread = 0;
            for (std::size_t n = combinations; n > 1; n = (n + 1) / 2)
                ++spread;
            const long score = 2 * static_cast<long>(std::min<std::size_t>(shortest, 12)) - spread -
                               (triggers ? 4 : 0);
            if (score >= 4 && (bestTo == 0 || score > bestScore ||
                               (score == bestScore && shortest > bestShortest))) {
                bestScore = score;
                bestShortest = shortest;
                bestFrom = from;
                bestTo = to + 1;
            }
            if (shortest >= 64)
                break;  // long enough: nothing longer is worth the comparing
        }
    }
    if (bestTo == 0)
        return std::nullopt;
    if (chosen)
        *chosen = Span{bestFrom, bestTo};

    Plan plan(1);
    std::vector<std::uint32_t> triggers;
    std::vector<Neighbours> near;
    for (std::size_t i = bestFrom; i < bestTo; ++i) {
        const Piece& piece = pieces[i];
        Plan longer;
        for (const Alternative& a : plan) {
            for (const std::string& form : piece.forms) {
                Alternative b = a;
                b.bytes += form;
                b.caseless = b.caseless || piece.letter;
                b.halfWidthKana = b.halfWidthKana || piece.halfWidthKana;
                longer.push_back(std::move(b));
            }
        }
        plan = std::move(longer);
        // A trigger of a piece of one ASCII character carries that character (upper case)
        // above its key: what it stands for in a line read as ASCII.
        const std::string& only = piece.forms.front();
        const std::uint32_t image =
            piece.forms.size() == 1 && only.size() == 1 &&
                    static_cast<unsigned char>(only[0]) < 0x80
                ? static_cast<std::uint32_t>(std::toupper(static_cast<unsigned char>(only[0])))
                : 0;
        for (std::uint32_t key : piece.triggers) {
            triggers.push_back(key | image << 16);
            Neighbours n;
            if (neighbours && bestTo - bestFrom >= 2) {
                n.any = false;
                if (i > bestFrom)
                    n.left = edgeCharacters(pieces[i - 1], true);
                if (i + 1 < bestTo)
                    n.right = edgeCharacters(pieces[i + 1], false);
            }
            near.push_back(std::move(n));
        }
    }
    plan.front().triggers = std::move(triggers);
    plan.front().neighbours = std::move(near);
    return plan;
}

bool sameCaseless(char a, char b) {
    const auto x = static_cast<unsigned char>(a);
    const auto y = static_cast<unsigned char>(b);
    return x == y || (isAsciiLetter(x) && isAsciiLetter(y) && (x | 0x20) == (y | 0x20));
}

// One alternative that every line holding either one holds (their longest common part), when
// it is about as selective as the two.
std::optional<Alternative> merged(const Alternative& a, const Alternative& b) {
    std::size_t bestAt = 0;
    std::size_t bestLength = 0;
    std::vector<std::size_t> previous(b.bytes.size() + 1, 0);
    std::vector<std::size_t> current(b.bytes.size() + 1, 0);
    for (std::size_t i = 1; i <= a.bytes.size(); ++i) {
        for (std::size_t j = 1; j <= b.bytes.size(); ++j) {
            current[j] = sameCaseless(a.bytes[i - 1], b.bytes[j - 1]) ? previous[j - 1] + 1 : 0;
            if (current[j] > bestLength) {
                bestLength = current[j];
                bestAt = i - bestLength;
            }
        }
        std::swap(previous, current);
    }
    Alternative m;
    m.bytes = a.bytes.substr(bestAt, bestLength);
    // Equal ignoring case: both are found if the common part is looked for so.
    m.caseless = a.caseless || b.caseless || b.bytes.find(m.bytes) == std::string::npos;
    m.triggers = a.triggers;
    m.triggers.insert(m.triggers.end(), b.triggers.begin(), b.triggers.end());
    m.neighbours = a.neighbours;
    m.neighbours.insert(m.neighbours.end(), b.neighbours.begin(), b.neighbours.end());
    m.aligned = a.aligned && b.aligned;
    m.halfWidthKana = a.halfWidthKana || b.halfWidthKana;
    if (m.score() < 2 || m.score() + 2 < std::min(a.score(), b.score()))
        return std::nullopt;
    return m;
}

void addAlternative(Plan& plan, Alternative a) {
    for (Alternative& existing : plan) {
        if (auto m = merged(existing, a)) {
            existing = std::move(*m);
            return;
        }
    }
    plan.push_back(std::move(a));
}

std::vector<char32_t> codePoints(std::u16string_view text) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                          (text[i + 1] - 0xDC00));
            ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// A character that stands for another one is looked for as a trigger when it is rare in
// Japanese text, and as one more form otherwise.
void addSource(Piece& p, char16_t c) {
    if (rareUnicode(c) || c == u'\u309B' || c == u'\u309C')  // ゛ ゜ on their own
        p.triggers.push_back(c);
    else
        p.forms.push_back(utf8Of(c));
}

// In a UTF-8 text, how the character `c` of a word's exact form shows up.
Piece exactUtf8Piece(char32_t c) {
    if (c == 0xFFFD || (c >= 0xD800 && c <= 0xDFFF))
        return unusable();  // invalid bytes decode to it
    Piece p = onlyForm(utf8Of(c));
    if (c >= 0x10000)
        return p;  // no form: only itself
    const std::uint16_t code =
        platform::unicodeToCp932Code(static_cast<char16_t>(c), Cp932Fallback::BestFit);
    if (code == kNoCode)
        return p;
    p.letter = isAsciiLetter(c);
    const auto& ansi = ansiSources();
    if (auto it = ansi.find(code); it != ansi.end()) {
        for (char16_t other : it->second) {
            if (other != c)
                addSource(p, other);
        }
    }
    return p;
}

bool isHalfWidthKana(char16_t c) {
    return c >= 0xFF66 && c <= 0xFF9D;
}
bool isSoundMark(char16_t c) {
    return c == 0xFF9E || c == 0xFF9F;  // ﾞ ﾟ
}

// The characters that fold to exactly `folded` (one or two units), the folded text itself
// among them when it folds to itself.
std::vector<char16_t> foldedFrom(std::u16string_view folded) {
    std::vector<char16_t> out;
    if (folded.size() == 1 && platform::foldForMatch(folded) == folded)
        out.push_back(folded[0]);
    const auto& sources = unicodeFoldSources();
    if (auto it = sources.find(folded[0]); it != sources.end()) {
        for (char16_t c : it->second) {
            if (platform::foldForMatch(std::u16string_view(&c, 1)) == folded)
                out.push_back(c);
        }
    }
    return out;
}

// In a UTF-8 text, how one character of a word's folded form shows up: `folded` is that
// character (a half-width letter with its sound mark is one), `first`/`last` whether it
// starts or ends the word.
Piece foldedUtf8Piece(std::u16string_view folded, bool first, bool last) {
    if (folded.size() == 2 && folded[0] >= 0xD800 && folded[0] <= 0xDBFF)
        return onlyForm(platform::utf16ToUtf8(folded));  // outside the BMP: only itself
    const char16_t c = folded[0];
    if (c == 0xFFFD || (c >= 0xD800 && c <= 0xDFFF))
        return unusable();
    if (first && folded.size() == 1 && isSoundMark(c))
        return unusable();  // the second half of any voiced letter
    Piece p;
    if (isAsciiLetter(c)) {
        // Both cases in one caseless form; the other letters that fold to it are rare.
        p = onlyForm(std::string(1, static_cast<char>(c)));
        p.letter = true;
        for (char16_t other : foldedFrom(folded)) {
            if (!isAsciiLetter(other))
                p.triggers.push_back(other);
        }
        return p;
    }
    for (char16_t source : foldedFrom(folded))
        addSource(p, source);
    if (folded.size() == 2) {
        // A letter and its sound mark may also stand apart in the line, each in either width.
        Piece letter;
        for (char16_t source : foldedFrom(folded.substr(0, 1)))
            addSource(letter, source);
        Piece mark;
        for (char16_t source : foldedFrom(folded.substr(1, 1)))
            addSource(mark, source);
        for (const std::string& l : letter.forms) {
            for (const std::string& m : mark.forms)
                p.forms.push_back(l + m);
        }
        p.triggers.insert(p.triggers.end(), letter.triggers.begin(), letter.triggers.end());
        p.triggers.insert(p.triggers.end(), mark.triggers.begin(), mark.triggers.end());
    } else if (last && isHalfWidthKana(c)) {
        // A voiced letter at the end of the word's place: its letter is the word's last one.
        for (const char16_t mark : {u'\uFF9E', u'\uFF9F'}) {
            const char16_t voiced[2] = {c, mark};
            for (char16_t source : foldedFrom(std::u16string_view(voiced, 2)))
                addSource(p, source);
        }
    }
    if (p.forms.empty() || p.forms.size() > 8)
        return unusable();
    return p;
}

// The pieces of a word's folded form, a half-width letter with its sound mark as one.
std::vector<Piece> foldedUtf8Pieces(std::u16string_view folded) {
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < folded.size();) {
        std::size_t length = 1;
        const char16_t c = folded[i];
        if (i + 1 < folded.size() &&
            ((c >= 0xD800 && c <= 0xDBFF && folded[i + 1] >= 0xDC00 && folded[i + 1] <= 0xDFFF) ||
             (isHalfWidthKana(c) && isSoundMark(folded[i + 1]))))
            length = 2;
        pieces.push_back(
            foldedUtf8Piece(folded.substr(i, length), i == 0, i + length == folded.size()));
        i += length;
    }
    return pieces;
}

// In a CP932 text, how the code `f` of a word's folded form shows up.
Piece foldedCp932Piece(std::uint16_t f) {
    Piece p = onlyForm(cp932BytesOf(f));
    p.letter = isAsciiLetter(f);
    const auto& folded = cp932FoldSources();
    if (auto it = folded.find(f); it != folded.end()) {
        for (std::uint16_t other : it->second) {
            if (p.letter && isAsciiLetter(other) && (other | 0x20) == (f | 0x20))
                continue;
            if (!rareCp932(other))
                return unusable();
            p.triggers.push_back(other);
        }
    }
    return p;
}

// A CP932 character that folds to half-width katakana or one of its marks is looked for as a
// trigger when it is rare in Japanese text (゛ ゜ on their own, 「 」), as one more form
// otherwise (full-width katakana, ー, ・, 、 and 。, which katakana words hold all the time).
void addCp932Source(Piece& p, std::uint16_t code) {
    const char16_t c = static_cast<char16_t>(platform::cp932CodeToUnicode(code));
    const bool common = c == u'\u3001' || c == u'\u3002' || c == u'\u30FB' || c == u'\u30FC';
    if (code >= 0x100 && rareCp932(code) && !common)
        p.triggers.push_back(code);
    else
        p.forms.push_back(cp932BytesOf(code));
}

// In a CP932 text, how one character of a word's folded form shows up when it is half-width
// katakana or one of its marks (a letter with its sound mark is one): each of the characters
// that fold to it, full or half width, a voiced letter also as its letter and mark apart.
// `first`/`last`: whether it starts or ends the word.
Piece halfWidthCp932Piece(std::string_view folded, bool first, bool last) {
    const auto& sources = cp932FoldedFrom();
    auto addAll = [&](Piece& p, std::string_view form) {
        if (auto it = sources.find(std::string(form)); it != sources.end()) {
            for (std::uint16_t code : it->second)
                addCp932Source(p, code);
        }
    };
    const auto c = static_cast<unsigned char>(folded[0]);
    if (first && folded.size() == 1 && (c == 0xDE || c == 0xDF))
        return unusable();  // the second half of any voiced letter
    Piece p;
    p.halfWidthKana = true;
    addAll(p, folded);
    if (folded.size() == 2) {
        Piece letter;
        addAll(letter, folded.substr(0, 1));
        Piece mark;
        addAll(mark, folded.substr(1, 1));
        for (const std::string& l : letter.forms) {
            for (const std::string& m : mark.forms)
                p.forms.push_back(l + m);
        }
        p.triggers.insert(p.triggers.end(), letter.triggers.begin(), letter.triggers.end());
        p.triggers.insert(p.triggers.end(), mark.triggers.begin(), mark.triggers.end());
    } else if (last) {
        // A voiced letter at the end of the word's place: its letter is the word's last one.
        for (const char mark : {'\xDE', '\xDF'})
            addAll(p, std::string{folded[0], mark});
    }
    std::sort(p.forms.begin(), p.forms.end());
    p.forms.erase(std::unique(p.forms.begin(), p.forms.end()), p.forms.end());
    if (p.forms.empty() || p.forms.size() > 8)
        return unusable();
    return p;
}

// The pieces of a word's folded CP932 form, a half-width letter with its sound mark as one.
std::vector<Piece> foldedCp932Pieces(std::string_view folded) {
    std::vector<Piece> pieces;
    const std::vector<std::uint16_t> codes = codesOf(folded);
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::uint16_t code = codes[i];
        if (!isHalfWidthKanaByte(code)) {
            pieces.push_back(foldedCp932Piece(code));
            continue;
        }
        std::string form(1, static_cast<char>(code));
        if (code >= 0xA6 && code <= 0xDD && i + 1 < codes.size() &&
            (codes[i + 1] == 0xDE || codes[i + 1] == 0xDF))
            form += static_cast<char>(codes[++i]);
        pieces.push_back(halfWidthCp932Piece(form, pieces.empty(), i + 1 == codes.size()));
    }
    return pieces;
}

// The best run of a word's pieces in UTF-8 text (bestRun); `second` gets the alternatives of
// the best run beside it: a line found by the first one is matched only when it holds the
// second one too. Without another run it is the same run again, which still counts: the
// scan looks for the first one merged with the word's other forms (データ of データベース
// together with ﾃﾞｰﾀ, and ータベース), the second one looks for the forms as they are.
std::optional<Plan> utf8Runs(const std::vector<Piece>& pieces, Plan* second) {
    Span span;
    auto plan = bestRun(pieces, true, {}, &span);
    if (plan && second) {
        auto other = bestRun(pieces, false, span);
        if (!other)
            other = bestRun(pieces, false);
        for (Alternative& a : *other)
            second->push_back(std::move(a));
    }
    return plan;
}

// The exact pass over UTF-8 text sees the line's ANSI form, where a word may also start on
// the second byte of a double-byte character: then the characters after it are those of
// its bytes read from the second one on.
std::optional<Plan> exactUtf8Plan(const Word& word, Plan* second) {
    Plan plan;
    std::vector<Piece> pieces;
    for (char32_t c : codePoints(platform::utf8ToUtf16(word.typed)))
        pieces.push_back(exactUtf8Piece(c));
    auto aligned = utf8Runs(pieces, second);
    if (!aligned)
        return std::nullopt;
    plan = std::move(*aligned);

    const std::string_view ansi = word.ansi;
    if (ansi.size() < 2 || !isTrailByte(static_cast<unsigned char>(ansi[0])))
        return plan;
    pieces.clear();
    const std::vector<std::uint16_t> codes = codesOf(ansi.substr(1));
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::uint16_t code = codes[i];
        const char16_t c = static_cast<char16_t>(platform::cp932CodeToUnicode(code));
        const bool last = i + 1 == codes.size();
        if (c == kNoCode) {
            if (last && code < 0x100 &&
                platform::isCp932LeadByte(static_cast<unsigned char>(code))) {
                pieces.push_back(unusable());  // its trail byte lies past the word
                continue;
            }
            return plan;  // a code the conversion never writes: no such place
        }
        pieces.push_back(c == u'?' ? unusable() : exactUtf8Piece(c));
    }
    auto shifted = utf8Runs(pieces, second);
    if (!shifted)
        return std::nullopt;
    for (Alternative& a : *shifted)
        addAlternative(plan, std::move(a));
    return plan;
}

// The alternatives of a word; in UTF-8 text `second` gets those of a second run (utf8Runs).
std::optional<Plan> wordPlan(const Matcher& matcher, const Word& word, TextForm form,
                             Plan* second = nullptr) {
    Plan plan;
    if (form == TextForm::Cp932) {
        if (word.formless.empty()) {
            const std::string_view exact = requiredCp932Bytes(word);
            if (exact.size() < 2)
                return std::nullopt;
            const bool ascii = std::all_of(word.ansi.begin(), word.ansi.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x80;
            });
            plan.push_back(Alternative{std::string(exact), false, {}, ascii, {}});
        }
        if (!matcher.strict() && word.foldedInCp932) {
            // The width forms of katakana only when the word gives no run without them:
            // looking for one literal is cheaper than for every combination of forms.
            std::vector<Piece> pieces;
            for (std::uint16_t f : codesOf(word.foldedAnsi))
                pieces.push_back(foldedCp932Piece(f));
            auto folded = bestRun(pieces);
            if (!folded)
                folded = bestRun(foldedCp932Pieces(word.foldedAnsi));
            if (!folded)
                return std::nullopt;
            for (Alternative& a : *folded)
                addAlternative(plan, std::move(a));
        }
        return plan;
    }
    auto exact = exactUtf8Plan(word, second);
    if (!exact)
        return std::nullopt;
    for (Alternative& a : *exact)
        addAlternative(plan, std::move(a));
    if (!matcher.strict()) {
        auto folded = utf8Runs(foldedUtf8Pieces(word.folded), second);
        if (!folded)
            return std::nullopt;
        for (Alternative& a : *folded)
            addAlternative(plan, std::move(a));
    }
    return plan;
}

// Regular expressions match the decoded text, ignoring case.
bool caselessCharacter(char32_t c) {
    return (c >= 0x20 && c < 0x7F && !isAsciiLetter(c)) || (c >= 0x3000 && c <= 0x30FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF10 && c <= 0xFF19) ||
           (c >= 0xFF61 && c <= 0xFF9F);
}

// nullopt: no plan; an empty plan: no line can match.
std::optional<Plan> patternPlan(const Matcher& matcher, TextForm form) {
    std::vector<Piece> pieces;
    for (const std::u32string& run :
         requiredPatternRuns(platform::utf8ToUtf16(matcher.pattern()))) {
        for (char32_t c : run) {
            Piece p;
            if (isAsciiLetter(c)) {
                p = onlyForm(std::string(1, static_cast<char>(c)));
                p.letter = true;
                // Unicode case folding also pairs k with the Kelvin sign and s with long s.
                if (form == TextForm::Utf8 && (c | 0x20) == 'k')
                    p.triggers.push_back(0x212A);
                if (form == TextForm::Utf8 && (c | 0x20) == 's')
                    p.triggers.push_back(0x017F);
            } else if (!caselessCharacter(c) ||
                       (form == TextForm::Cp932 && (c == u'?' || c == u'\u30FB'))) {
                p = unusable();  // (CP932 bytes that are no character decode to these two)
            } else if (form == TextForm::Utf8) {
                p = onlyForm(utf8Of(c));
            } else {
                const std::uint16_t code = platform::unicodeToCp932Code(static_cast<char16_t>(c));
                if (code == kNoCode)
                    return Plan{};  // a character no CP932 line holds
                p = onlyForm(cp932BytesOf(code));
                // Other tools may write another code for the same character.
                if (platform::cp932CodeHasDuplicates(code)) {
                    for (unsigned other = 0x8100; other <= 0xFCFC; ++other) {
                        if (other != code &&
                            platform::cp932WrittenCode(static_cast<std::uint16_t>(other)) == code)
                            p.triggers.push_back(other);
                    }
                }
            }
            pieces.push_back(std::move(p));
        }
        pieces.push_back(unusable());  // runs are not next to each other
    }
    return bestRun(pieces);
}

// The most trigger groups looked for in one pass; a query that needs more matches every line.
constexpr std::size_t kMaxTriggerGroups = 8;

inline __m128i load(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

LineFilter::LineFilter(const Matcher& matcher, TextForm form) : m_form(form) {
    if (matcher.targetStrsNumber() == 0)
        return;
    std::optional<Plan> plan;
    Plan confirm;  // UTF-8 words: their second runs
    if (matcher.regular()) {
        if (!matcher.patternValid()) {
            plan = Plan{};  // never matches
        } else {
            plan = patternPlan(matcher, form);
        }
    } else if (matcher.isAndCondition()) {
        // Every word must be there: looking for one will do; the most selective one.
        for (int i = 0; i < matcher.targetStrsNumber(); ++i) {
            Plan second;
            auto candidate = wordPlan(matcher, matcher.word(i), form, &second);
            if (candidate && (!plan || planScore(*candidate) > planScore(*plan))) {
                plan = std::move(candidate);
                confirm = std::move(second);
            }
        }
    } else {
        plan = Plan{};
        for (int i = 0; i < matcher.targetStrsNumber() && plan; ++i) {
            auto wordAlternatives = wordPlan(matcher, matcher.word(i), form, &confirm);
            if (!wordAlternatives) {
                plan.reset();
                break;
            }
            for (Alternative& a : *wordAlternatives)
                addAlternative(*plan, std::move(a));
        }
    }
    if (!plan)
        return;
    m_active = true;

    std::vector<std::uint32_t> triggers;
    std::unordered_map<std::uint32_t, TriggerNeighbours> neighbours;
    bool aligned = true;
    std::vector<LiteralFinder::Literal> literals;
    for (Alternative& a : *plan) {
        aligned = aligned && a.aligned;
        LiteralFinder::Literal literal{std::move(a.bytes), a.caseless};
        if (std::find_if(literals.begin(), literals.end(), [&](const LiteralFinder::Literal& l) {
                return l.bytes == literal.bytes && l.caseless == literal.caseless;
            }) == literals.end())
            literals.push_back(std::move(literal));
        triggers.insert(triggers.end(), a.triggers.begin(), a.triggers.end());
        // A trigger found anywhere in the line counts unless every use of it in the plan
        // names its neighbours.
        for (std::size_t t = 0; t < a.triggers.size(); ++t) {
            const std::uint32_t key = a.triggers[t] & 0xFFFF;
            const bool any = t >= a.neighbours.size() || a.neighbours[t].any;
            auto [it, added] = neighbours.try_emplace(key);
            TriggerNeighbours& n = it->second;
            n.any = (!added && n.any) || any;
            if (any)
                continue;
            n.left.insert(n.left.end(), a.neighbours[t].left.begin(), a.neighbours[t].left.end());
            n.right.insert(n.right.end(), a.neighbours[t].right.begin(),
                           a.neighbours[t].right.end());
        }
    }
    std::sort(triggers.begin(), triggers.end());
    triggers.erase(std::unique(triggers.begin(), triggers.end()), triggers.end());
    for (auto& [key, n] : neighbours) {
        if (n.any)
            continue;
        if (m_neighbourIndex.empty())
            m_neighbourIndex.assign(0x10000, 0);
        m_neighbourSets.push_back(std::move(n));
        m_neighbourIndex[key] = static_cast<std::uint16_t>(m_neighbourSets.size());
    }
    // Lines can be read as ASCII (lineMayMatch) when every needle is ASCII and every trigger
    // stands for one ASCII character.
    m_asciiView = !literals.empty() && aligned;
    for (const LiteralFinder::Literal& literal : literals) {
        m_asciiView =
            m_asciiView && std::all_of(literal.bytes.begin(), literal.bytes.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x80 && c != '\0';
            });
    }
    if (m_asciiView)
        m_triggerImage.assign(0x10000, '\0');
    for (std::uint32_t trigger : triggers) {
        const std::uint32_t key = trigger & 0xFFFF;
        const auto image = static_cast<char>(trigger >> 16);
        if (m_asciiView) {
            m_asciiView =
                image != '\0' && (m_triggerImage[key] == '\0' || m_triggerImage[key] == image);
            m_triggerImage[key] = image;
        }
        const std::string bytes =
            form == TextForm::Cp932 ? cp932BytesOf(static_cast<std::uint16_t>(key)) : utf8Of(key);
        // Three-byte characters are grouped by their first two bytes, the others by their first.
        const auto first = static_cast<unsigned char>(bytes[0]);
        const int second = bytes.size() == 3 ? static_cast<unsigned char>(bytes[1]) : -1;
        const auto next = static_cast<unsigned char>(bytes[bytes.size() == 3 ? 2 : 1]);
        auto it = std::find_if(m_triggers.begin(), m_triggers.end(), [&](const Trigger& t) {
            return t.first == first && t.second == second;
        });
        if (it == m_triggers.end()) {
            m_triggers.push_back(Trigger{first, second, next, next});
            it = std::prev(m_triggers.end());
        }
        it->low = std::min(it->low, next);
        it->high = std::max(it->high, next);
        m_triggerKeys.resize(0x10000, false);
        m_triggerKeys[key] = true;
    }
    if (m_triggers.size() > kMaxTriggerGroups) {
        // Too many first bytes to look for at once: every line is to be matched.
        m_active = false;
        literals.clear();
        m_triggers.clear();
        m_asciiView = false;
    }
    makeLanes();
    if (m_asciiView) {
        for (const LiteralFinder::Literal& literal : literals) {
            std::string upper = literal.bytes;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            m_longestNeedle = std::max(m_longestNeedle, upper.size());
            m_asciiNeedles.push_back(std::move(upper));
        }
    } else {
        m_triggerImage.clear();
    }
    // A line read as ASCII (lineMayMatch) is tested for the words already.
    if (m_active && form == TextForm::Utf8 && !m_asciiView) {
        std::vector<LiteralFinder::Literal> second;
        std::vector<std::uint32_t> secondTriggers;
        for (Alternative& a : confirm) {
            second.push_back({std::move(a.bytes), a.caseless});
            secondTriggers.insert(secondTriggers.end(), a.triggers.begin(), a.triggers.end());
        }
        makeConfirmation(std::move(second), secondTriggers, literals);
        if (!m_confirmActive)
            dropConfirmation();
    }
    m_literals =
        LiteralFinder(std::move(literals), form == TextForm::Utf8 ? LiteralFinder::Text::Utf8
                                                                  : LiteralFinder::Text::Bytes);
}

void LineFilter::makeLanes() {
    m_lanes.clear();
    for (const Trigger& t : m_triggers)
        m_lanes.push_back(Lane{t.first, 0xFF, t.second, 0xFF, -1, t.low, t.high});
    if (m_form != TextForm::Utf8)
        return;
    // UTF-8 only: the full-width letters' two groups (EF BC A1.., EF BD 81..) as one lane,
    // the upper case moved onto the lower by the flip; two-byte groups of neighbouring lead
    // bytes (the Latin letters of C2 and C3) as one, over the span of both.
    for (std::size_t i = 0; i < m_lanes.size(); ++i) {
        for (std::size_t j = i + 1; j < m_lanes.size(); ++j) {
            Lane& a = m_lanes[i];
            const Lane& b = m_lanes[j];
            if (a.firstMask != 0xFF || b.firstMask != 0xFF || a.flipWhen >= 0 || b.flipWhen >= 0 ||
                (a.second < 0) != (b.second < 0))
                continue;
            if (a.second < 0 && (a.first ^ b.first) == 1 && a.first >= 0xC2 && b.first >= 0xC2) {
                a = Lane{static_cast<unsigned char>(a.first & 0xFE),
                         0xFE,
                         -1,
                         0xFF,
                         -1,
                         std::min(a.low, b.low),
                         std::max(a.high, b.high)};
            } else if (a.second >= 0 && a.first == b.first && (a.second ^ b.second) == 1) {
                auto within = [](const Lane& l, unsigned char from) {
                    return l.low >= from && l.high <= from + 0x1F;
                };
                const Lane* upper = within(a, 0xA0) && within(b, 0x80)   ? &a
                                    : within(b, 0xA0) && within(a, 0x80) ? &b
                                                                         : nullptr;
                if (!upper)
                    continue;
                const Lane& lower = upper == &a ? b : a;
                a = Lane{a.first,
                         0xFF,
                         a.second & 0xFE,
                         0xFE,
                         upper->second,
                         std::min<unsigned char>(upper->low ^ 0x20, lower.low),
                         std::max<unsigned char>(upper->high ^ 0x20, lower.high)};
            } else {
                continue;
            }
            m_lanes.erase(m_lanes.begin() + static_cast<std::ptrdiff_t>(j));
            j = i;  // a merged lane may take one more
        }
    }
}

namespace {

bool sameLiteral(const LiteralFinder::Literal& a, const LiteralFinder::Literal& b) {
    return a.bytes == b.bytes && a.caseless == b.caseless;
}

}  // namespace

void LineFilter::makeConfirmation(std::vector<LiteralFinder::Literal> second,
                                  const std::vector<std::uint32_t>& triggers,
                                  const std::vector<LiteralFinder::Literal>& first) {
    std::vector<LiteralFinder::Literal> literals;
    for (LiteralFinder::Literal& literal : second) {
        if (std::none_of(literals.begin(), literals.end(),
                         [&](const auto& l) { return sameLiteral(l, literal); }))
            literals.push_back(std::move(literal));
    }
    for (std::uint32_t trigger : triggers) {
        const std::uint32_t key = trigger & 0xFFFF;
        if (key < 0x80)
            return;  // the line's characters are looked at from their lead bytes only
        const std::string bytes = utf8Of(key);
        if (m_confirmKeys.empty()) {
            m_confirmKeys.resize(0x10000, false);
            m_confirmStarts.resize(0x10000, false);
        }
        m_confirmKeys[key] = true;
        m_confirmStarts[static_cast<unsigned char>(bytes[0]) << 8 |
                        static_cast<unsigned char>(bytes.size() > 1 ? bytes[1] : 0)] = true;
    }
    // Nothing gained when the scan looks for these very literals already.
    const bool same =
        literals.size() == first.size() &&
        std::all_of(literals.begin(), literals.end(), [&](const LiteralFinder::Literal& l) {
            return std::any_of(first.begin(), first.end(),
                               [&](const auto& f) { return sameLiteral(f, l); });
        });
    if (literals.empty() || same)
        return;
    m_confirmActive = true;
    m_confirm = LiteralFinder(std::move(literals), LiteralFinder::Text::Utf8);
}

void LineFilter::dropConfirmation() {
    m_confirmActive = false;
    m_confirmKeys.clear();
    m_confirmStarts.clear();
}

bool LineFilter::confirmed(std::string_view line) const {
    if (!m_confirmActive || m_confirm.find(line, 0) != npos)
        return true;
    if (m_confirmKeys.empty())
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(line.data());
    const std::size_t n = line.size();
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (bytes[i] < 0xC0 || !m_confirmStarts[bytes[i] << 8 | bytes[i + 1]])
            continue;
        std::size_t length = 0;
        const char32_t c = utf8CharAt(line, i, length);
        if (c < m_confirmKeys.size() && m_confirmKeys[c])
            return true;
    }
    return false;
}

bool LineFilter::lineMayMatch(std::string_view line) const {
    if (!confirmed(line))
        return false;
    return !m_asciiView || asciiViewHolds(line);
}

bool LineFilter::asciiViewHolds(std::string_view line) const {
    // The line read as ASCII: letters in upper case, each trigger as the character it stands
    // for, everything else a NUL; a matching line shows a needle there.
    std::array<char, 4096> local;
    std::string heap;
    char* view = local.data();
    if (line.size() > local.size()) {
        heap.resize(line.size());
        view = heap.data();
    }
    std::size_t length = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(line.data());
    const std::size_t n = line.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = bytes[i];
        if (b < 0x80) {
            view[length++] = static_cast<char>(b >= 'a' && b <= 'z' ? b - 0x20 : b);
            ++i;
            continue;
        }
        std::uint32_t key = 0;
        std::size_t step = 1;
        if (m_form == TextForm::Cp932) {
            if (platform::isCp932LeadByte(b) && i + 1 < n && isTrailByte(bytes[i + 1])) {
                key = static_cast<std::uint32_t>(b << 8 | bytes[i + 1]);
                step = 2;
            }
        } else if (b >= 0xC0 && b < 0xE0 && i + 1 < n) {
            key = (b & 0x1Fu) << 6 | (bytes[i + 1] & 0x3Fu);
            step = 2;
        } else if (b >= 0xE0 && b < 0xF0 && i + 2 < n) {
            key = (b & 0x0Fu) << 12 | (bytes[i + 1] & 0x3Fu) << 6 | (bytes[i + 2] & 0x3Fu);
            step = 3;
        }
        view[length++] = key != 0 && key < m_triggerImage.size() ? m_triggerImage[key] : '\0';
        i += step;
    }
    const std::string_view text(view, length);
    return std::any_of(m_asciiNeedles.begin(), m_asciiNeedles.end(),
                       [&](const std::string& needle) { return text.find(needle) != npos; });
}

std::string LineFilter::describe() const {
    if (!m_active)
        return "every line";
    std::string out;
    for (const LiteralFinder::Literal& n : m_literals.literals()) {
        out += out.empty() ? "" : " ";
        out += (n.caseless ? "ci:\"" : "\"") + n.bytes + "\"";
    }
    if (!m_triggers.empty())
        out += " +" + std::to_string(m_triggers.size()) + " trigger groups";
    if (m_confirmActive) {
        out += ", then";
        for (const LiteralFinder::Literal& n : m_confirm.literals())
            out += (n.caseless ? " ci:\"" : " \"") + n.bytes + "\"";
    }
    return out.empty() ? "no line" : out;
}

namespace {

#define FERRETTA_AVX2 __attribute__((target("avx2,popcnt")))

// The trigger groups looked for in one pass: each group's first byte (and second), and its next
// byte in range (x - low <= high - low, unsigned, by saturating subtraction). The places that
// fit are handed to `isKey` in order; the first it takes is answered. `at` is left where the
// vector loop stopped (the places from there on are still to be looked at one by one); npos
// when no place before it was taken.
// The first of the places `at` + k, for each bit k set, that `isKey` takes; npos when none.
template <typename IsKey>
std::size_t firstTaken(std::size_t at, unsigned bits, IsKey& isKey) {
    for (; bits != 0; bits &= bits - 1) {
        const std::size_t candidate = at + static_cast<std::size_t>(__builtin_ctz(bits));
        if (isKey(candidate))
            return candidate;
    }
    return npos;
}

template <typename Trigger, typename IsKey>
std::size_t triggersSse2(const char* data, std::size_t& at, std::size_t n, const Trigger* triggers,
                         std::size_t count, IsKey&& isKey) {
    for (; at + 18 <= n; at += 16) {
        const __m128i v0 = load(data + at);
        const __m128i v1 = load(data + at + 1);
        const __m128i v2 = load(data + at + 2);
        __m128i hit = _mm_setzero_si128();
        for (std::size_t g = 0; g < count; ++g) {
            const Trigger& t = triggers[g];
            const bool three = t.second >= 0;
            auto masked = [](__m128i v, unsigned char mask) {
                return mask == 0xFF ? v : _mm_and_si128(v, _mm_set1_epi8(static_cast<char>(mask)));
            };
            __m128i lead =
                _mm_cmpeq_epi8(masked(v0, t.firstMask), _mm_set1_epi8(static_cast<char>(t.first)));
            if (three)
                lead =
                    _mm_and_si128(lead, _mm_cmpeq_epi8(masked(v1, t.secondMask),
                                                       _mm_set1_epi8(static_cast<char>(t.second))));
            __m128i last = three ? v2 : v1;
            if (t.flipWhen >= 0)
                last = _mm_xor_si128(
                    last,
                    _mm_and_si128(_mm_cmpeq_epi8(v1, _mm_set1_epi8(static_cast<char>(t.flipWhen))),
                                  _mm_set1_epi8(0x20)));
            const __m128i inRange = _mm_cmpeq_epi8(
                _mm_subs_epu8(_mm_sub_epi8(last, _mm_set1_epi8(static_cast<char>(t.low))),
                              _mm_set1_epi8(static_cast<char>(t.high - t.low))),
                _mm_setzero_si128());
            hit = _mm_or_si128(hit, _mm_and_si128(lead, inRange));
        }
        const std::size_t taken =
            firstTaken(at, static_cast<unsigned>(_mm_movemask_epi8(hit)), isKey);
        if (taken != npos)
            return taken;
    }
    return npos;
}

// The loop for `N` groups, known when compiled: the groups stay in registers.
template <std::size_t N, typename Trigger, typename IsKey>
FERRETTA_AVX2 std::size_t triggersAvx2Of(const char* data, std::size_t& at, std::size_t n,
                                         const Trigger* triggers, IsKey& isKey) {
    struct Group {
        __m256i first;
        __m256i firstMask;
        bool maskFirst;
        __m256i second;
        __m256i secondMask;
        bool maskSecond;
        bool three;
        __m256i flipWhen;
        bool flip;
        __m256i low;
        __m256i span;
    };
    std::array<Group, N> groups;
    for (std::size_t g = 0; g < N; ++g) {
        const Trigger& t = triggers[g];
        groups[g] = {_mm256_set1_epi8(static_cast<char>(t.first)),
                     _mm256_set1_epi8(static_cast<char>(t.firstMask)),
                     t.firstMask != 0xFF,
                     _mm256_set1_epi8(static_cast<char>(t.second)),
                     _mm256_set1_epi8(static_cast<char>(t.secondMask)),
                     t.secondMask != 0xFF,
                     t.second >= 0,
                     _mm256_set1_epi8(static_cast<char>(t.flipWhen)),
                     t.flipWhen >= 0,
                     _mm256_set1_epi8(static_cast<char>(t.low)),
                     _mm256_set1_epi8(static_cast<char>(t.high - t.low))};
    }
    const __m256i flipBit = _mm256_set1_epi8(0x20);
    const __m256i zero = _mm256_setzero_si256();
    for (; at + 34 <= n; at += 32) {
        const auto* p = reinterpret_cast<const __m256i*>(data + at);
        const __m256i v0 = _mm256_loadu_si256(p);
        const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + 1));
        const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + 2));
        __m256i hit = zero;
        for (std::size_t g = 0; g < N; ++g) {
            const Group& group = groups[g];
            __m256i lead = _mm256_cmpeq_epi8(
                group.maskFirst ? _mm256_and_si256(v0, group.firstMask) : v0, group.first);
            if (group.three)
                lead = _mm256_and_si256(
                    lead, _mm256_cmpeq_epi8(
                              group.maskSecond ? _mm256_and_si256(v1, group.secondMask) : v1,
                              group.second));
            __m256i last = group.three ? v2 : v1;
            if (group.flip)
                last = _mm256_xor_si256(
                    last, _mm256_and_si256(_mm256_cmpeq_epi8(v1, group.flipWhen), flipBit));
            const __m256i inRange = _mm256_cmpeq_epi8(
                _mm256_subs_epu8(_mm256_sub_epi8(last, group.low), group.span), zero);
            hit = _mm256_or_si256(hit, _mm256_and_si256(lead, inRange));
        }
        const std::size_t taken =
            firstTaken(at, static_cast<unsigned>(_mm256_movemask_epi8(hit)), isKey);
        if (taken != npos)
            return taken;
    }
    return npos;
}

// Runs the loop made for `count` groups (none: only moves `at` to where it would stop).
template <typename Trigger, typename IsKey>
std::size_t triggersAvx2(const char* data, std::size_t& at, std::size_t n, const Trigger* triggers,
                         std::size_t count, IsKey&& isKey) {
    std::size_t found = npos;
    auto runFor = [&]<std::size_t... N>(std::index_sequence<N...>) {
        return ((count == N + 1 &&
                 (found = triggersAvx2Of<N + 1>(data, at, n, triggers, isKey), true)) ||
                ...);
    };
    const bool ran = runFor(std::make_index_sequence<kMaxTriggerGroups>{});
    if (!ran) {
        for (; at + 34 <= n; at += 32) {
        }
    }
    return found;
}

}  // namespace

std::size_t LineFilter::findTrigger(std::string_view block, std::size_t from) const {
    const char* data = block.data();
    const std::size_t n = block.size();
    auto isKey = [&](std::size_t at) {
        if (at + 1 >= n)
            return false;
        const auto b0 = static_cast<unsigned char>(data[at]);
        const auto b1 = static_cast<unsigned char>(data[at + 1]);
        std::uint32_t key = 0;
        if (m_form == TextForm::Cp932) {
            // The two bytes are one character only where an even number of lead-range bytes
            // stands before them (a byte outside that range ends a character); full-width
            // letters' bytes turn up as the end of one character and the start of the next
            // all the time.
            std::size_t leads = 0;
            while (leads < 64 && leads < at &&
                   platform::isCp932LeadByte(static_cast<unsigned char>(data[at - 1 - leads])))
                ++leads;
            if (leads % 2 != 0 && leads < 64)
                return false;
            key = static_cast<std::uint32_t>(b0 << 8 | b1);
        } else if (b0 < 0xE0) {
            key = (b0 & 0x1Fu) << 6 | (b1 & 0x3Fu);
        } else {
            if (at + 2 >= n || (static_cast<unsigned char>(data[at + 2]) & 0xC0) != 0x80)
                return false;
            key = (b0 & 0x0Fu) << 12 | (b1 & 0x3Fu) << 6 |
                  (static_cast<unsigned char>(data[at + 2]) & 0x3Fu);
        }
        if (key >= m_triggerKeys.size() || !m_triggerKeys[key])
            return false;
        return m_form == TextForm::Cp932 || neighboursFit(block, at, b0 < 0xE0 ? 2 : 3, key);
    };
    const std::size_t count = std::min(m_lanes.size(), kMaxTriggerGroups);
    std::size_t at = from;
    const std::size_t found = haveAvx2() ? triggersAvx2(data, at, n, m_lanes.data(), count, isKey)
                                         : triggersSse2(data, at, n, m_lanes.data(), count, isKey);
    if (found != npos)
        return found;
    for (; at < n; ++at) {
        if (isKey(at))
            return at;
    }
    return npos;
}

namespace {

// The UTF-8 character that starts at `at` (U+FFFD for broken bytes), ASCII letters in upper
// case; `length` gets its length.
char32_t characterAt(std::string_view bytes, std::size_t at, std::size_t& length) {
    const char32_t c = utf8CharAt(bytes, at, length);
    return c < 0x80 && isAsciiLetter(static_cast<unsigned char>(c)) ? (c & ~0x20u) : c;
}

}  // namespace

bool LineFilter::neighboursFit(std::string_view block, std::size_t at, std::size_t length,
                               std::uint32_t key) const {
    const std::uint16_t index = key < m_neighbourIndex.size() ? m_neighbourIndex[key] : 0;
    if (index == 0)
        return true;
    const TriggerNeighbours& n = m_neighbourSets[index - 1u];
    auto among = [](const std::vector<char32_t>& set, char32_t c) {
        return std::find(set.begin(), set.end(), c) != set.end();
    };
    std::size_t size = 0;
    if (at + length < block.size() && block[at + length] != '\n' && block[at + length] != '\r' &&
        among(n.right, characterAt(block, at + length, size)))
        return true;
    if (at == 0)
        return false;
    std::size_t before = at - 1;
    while (before > 0 && at - before < 4 &&
           (static_cast<unsigned char>(block[before]) & 0xC0) == 0x80)
        --before;
    return among(n.left, characterAt(block, before, size)) && before + size == at;
}

LineFilter::Scan::Scan(const LineFilter& filter, std::string_view block)
    : m_filter(filter), m_block(block), m_literals(filter.m_literals, block) {}

std::size_t LineFilter::Scan::next(std::size_t from) {
    const std::size_t literal = m_literals.next(from);
    std::size_t best = literal;
    if (!m_filter.m_triggers.empty()) {
        if (!m_triggerKnown || (m_triggerAt != npos && m_triggerAt < from))
            m_triggerAt = m_filter.findTrigger(m_block, from);
        m_triggerKnown = true;
        best = std::min(best, m_triggerAt);
    }
    m_atLiteral = best != npos && best == literal;
    m_at = best;
    m_literalAt = literal;
    return best;
}

bool LineFilter::Scan::lineMayMatch(std::string_view line) {
    // A literal found in UTF-8 stands in the line's ASCII reading as it is (an ASCII byte is
    // never part of another character there): only a trigger's line needs the reading. The
    // second runs are looked for either way.
    if (m_atLiteral && m_filter.m_form == TextForm::Utf8)
        return m_filter.confirmed(line);
    if (m_filter.m_form != TextForm::Utf8 || !m_filter.m_asciiView || m_at == npos ||
        line.data() < m_block.data() || line.data() + line.size() > m_block.data() + m_block.size())
        return m_filter.lineMayMatch(line);
    const auto begin = static_cast<std::size_t>(line.data() - m_block.data());
    const std::size_t end = begin + line.size();
    if (m_at < begin || m_at >= end)
        return m_filter.lineMayMatch(line);
    if (m_literalAt != npos && m_literalAt < end)
        return true;  // the literal is in the line too
    // The line holds no literal, so a match holds a trigger that stands next to its neighbour
    // in the needle: one of the line's triggers found by the scan, the first of which is the
    // place. A match reaches at most a needle's length of characters (three bytes each) to
    // either side of one. The next trigger past the line is the scan's next one.
    std::size_t last = m_at;
    std::size_t next = m_filter.findTrigger(m_block, m_at + 1);
    while (next != npos && next < end) {
        last = next;
        next = m_filter.findTrigger(m_block, next + 1);
    }
    m_triggerAt = next;
    m_triggerKnown = true;
    const std::size_t reach = 3 * m_filter.m_longestNeedle;
    std::size_t from = m_at - begin > reach ? m_at - reach : begin;
    while (from < m_at && (static_cast<unsigned char>(m_block[from]) & 0xC0) == 0x80)
        ++from;  // the rest of a character cut by the window
    const std::size_t to = std::min(end, last + reach);
    return m_filter.asciiViewHolds(m_block.substr(from, to - from));
}

namespace {

// Gathers the runs of plain characters at the top level of a pattern from what the pattern's
// reader tells: a group counts as one atom that is no plain character, an atom that may be
// absent takes its character out of the run, alternatives at the top level leave nothing
// common.
class RunCollector : public platform::PatternVisitor {
  public:
    void literal(char32_t c) override {
        if (m_depth > 0)
            return;
        m_run.push_back(c);
        m_lastWasLiteral = true;
    }
    void otherAtom() override {
        if (m_depth == 0)
            flush();
    }
    void assertion() override { otherAtom(); }
    void quantifier(std::size_t least) override {
        if (m_depth > 0)
            return;
        if (least == 0 && m_lastWasLiteral)
            m_run.pop_back();
        flush();
    }
    void groupOpen() override {
        otherAtom();
        ++m_depth;
    }
    void groupClose() override {
        if (m_depth == 0)
            m_broken = true;  // a group never opened
        else
            --m_depth;
        m_lastWasLiteral = false;
    }
    void alternative() override {
        if (m_depth == 0)
            m_broken = true;
    }

    std::vector<std::u32string> runs() {
        flush();
        if (m_broken || m_depth != 0)
            return {};
        return std::move(m_runs);
    }

  private:
    void flush() {
        if (!m_run.empty())
            m_runs.push_back(m_run);
        m_run.clear();
        m_lastWasLiteral = false;
    }

    std::vector<std::u32string> m_runs;
    std::u32string m_run;
    int m_depth = 0;
    bool m_lastWasLiteral = false;  // the last atom is the last character of m_run
    bool m_broken = false;
};

}  // namespace

std::vector<std::u32string> requiredPatternRuns(std::u16string_view pattern) {
    RunCollector collector;
    if (!platform::scanPattern(pattern, collector))
        return {};
    return collector.runs();
}

}  // namespace ferretta::search
