#pragma once
// What a searcher extracted from one document, in the form the cache keeps it: the pieces of
// text its matcher runs over ("units"), each with where it stands in the document, and how the
// extraction ended. Stored as one compressed record per document.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::cache {

// One piece of a document as its searcher matches it. The meaning of the numbers is the
// searcher's: PDF page; Word element or line index; PowerPoint slide; Excel sheet (1-based
// index into Extract::names), row and column.
struct Unit {
    std::int32_t place = 0;
    std::int32_t row = 0;
    std::int32_t column = 0;
    std::string text;   // exactly what the matcher is given (Word: the element it splits)
    std::string shown;  // what a hit shows when that is not `text` (a formula cell's value)
    bool operator==(const Unit&) const = default;
};

struct Extract {
    std::vector<std::string> names;  // Excel: the sheet names, in workbook order
    std::vector<Unit> units;         // in the order the searcher meets them
    // How the extraction ended, in the searcher's own terms: 0 when it read the document to
    // its end; otherwise a code (with a text) that lets a cached search end the document the
    // same way the live one did, after the units above.
    std::int32_t outcome = 0;
    std::string outcomeText;
    std::int32_t count = 0;  // the searcher's own count (PowerPoint: slides; PDF: pages)
    bool operator==(const Extract&) const = default;
};

// The compact record: a small header, then the fields as variable-length integers and
// length-prefixed bytes, compressed with zlib (whose checksum catches a damaged record).
std::string encodeExtract(const Extract& extract);

// Reads a record written by encodeExtract. nullopt for anything else: a damaged, truncated or
// hostile record, or one of another format version. Never fails otherwise; memory is bounded
// by the record's size.
std::optional<Extract> decodeExtract(std::string_view record);

// The number of bytes of text the record holds (units' texts and shown texts), for the
// cache's accounting.
std::size_t textBytes(const Extract& extract);

}  // namespace ferretta::cache
