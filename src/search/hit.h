#pragma once
// The hit record as every searcher reports it, and which opener a hit goes to.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/host.h"

namespace ferretta::search {

// The text up to (not including) its first carriage return.
std::string_view cutAtCarriageReturn(std::string_view text);

// Reports one hit to the host: content is cut at its first carriage return. Answers the row.
app::Host::RowHandle addResult(app::Host& host, app::Hit&& hit);

app::Host::RowHandle addResult(app::Host& host, app::FileType fileType, std::string_view name,
                               std::string_view content, std::string_view location,
                               std::string_view position);

// What a double-click (or Enter) on a hit does.
struct OpenAction {
    enum class Kind { None, TextEditor, Word, Excel, PowerPoint, Pdf, Outlook };
    Kind kind = Kind::None;
    app::FileType fileType = app::FileType::Unknown;
    std::string location;   // the path, or the item's reference text
    std::string search;     // Word: the matching text to jump to; text: the hit's line
    std::string sheet;      // Excel: the sheet of the hit; empty for a hit on the file name
    std::string position;   // text: "line,column"; Excel: "row,column"; PowerPoint: slide
    std::int32_t page = 1;  // PDF: the page to open at (1 when the hit has no page)
};

// Picks the opener for a row by its file-type number. Rows of unknown types, of types without
// an opener (Outlook Express, Access) and of type 0 open nothing.
OpenAction openActionFor(const app::Hit& hit);

}  // namespace ferretta::search
