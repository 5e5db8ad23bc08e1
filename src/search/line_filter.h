#pragma once
// Finding the lines of a block of text that may match the query without matching every line:
// a byte search for what every matching line must hold (a "required literal"), then the
// matcher on those lines alone.
//
// For a word the literal is the longest part that folding and the CP932 conversion leave as
// it is (kanji and hiragana; ASCII letters in either case), together with the few other
// characters that would fold or convert to it ("triggers": the full-width letters of an ASCII
// word, a duplicate code of an ideograph, the best-fit sources of a letter). A line holding a
// trigger is looked at whatever else it holds. A regular expression gives the longest run of
// plain characters it must match.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "search/byte_scan.h"
#include "search/query.h"

namespace ferretta::search {

// The encoding of the bytes the filter looks at.
enum class TextForm { Cp932, Utf8 };

class LineFilter {
  public:
    // Read-only once made: several threads may scan with one.
    LineFilter(const Matcher& matcher, TextForm form);

    // False when the query gives nothing that every matching line holds (a one-letter word, a
    // katakana word whose width may vary letter by letter, a pattern of classes only): then
    // every line is to be matched.
    bool active() const { return m_active; }

    // False when the line, found by the scan, cannot match after all: for a word of ASCII
    // letters, a line whose letters (full-width ones read as ASCII) do not spell the needle.
    // Cheaper than matching the line; true when the filter cannot tell.
    bool lineMayMatch(std::string_view line) const;

    // What the filter looks for, for tests and the debug log ("abc", ci:"ERR", trigger count).
    std::string describe() const;

    // One pass over one block.
    class Scan {
      public:
        Scan(const LineFilter& filter, std::string_view block);
        // The offset, at or after `from`, of a byte of the next line that may match; npos
        // when no line from `from` on can.
        std::size_t next(std::size_t from);
        // LineFilter::lineMayMatch for the line that holds the place next() answered last
        // (`line` is a part of the block), without reading the line where the place tells
        // already: a UTF-8 line found at a trigger of an ASCII word is read only around its
        // triggers. True when the filter cannot tell.
        bool lineMayMatch(std::string_view line);

      private:
        const LineFilter& m_filter;
        std::string_view m_block;
        LiteralFinder::Scan m_literals;
        std::size_t m_triggerAt = 0;  // the next trigger's place, npos: none left
        bool m_triggerKnown = false;
        bool m_atLiteral = false;     // the last place is where a literal starts
        std::size_t m_at = 0;         // the last place answered
        std::size_t m_literalAt = 0;  // the next literal's place at the last call, npos: none
    };

  private:
    // The characters starting with `first` (and `second`, for three-byte UTF-8 ones) whose
    // next byte lies in [low, high], among which those whose key (the CP932 code, or the code
    // point) is in m_triggerKeys.
    struct Trigger {
        unsigned char first;
        int second;  // -1: two-byte characters
        unsigned char low;
        unsigned char high;
    };

    // A trigger group as the vector loop compares it: a place is a candidate when its byte
    // masked by `firstMask` is `first`, for three-byte characters the next byte masked by
    // `secondMask` is `second`, and the byte after those (bit 0x20 flipped where the second
    // byte is `flipWhen`) lies in [low, high]. Groups that differ in one bit share a lane,
    // which then stands for more characters than their own: the candidates are checked one
    // by one.
    struct Lane {
        unsigned char first;
        unsigned char firstMask;
        int second;  // -1: two-byte characters
        unsigned char secondMask;
        int flipWhen;  // -1: no flip
        unsigned char low;
        unsigned char high;
    };

    // The characters a trigger must stand next to (UTF-8 only), one of them on either side.
    struct TriggerNeighbours {
        bool any = true;
        std::vector<char32_t> left;
        std::vector<char32_t> right;
    };

    void makeLanes();
    std::size_t findTrigger(std::string_view block, std::size_t from) const;
    // The second runs of the words (UTF-8), unless the scan looks for the same literals.
    void makeConfirmation(std::vector<LiteralFinder::Literal> second,
                          const std::vector<std::uint32_t>& triggers,
                          const std::vector<LiteralFinder::Literal>& first);
    void dropConfirmation();
    // Whether the line holds one of the second runs' literals or triggers (true without them).
    bool confirmed(std::string_view line) const;
    // Whether the bytes read as ASCII (letters in upper case, each trigger as the character
    // it stands for) show one of m_asciiNeedles.
    bool asciiViewHolds(std::string_view bytes) const;
    bool neighboursFit(std::string_view block, std::size_t at, std::size_t length,
                       std::uint32_t key) const;

    TextForm m_form;
    bool m_active = false;
    LiteralFinder m_literals;
    std::vector<Trigger> m_triggers;  // looked for in one pass
    std::vector<Lane> m_lanes;        // how the pass compares them
    std::vector<bool> m_triggerKeys;
    // Per trigger key, 1 + the index of the neighbours it must stand next to in
    // m_neighbourSets; 0 for one that counts wherever it stands (empty: every trigger does).
    // A flat table: it is read for every trigger the scan finds.
    std::vector<std::uint16_t> m_neighbourIndex;
    std::vector<TriggerNeighbours> m_neighbourSets;
    bool m_asciiView = false;
    std::vector<std::string> m_asciiNeedles;  // upper case
    std::size_t m_longestNeedle = 0;
    std::vector<char> m_triggerImage;  // per trigger key: the ASCII character it stands for
    // What a UTF-8 line found by the scan must hold besides: a literal of the words' second
    // runs, or one of their triggers (code points; and their first two bytes, b0 << 8 | b1).
    bool m_confirmActive = false;
    LiteralFinder m_confirm;
    std::vector<bool> m_confirmKeys;
    std::vector<bool> m_confirmStarts;
};

// The runs of plain characters (no class, no optional part, nothing inside a group) that every
// match of the pattern (JScript syntax) holds, each in a row; ASCII letters stand for either
// case. Empty when there is none, the pattern has alternatives at its top level or it is
// broken.
std::vector<std::u32string> requiredPatternRuns(std::u16string_view pattern);

}  // namespace ferretta::search
