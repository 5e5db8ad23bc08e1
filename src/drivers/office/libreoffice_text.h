#pragma once
// The local half of reading Office documents: what the LibreOffice automation does with text
// once it has read it in bulk from the office (sentence splitting, paragraph marks, the cell
// find of a sheet), and the file URLs it hands the office. Free of UNO so that it can be tested
// without an office.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::platform::office::lo {

// Turns the office's paragraph and line separators ("\r\n", "\n", U+2029 and U+2028) into CR,
// as Word writes paragraph ends.
std::u16string breaksToCr(std::u16string_view text);

// Splits one paragraph (no paragraph mark inside) into sentences by the Japanese sentence
// rules of ICU: a sentence ends after "。" or "." and the blanks that follow, with or without
// a blank before the next one. The pieces concatenate to the paragraph; an empty paragraph
// gives no piece. Should ICU fail, the whole paragraph is one sentence.
std::vector<std::u16string> splitSentences(std::u16string_view paragraph);

// Word's Sentences of a main text whose paragraphs end with CR: every sentence of every
// paragraph, the last one of a paragraph carrying its CR; an empty paragraph is a sentence
// of its own ("\r").
std::vector<std::u16string> sentencesOfText(std::u16string_view textWithCrs);

// "file://" followed by the absolute form of the path, every byte outside the unreserved
// set and "/" percent-encoded. A relative path is taken from the current folder.
std::string fileUrlFromPath(const std::filesystem::path& path);

// The path of a "file://" URL (percent escapes decoded byte by byte); nullopt for any other
// URL or a malformed escape.
std::optional<std::string> pathFromFileUrl(std::string_view url);

// A sheet's used area as the office hands it out: rows of cell texts (empty for an empty
// cell), all rows of the same length. origin is the area's top-left cell (0-based row and
// column of the sheet).
struct CellGrid {
    std::vector<std::vector<std::u16string>> rows;
    std::int32_t originRow = 0;
    std::int32_t originColumn = 0;
};

struct GridHit {
    std::int32_t row = 0;  // 1-based, of the sheet
    std::int32_t column = 0;
    std::u16string text;
};

// Excel's Cells.Find(What, next, MatchCase = False, MatchByte = False) over a grid: the first
// cell, by rows from the cell after A1 onward and A1 last, whose text contains `what` when
// both are folded (letter case and full/half width). An empty word finds nothing.
std::optional<GridHit> findInGrid(const CellGrid& grid, std::u16string_view what);

}  // namespace ferretta::platform::office::lo
