#pragma once
// Where a document reader hands out what it read: the document's units, each a piece of text
// with its place in the document, exactly as the searcher of the document's type matches it.
//
// The units of each type, as the Office searchers have always matched them (the document
// cache keeps the same units):
// - Word, normal mode: the non-empty elements, place = the element's index (sentences 1..n in
//   order, then text shape j as n + j); text = the element, paragraph ends inside it as CR.
// - Word, fast mode: the non-empty lines of the main text split at CR, place = the 0-based
//   line index.
// - Excel: sheet(name) before each sheet's cells; then its non-empty cells by rows, place =
//   the sheet's 1-based index, row and column 1-based; text = what the cell find looks in (the
//   formula of a formula cell, else its content as the office gives it as a formula); shown =
//   the value the office shows for a formula cell (empty for other cells).
// - PowerPoint: per slide in order, the non-empty texts of the slide's shapes (each group's
//   members after the group itself), line breaks removed; place = the 1-based slide number.
#include <cstdint>
#include <string_view>

namespace ferretta::documents {

struct UnitView {
    std::int32_t place = 0;
    std::int32_t row = 0;
    std::int32_t column = 0;
    std::string_view text;
    std::string_view shown;
    // Excel: false when the reader could not tell what the office shows for this formula cell
    // (no value was stored with it). A search that would report this cell needs the office.
    bool shownKnown = true;
};

class UnitSink {
  public:
    virtual ~UnitSink() = default;
    // Excel: the next sheet begins (its index is the number of sheet calls so far).
    virtual void sheet(std::string_view /*name*/) {}
    // One unit, in document order. The views are valid during the call only. Answers false
    // to stop the reading (the search was stopped).
    virtual bool unit(const UnitView& unit) = 0;
};

}  // namespace ferretta::documents
