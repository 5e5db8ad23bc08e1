#pragma once
// CMaps: the PostScript-like resources that cut a string of a composite font into character
// codes and map the codes to CIDs (an /Encoding CMap) or to Unicode text (a /ToUnicode CMap).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::pdf {

// One character code of a string: its value and its length in bytes (1 to 4).
struct CharCode {
    std::uint32_t value = 0;
    std::uint8_t length = 0;
};

// Appends the UTF-8 form of a code point (below U+110000) to `out`.
void appendUtf8(char32_t c, std::string& out);

class CMap;
using CMapPtr = std::shared_ptr<const CMap>;

// Answers the CMap that a "/Name usecmap" names; `depth` is the nesting of the CMap asking (1
// for the first parent). Null when the name is unknown.
using CMapResolver = std::function<CMapPtr(std::string_view name, int depth)>;

class CMap {
  public:
    // Reads a CMap's text: codespace ranges, cidchar/cidrange, bfchar/bfrange (hex targets in
    // UTF-16BE, or in a range also an array of targets), and "/Name usecmap" through `resolver`
    // (not called past maxUseDepth, nor without a resolver). Glyph-name targets, notdef ranges,
    // /WMode and everything PostScript are skipped. Entries whose codes are not 1 to 4 bytes,
    // whose range ends differ in length or run backwards, and unknown tokens are skipped; past
    // maxEntries the remaining entries are ignored. Never fails: text that is no CMap gives an
    // empty one. Where entries overlap, the later one wins, and the CMap's own entries win over
    // those of the CMap it uses.
    static CMapPtr parse(std::string_view text, const CMapResolver& resolver = {}, int depth = 0);

    // The next code of `bytes` from `at` (at < bytes.size()), cut by the codespace ranges: the
    // shortest length whose range holds every byte. A byte sequence no range holds is taken as
    // one invalid code (length 0 value; `valid` false) as long as the ranges whose first byte
    // match, or the shortest range, so that the reading goes on. With no codespace ranges at
    // all (also in the used CMaps), codes are 2 bytes. Never reads past the end: a code cut
    // short there is invalid and takes the remaining bytes.
    CharCode nextCode(std::string_view bytes, std::size_t at, bool& valid) const;

    // The CID of a code; nullopt when no cidchar/cidrange covers it.
    std::optional<std::uint32_t> cidOf(CharCode code) const;

    // Appends the Unicode text (UTF-8) of a code to `out`; false when no bfchar/bfrange covers
    // it. Codes are matched by length first, then by value alone (ToUnicode CMaps written with
    // 2-byte codes for a simple font). Unpaired surrogates and NUL are dropped.
    bool appendText(CharCode code, std::string& out) const;

    bool hasCids() const;
    bool hasCodespace() const { return !m_codespace.empty(); }
    bool hasText() const;
    // How many codespace ranges, CID entries and text entries this CMap holds itself.
    std::size_t entryCount() const { return m_cids.size() + m_text.size(); }

    static constexpr int maxUseDepth = 8;
    static constexpr std::size_t maxEntries = 400'000;
    static constexpr std::size_t maxCodespaceRanges = 256;
    static constexpr std::size_t maxTargetUnits = 64;  // UTF-16 units of one text target

    struct Segment {
        std::uint64_t low;  // (length << 32) | code
        std::uint64_t high;
        std::uint64_t value;  // CID at `low`; for text: (target index << 32) | offset
    };
    struct CodespaceRange {
        std::uint8_t length;
        std::uint8_t low[4];
        std::uint8_t high[4];
    };

  private:
    friend class CMapBuilder;

    const Segment* findCid(std::uint64_t key) const;
    const CMap* findText(std::uint64_t key, const Segment** segment) const;

    std::vector<CodespaceRange> m_codespace;  // own and inherited
    std::vector<Segment> m_cids;              // sorted, not overlapping
    std::vector<Segment> m_text;
    std::vector<std::u16string> m_targets;
    CMapPtr m_parent;
};

}  // namespace ferretta::pdf
