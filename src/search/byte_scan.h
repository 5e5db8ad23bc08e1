#pragma once
// The byte loops of the text search, vectorised: line ends counted and found, and the search
// for any of a few literals over a whole buffer. AVX2 where the processor has it (checked
// once at run time), SSE2 otherwise; every answer is the same either way.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::search {

// Whether the processor runs the AVX2 loops (they use popcnt too); checked once.
bool haveAvx2();

// How many lines end in the bytes: LF, CR LF and a lone CR each end one. A CR as the last byte
// counts as a line end.
std::size_t countLineEnds(std::string_view bytes);

// The first CR or LF at or after `from`; the size of the bytes when there is none.
std::size_t lineEndFrom(std::string_view bytes, std::size_t from);

// The start of the line that holds the byte at `at`: just after the last CR or LF before it,
// or 0.
std::size_t lineStartOf(std::string_view bytes, std::size_t at);

// The code point of the UTF-8 character at `at` (U+FFFD for a broken or cut one, which then
// counts as one byte); `length` gets its length in bytes.
char32_t utf8CharAt(std::string_view bytes, std::size_t at, std::size_t& length);

// Whether the bytes hold a NUL.
bool holdsNul(std::string_view bytes);

// Finds the first place where any of a set of literals starts. Few literals are each found by
// two of their rarest bytes at once; more are found together by their fingerprints (four of
// their bytes, or in UTF-8 the last two bytes of a character that is not common, by nibble
// tables, as the Teddy algorithm of the Hyperscan and ripgrep authors does) and then compared.
// Read-only once made: several threads may search with one.
class LiteralFinder {
  public:
    struct Literal {
        std::string bytes;      // never empty
        bool caseless = false;  // ASCII letters match in either case
    };

    // What the literals and the blocks are: any bytes (CP932), or UTF-8, where the finder
    // also knows which characters are common in Japanese text and avoids them.
    enum class Text { Bytes, Utf8 };

    // Literals that are empty are dropped. With none left, find() never finds anything. The
    // text kind only steers which bytes are looked for; what is found is the same either way.
    explicit LiteralFinder(std::vector<Literal> literals, Text text = Text::Bytes);
    LiteralFinder() = default;

    // The smallest offset at or after `from` where one of the literals starts in the block (it
    // lies wholly inside the block); npos when there is none.
    std::size_t find(std::string_view block, std::size_t from) const;

    // One pass over one block, for places that never go back: each part of the search goes
    // on from where it stopped, so a literal that is rare is not looked for again from every
    // place another one is found at.
    class Scan {
      public:
        Scan(const LiteralFinder& finder, std::string_view block);
        // As find(block, from); `from` must not be smaller than at the call before.
        std::size_t next(std::size_t from);

      private:
        const LiteralFinder& m_finder;
        std::string_view m_block;
        std::vector<std::size_t> m_nextAt;  // per part; kUnknown before its first search
    };

    bool empty() const { return m_literals.empty(); }
    const std::vector<Literal>& literals() const { return m_literals; }

  private:
    // A literal found by two anchor bytes compared at once: `anchor1` and `anchor2` are
    // offsets into it.
    struct Anchored {
        std::size_t literal;
        std::size_t anchor1;
        std::size_t anchor2;
    };
    std::size_t parts() const;
    std::size_t findPart(std::size_t part, std::string_view block, std::size_t from) const;
    std::size_t findAnchored(const Anchored& a, std::string_view block, std::size_t from) const;
    std::size_t findByFingerprint(std::string_view block, std::size_t from) const;
    bool matchesAt(const Literal& literal, std::string_view block, std::size_t at) const;

    std::vector<Literal> m_literals;
    std::vector<Anchored> m_anchored;  // few literals
    // The fingerprint search: per fingerprint byte (up to 4) the literals' buckets by low and
    // by high nibble; per literal the offset of its fingerprint in it; per bucket its literals.
    std::size_t m_fingerprintLength = 0;
    std::uint8_t m_low[4][16] = {};
    std::uint8_t m_high[4][16] = {};
    std::vector<std::size_t> m_fingerprintAt;
    std::vector<std::size_t> m_bucket[8];
    std::size_t m_longestOffset = 0;
};

}  // namespace ferretta::search
