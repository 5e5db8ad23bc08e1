#pragma once
// Excel's cell find, Cells.Find(What, MatchCase = False, MatchByte = False), for one cell: the
// cell's text contains the word, both folded to half width and upper case, where "*" in the
// word stands for any run of characters, "?" for any one, and "~" before "*", "?" or "~" for
// that character itself. The LibreOffice automation, the in-memory office of the tests and the
// Excel searcher's search of kept cells all find cells with it.
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::platform::office {

class CellPattern {
  public:
    explicit CellPattern(std::u16string_view word);

    // An empty word finds nothing.
    bool empty() const { return m_units.empty(); }

    // Whether a cell holding this text (not folded) is found.
    bool foundIn(std::u16string_view cellText) const;

    // The folded runs of literal characters between the wildcards: a cell that is found holds
    // every one of them.
    std::vector<std::u16string> literalRuns() const;

    // The longest run of the word's characters that folding leaves as they are and that no
    // other character folds to (kanji, hiragana): a cell that is found holds it unchanged, so a
    // byte search for it in the cell's text can rule cells out before any folding. Empty when
    // the word has no such character.
    std::u16string plainRun() const;

    // Whether folding keeps `unit` and makes it of no other unit.
    static bool keepsItself(char16_t unit);

  private:
    struct Unit {
        char16_t unit;
        enum class Kind : unsigned char { Literal, AnyOne, AnyRun } kind;
    };
    std::vector<Unit> m_units;
};

}  // namespace ferretta::platform::office
