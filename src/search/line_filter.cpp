#include "search/line_filter.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/cp932.h"
#include "platform/hex_digit.h"
#include "platform/unicode.h"
#include "platform/width_fold.h"
#include "search/ansi_fold_table.h"

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

const Cp932Sources& cp932FoldSources() {
    static const Cp932Sources sources = [] {
        Cp932Sources map;
        std::string folded;
        auto add = [&](std::uint16_t code, std::string_view bytes, std::size_t keep) {
            foldCp932(bytes, folded, true);
            for (std::uint16_t f :
                 codesOf(std::string_view(folded).substr(0, folded.size() - keep))) {
                if (f != code)
                    map[f].push_back(code);
            }
        };
        for (unsigned b = 0; b < 0x100; ++b) {
            if (b == '\r' || b == '\n')
                continue;
            if (platform::isCp932LeadByte(static_cast<unsigned char>(b))) {
                // Before a line end, and at the very end of a line.
                const char pair[2] = {static_cast<char>(b), '\n'};
                add(static_cast<std::uint16_t>(b), std::string_view(pair, 2), 1);
                add(static_cast<std::uint16_t>(b), std::string_view(pair, 1), 0);
                for (unsigned t = 0x40; t <= 0xFC; ++t) {
                    if (t == 0x7F)
                        continue;
                    const char code[2] = {static_cast<char>(b), static_cast<char>(t)};
                    add(static_cast<std::uint16_t>(b << 8 | t), std::string_view(code, 2), 0);
                }
            } else {
                const char one = static_cast<char>(b);
                add(static_cast<std::uint16_t>(b), std::string_view(&one, 1), 0);
            }
        }
        return map;
    }();
    return sources;
}

