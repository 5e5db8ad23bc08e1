#pragma once
// The local half of reading Office documents: what the LibreOffice automation does with text
// once it has read it in bulk from the office (the cell find of a sheet), and the file URLs it
// hands the office (sentences and paragraph marks: documents/sentences.h). Free of UNO so that it
// can be tested without an office.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::platform::office::lo {

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