const UnicodeSources& unicodeFoldSources() {
    static const UnicodeSources sources = [] {
        UnicodeSources map;
        for (unsigned u = 0; u < 0x10000; ++u) {
            const auto c = static_cast<char16_t>(u);
            if (u >= 0xD800 && u <= 0xDFFF)
                continue;
            for (char16_t unit : platform::foldForMatch(std::u16string_view(&c, 1))) {
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
        AnsiSources map;
        for (unsigned u = 0; u < 0x10000; ++u) {
            const auto c = static_cast<char16_t>(u);
            const std::uint16_t code = u >= 0xD800 && u <= 0xDFFF ? kNoCode
                                                                  : platform::unicodeToCp932Code(
                                                                        c, Cp932Fallback::BestFit);
            if (code != kNoCode)
                map[code].push_back(c);
        }
        // Only codes that more than one character turns into matter.
        for (auto it = map.begin(); it != map.end();)
            it = it->second.size() < 2 ? map.erase(it) : std::next(it);
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

// What a line holds for one character of a word: its bytes (ASCII letters in either case), or
// one of the triggers.
struct Piece {
    std::string raw;
    bool usable = true;
    bool letter = false;
    std::vector<std::uint32_t> triggers;  // CP932 codes, or code points
};

Piece unusable() {
    Piece p;
    p.usable = false;
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

    long score() const { return static_cast<long>(bytes.size()) - (triggers.empty() ? 0 : 2); }
};

// The most selective run of usable pieces; nullopt when no run is worth a search.
std::optional<Alternative> bestRun(const std::vector<Piece>& pieces) {
    std::optional<Alternative> best;
    auto consider = [&](std::size_t from, std::size_t to) {
        Alternative a;
        for (std::size_t i = from; i < to; ++i) {
            a.bytes += pieces[i].raw;
            a.caseless = a.caseless || pieces[i].letter;
            // A trigger of a piece of one ASCII character carries that character (upper case)
            // above its key: what it stands for in a line read as ASCII.
            const std::string& raw = pieces[i].raw;
            const std::uint32_t image =
                raw.size() == 1 && static_cast<unsigned char>(raw[0]) < 0x80
                    ? static_cast<std::uint32_t>(std::toupper(static_cast<unsigned char>(raw[0])))
                    : 0;
            for (std::uint32_t key : pieces[i].triggers)
                a.triggers.push_back(key | image << 16);
        }
        if (a.score() >= 2 && (!best || a.score() > best->score()))
            best = std::move(a);
    };
    for (std::size_t i = 0; i < pieces.size();) {
        if (!pieces[i].usable) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < pieces.size() && pieces[j].usable)
            ++j;
        consider(i, j);
        // The parts of the run without triggers, too.
        for (std::size_t k = i; k < j;) {
            if (!pieces[k].triggers.empty()) {
                ++k;
                continue;
            }
            std::size_t m = k;
            while (m < j && pieces[m].triggers.empty())
                ++m;
            consider(k, m);
            k = m;
        }
        i = j;
    }
    return best;
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
    m.aligned = a.aligned && b.aligned;
    if (m.score() < 2 || m.score() + 2 < std::min(a.score(), b.score()))
        return std::nullopt;
    return m;
}

using Plan = std::vector<Alternative>;

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

// In a UTF-8 text, how the character `c` of a word's exact form shows up.
Piece exactUtf8Piece(char32_t c) {
    if (c == 0xFFFD || (c >= 0xD800 && c <= 0xDFFF))
        return unusable();  // invalid bytes decode to it
    Piece p;
    p.raw = utf8Of(c);
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
            if (other == c)
                continue;
            if (!rareUnicode(other))
                return unusable();
            p.triggers.push_back(other);
        }
    }
    return p;
}

// In a UTF-8 text, how the character `c` of a word's folded form shows up.
Piece foldedUtf8Piece(char32_t c) {
    if (c == 0xFFFD || (c >= 0xD800 && c <= 0xDFFF))
        return unusable();
    Piece p;
    p.raw = utf8Of(c);
    if (c >= 0x10000)
        return p;
    p.letter = isAsciiLetter(c);
    const auto& folded = unicodeFoldSources();
    if (auto it = folded.find(static_cast<char16_t>(c)); it != folded.end()) {
        for (char16_t other : it->second) {
            if (p.letter && isAsciiLetter(other) && (other | 0x20) == (c | 0x20))
                continue;
            if (!rareUnicode(other))
                return unusable();
            p.triggers.push_back(other);
        }
    }
    return p;
}

// In a CP932 text, how the code `f` of a word's folded form shows up.
Piece foldedCp932Piece(std::uint16_t f) {
    Piece p;
    p.raw = cp932BytesOf(f);
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

// The exact pass over UTF-8 text sees the line's ANSI form, where a word may also start on
// the second byte of a double-byte character: then the characters after it are those of
// its bytes read from the second one on.
std::optional<Plan> exactUtf8Plan(const Word& word) {
    Plan plan;
    std::vector<Piece> pieces;
    for (char32_t c : codePoints(platform::utf8ToUtf16(word.typed)))
        pieces.push_back(exactUtf8Piece(c));
    auto aligned = bestRun(pieces);
    if (!aligned)
        return std::nullopt;
    plan.push_back(std::move(*aligned));

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
    auto shifted = bestRun(pieces);
    if (!shifted)
        return std::nullopt;
    addAlternative(plan, std::move(*shifted));
    return plan;
}

std::optional<Plan> wordPlan(const Matcher& matcher, const Word& word, TextForm form) {
    Plan plan;
    if (form == TextForm::Cp932) {
        if (word.formless.empty()) {
            const std::string_view exact = requiredCp932Bytes(word);
            if (exact.size() < 2)
                return std::nullopt;
            const bool ascii = std::all_of(word.ansi.begin(), word.ansi.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x80;
            });
            plan.push_back(Alternative{std::string(exact), false, {}, ascii});
        }
        if (!matcher.strict() && word.foldedInCp932) {
            std::vector<Piece> pieces;
            for (std::uint16_t f : codesOf(word.foldedAnsi))
                pieces.push_back(foldedCp932Piece(f));
            auto folded = bestRun(pieces);
            if (!folded)
                return std::nullopt;
            addAlternative(plan, std::move(*folded));
        }
        return plan;
    }
    auto exact = exactUtf8Plan(word);
    if (!exact)
        return std::nullopt;
    for (Alternative& a : *exact)
        addAlternative(plan, std::move(a));
    if (!matcher.strict()) {
        std::vector<Piece> pieces;
        for (char32_t c : codePoints(word.folded))
            pieces.push_back(foldedUtf8Piece(c));
        auto folded = bestRun(pieces);
        if (!folded)
            return std::nullopt;
        addAlternative(plan, std::move(*folded));
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
                p.raw = std::string(1, static_cast<char>(c));
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
                p.raw = utf8Of(c);
            } else {
                const std::uint16_t code = platform::unicodeToCp932Code(static_cast<char16_t>(c));
                if (code == kNoCode)
                    return Plan{};  // a character no CP932 line holds
                p.raw = cp932BytesOf(code);
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
    auto run = bestRun(pieces);
    if (!run)
        return std::nullopt;
    return Plan{std::move(*run)};
}

// How often a byte turns up in Japanese text, roughly: the rarer of a needle's bytes are
// checked first.
int commonness(unsigned char b, TextForm form) {
    if (b == ' ' || b == '\t')
        return 8;
    if (b < 0x80)
        return isAsciiLetter(b) ? 4 : 3;
    if (form == TextForm::Cp932)
        return (b >= 0x81 && b <= 0x83) ? 9 : (b >= 0x9F && b <= 0xF1) ? 5 : 4;
    return b == 0xE3 ? 9 : (b >= 0x80 && b <= 0x83) ? 8 : (b < 0xC0) ? 4 : 6;
}

inline __m128i load(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

LineFilter::LineFilter(const Matcher& matcher, TextForm form) : m_form(form) {
    if (matcher.targetStrsNumber() == 0)
        return;
    std::optional<Plan> plan;
    if (matcher.regular()) {
        if (!matcher.patternValid()) {
            plan = Plan{};  // never matches
        } else {
            plan = patternPlan(matcher, form);
        }
    } else if (matcher.isAndCondition()) {
        // Every word must be there: looking for one will do; the most selective one.
        for (int i = 0; i < matcher.targetStrsNumber(); ++i) {
            auto candidate = wordPlan(matcher, matcher.word(i), form);
            auto weakest = [](const Plan& p) {
                long score = 1000000;
                for (const Alternative& a : p)
                    score = std::min(score, a.score());
                return score;
            };
            if (candidate && (!plan || weakest(*candidate) > weakest(*plan)))
                plan = std::move(candidate);
        }
    } else {
        plan = Plan{};
        for (int i = 0; i < matcher.targetStrsNumber() && plan; ++i) {
            auto wordAlternatives = wordPlan(matcher, matcher.word(i), form);
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
    bool aligned = true;
    for (Alternative& a : *plan) {
        aligned = aligned && a.aligned;
        Needle needle{std::move(a.bytes), a.caseless, 0, 0};
        // The two rarest bytes, as far apart as they come.
        std::vector<std::size_t> order(needle.bytes.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
            return commonness(static_cast<unsigned char>(needle.bytes[x]), form) <
                   commonness(static_cast<unsigned char>(needle.bytes[y]), form);
        });
        // The rarest byte, and the rarest of those at least half the needle away from it.
        needle.anchor1 = order[0];
        needle.anchor2 = order[0];
        const std::size_t apart = std::max<std::size_t>(1, order.size() / 2);
        for (std::size_t k = 1; k < order.size(); ++k) {
            const std::size_t distance =
                order[k] > order[0] ? order[k] - order[0] : order[0] - order[k];
            if (needle.anchor2 == order[0] || distance >= apart) {
                needle.anchor2 = order[k];
                if (distance >= apart)
                    break;
            }
        }
        if (needle.anchor1 > needle.anchor2)
            std::swap(needle.anchor1, needle.anchor2);
        m_needles.push_back(std::move(needle));
        triggers.insert(triggers.end(), a.triggers.begin(), a.triggers.end());
    }
    std::sort(triggers.begin(), triggers.end());
    triggers.erase(std::unique(triggers.begin(), triggers.end()), triggers.end());
    // Lines can be read as ASCII (lineMayMatch) when every needle is ASCII and every trigger
    // stands for one ASCII character.
    m_asciiView = !m_needles.empty() && aligned;
    for (const Needle& needle : m_needles) {
        m_asciiView =
            m_asciiView && std::all_of(needle.bytes.begin(), needle.bytes.end(), [](char c) {
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
        const auto first = static_cast<unsigned char>(bytes[0]);
        const auto second = static_cast<unsigned char>(bytes[1]);
        auto it = std::find_if(m_triggers.begin(), m_triggers.end(),
                               [&](const Trigger& t) { return t.first == first; });
        if (it == m_triggers.end()) {
            m_triggers.push_back(Trigger{first, second, second});
            it = std::prev(m_triggers.end());
        }
        it->low = std::min(it->low, second);
        it->high = std::max(it->high, second);
        m_triggerKeys.resize(0x10000, false);
        m_triggerKeys[key] = true;
    }
    if (m_triggers.size() > 8) {
        // Too many first bytes to look for at once: every line is to be matched.
        m_active = false;
        m_needles.clear();
        m_triggers.clear();
        m_asciiView = false;
    }
    if (m_asciiView) {
        for (const Needle& needle : m_needles) {
            std::string upper = needle.bytes;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            m_asciiNeedles.push_back(std::move(upper));
        }
    } else {
        m_triggerImage.clear();
    }
}

bool LineFilter::lineMayMatch(std::string_view line) const {
    if (!m_asciiView)
        return true;
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
    for (const Needle& n : m_needles) {
        out += out.empty() ? "" : " ";
        out += (n.caseless ? "ci:\"" : "\"") + n.bytes + "\"";
    }
    if (!m_triggers.empty())
        out += " +" + std::to_string(m_triggers.size()) + " trigger groups";
    return out.empty() ? "no line" : out;
}

std::size_t LineFilter::find(std::size_t finder, std::string_view block, std::size_t from) const {
    return finder < m_needles.size() ? findNeedle(m_needles[finder], block, from)
                                     : findTrigger(block, from);
}

std::size_t LineFilter::findNeedle(const Needle& needle, std::string_view block,
                                   std::size_t from) const {
    const std::size_t length = needle.bytes.size();
    if (length == 0 || from > block.size() || block.size() - from < length)
        return npos;
    const char* data = block.data();
    const std::size_t last = block.size() - length;  // the last place the needle may start
    auto matches = [&](std::size_t at) {
        if (!needle.caseless)
            return std::memcmp(data + at, needle.bytes.data(), length) == 0;
        for (std::size_t k = 0; k < length; ++k) {
            if (!sameCaseless(data[at + k], needle.bytes[k]))
                return false;
        }
        return true;
    };
    // Both anchor bytes compared sixteen places at a time; a letter of a caseless needle with
    // its case bit set.
    auto anchor = [&](std::size_t k, __m128i& value, __m128i& mask) {
        const auto b = static_cast<unsigned char>(needle.bytes[k]);
        const bool letter = needle.caseless && isAsciiLetter(b);
        value = _mm_set1_epi8(static_cast<char>(letter ? (b | 0x20) : b));
        mask = _mm_set1_epi8(static_cast<char>(letter ? 0x20 : 0));
    };
    __m128i v1, m1, v2, m2;
    anchor(needle.anchor1, v1, m1);
    anchor(needle.anchor2, v2, m2);
    std::size_t at = from;
    for (; at + needle.anchor2 + 16 <= block.size() && at <= last; at += 16) {
        const __m128i e1 = _mm_cmpeq_epi8(_mm_or_si128(load(data + at + needle.anchor1), m1), v1);
        const __m128i e2 = _mm_cmpeq_epi8(_mm_or_si128(load(data + at + needle.anchor2), m2), v2);
        auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(e1, e2)));
        while (bits) {
            const std::size_t candidate = at + static_cast<std::size_t>(__builtin_ctz(bits));
            if (candidate <= last && matches(candidate))
                return candidate;
            bits &= bits - 1;
        }
    }
    for (; at <= last; ++at) {
        if (matches(at))
            return at;
    }
    return npos;
}

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
        return key < m_triggerKeys.size() && m_triggerKeys[key];
    };
    // Every group in one pass: its first byte, and its second byte in range (x - low <= high -
    // low, unsigned, by saturating subtraction).
    struct Group {
        __m128i first;
        __m128i low;
        __m128i span;
    };
    std::array<Group, 8> groups{};
    const std::size_t count = std::min(m_triggers.size(), groups.size());
    for (std::size_t g = 0; g < count; ++g) {
        groups[g] = {_mm_set1_epi8(static_cast<char>(m_triggers[g].first)),
                     _mm_set1_epi8(static_cast<char>(m_triggers[g].low)),
                     _mm_set1_epi8(static_cast<char>(m_triggers[g].high - m_triggers[g].low))};
    }
    const __m128i zero = _mm_setzero_si128();
    std::size_t at = from;
    for (; at + 17 <= n; at += 16) {
        const __m128i v0 = load(data + at);
        const __m128i v1 = load(data + at + 1);
        __m128i hit = zero;
        for (std::size_t g = 0; g < count; ++g) {
            const __m128i inRange = _mm_cmpeq_epi8(
                _mm_subs_epu8(_mm_sub_epi8(v1, groups[g].low), groups[g].span), zero);
            hit = _mm_or_si128(hit, _mm_and_si128(_mm_cmpeq_epi8(v0, groups[g].first), inRange));
        }
        auto bits = static_cast<unsigned>(_mm_movemask_epi8(hit));
        while (bits) {
            const std::size_t candidate = at + static_cast<std::size_t>(__builtin_ctz(bits));
            if (isKey(candidate))
                return candidate;
            bits &= bits - 1;
        }
    }
    for (; at < n; ++at) {
        if (isKey(at))
            return at;
    }
    return npos;
}

LineFilter::Scan::Scan(const LineFilter& filter, std::string_view block)
    : m_filter(filter),
      m_block(block),
      m_nextAt(filter.m_needles.size() + (filter.m_triggers.empty() ? 0 : 1), 0),
      m_fresh(m_nextAt.size(), false) {}

std::size_t LineFilter::Scan::next(std::size_t from) {
    std::size_t best = npos;
    for (std::size_t k = 0; k < m_nextAt.size(); ++k) {
        if (!m_fresh[k] || (m_nextAt[k] != npos && m_nextAt[k] < from)) {
            m_nextAt[k] = m_filter.find(k, m_block, from);
            m_fresh[k] = true;
        }
        best = std::min(best, m_nextAt[k]);
    }
    return best;
}

std::vector<std::u32string> requiredPatternRuns(std::u16string_view pattern) {
    std::vector<std::u32string> runs;
    std::u32string run;
    bool lastWasLiteral = false;  // the last atom is the last character of `run`
    auto flush = [&] {
        if (!run.empty())
            runs.push_back(run);
        run.clear();
        lastWasLiteral = false;
    };
    auto hex = [&](std::size_t at, std::size_t digits) -> long {
        if (at + digits > pattern.size())
            return -1;
        const std::optional<std::uint32_t> value = platform::hexValue(pattern.substr(at, digits));
        return value ? static_cast<long>(*value) : -1;
    };
    // Past a character class or escape inside one, from its '['.
    auto skipClass = [&](std::size_t i) {
        ++i;
        if (i < pattern.size() && pattern[i] == '^')
            ++i;
        for (; i < pattern.size() && pattern[i] != ']'; ++i) {
            if (pattern[i] == '\\')
                ++i;
        }
        return i + 1;
    };
    auto skipLazy = [&](std::size_t i) {
        return i < pattern.size() && pattern[i] == '?' ? i + 1 : i;
    };
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char16_t c = pattern[i];
        if (c == '\\') {
            if (i + 1 >= pattern.size())
                return {};
            const char16_t e = pattern[i + 1];
            long literal = -1;
            std::size_t used = 2;
            if (e == 'x' && hex(i + 2, 2) >= 0) {
                literal = hex(i + 2, 2);
                used = 4;
            } else if (e == 'u' && hex(i + 2, 4) >= 0) {
                literal = hex(i + 2, 4);
                used = 6;
            } else if (!(e < 0x80 && (std::isalnum(e) != 0))) {
                literal = e;  // an escaped sign stands for itself
            }
            i += used;
            if (literal < 0 || (literal >= 0xD800 && literal <= 0xDFFF)) {
                flush();
            } else {
                run.push_back(static_cast<char32_t>(literal));
                lastWasLiteral = true;
            }
            continue;
        }
        switch (c) {
            case '|':
            case ')':
                return {};  // alternatives (or a broken pattern): nothing is common to all
            case '[':
                flush();
                i = skipClass(i);
                continue;
            case '(': {
                flush();
                int depth = 0;
                for (; i < pattern.size(); ++i) {
                    if (pattern[i] == '\\') {
                        ++i;
                    } else if (pattern[i] == '[') {
                        i = skipClass(i) - 1;
                    } else if (pattern[i] == '(') {
                        ++depth;
                    } else if (pattern[i] == ')' && --depth == 0) {
                        break;
                    }
                }
                if (depth != 0)
                    return {};
                ++i;
                continue;
            }
            case '*':
            case '?':
                if (lastWasLiteral)
                    run.pop_back();
                flush();
                i = skipLazy(i + 1);
                continue;
            case '+':
                flush();
                i = skipLazy(i + 1);
                continue;
            case '{': {
                // {n}, {n,} or {n,m}; anything else is no quantifier, and no plain character.
                std::size_t k = i + 1;
                long least = 0;
                bool digits = false;
                while (k < pattern.size() && pattern[k] >= '0' && pattern[k] <= '9') {
                    least = std::min(least * 10 + (pattern[k] - '0'), 100000L);
                    digits = true;
                    ++k;
                }
                if (k < pattern.size() && pattern[k] == ',')
                    ++k;
                while (k < pattern.size() && pattern[k] >= '0' && pattern[k] <= '9')
                    ++k;
                const bool quantifier = digits && k < pattern.size() && pattern[k] == '}';
                if (quantifier && least == 0 && lastWasLiteral)
                    run.pop_back();
                flush();
                i = quantifier ? skipLazy(k + 1) : i + 1;
                continue;
            }
            case '.':
            case '^':
            case '$':
            case ']':
            case '}':
                flush();
                ++i;
                continue;
            default:
                break;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < pattern.size() && pattern[i + 1] >= 0xDC00 &&
            pattern[i + 1] <= 0xDFFF) {
            run.push_back(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                          (pattern[i + 1] - 0xDC00));
            i += 2;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            flush();
            ++i;
            continue;
        } else {
            run.push_back(c);
            ++i;
        }
        lastWasLiteral = true;
    }
    flush();
    return runs;
}

}  // namespace ferretta::search
