#include "search/hit.h"

#include <charconv>

#include "app/file_types.h"

namespace ferretta::search {

std::string_view cutAtCarriageReturn(std::string_view text) {
    std::size_t at = text.find('\r');
    return at == std::string_view::npos ? text : text.substr(0, at);
}

app::Host::RowHandle addResult(app::Host& host, app::Hit&& hit) {
    hit.content.resize(cutAtCarriageReturn(hit.content).size());
    return host.takeResult(std::move(hit));
}

app::Host::RowHandle addResult(app::Host& host, app::FileType fileType, std::string_view name,
                               std::string_view content, std::string_view location,
                               std::string_view position) {
    app::Hit hit;
    hit.fileType = fileType;
    hit.name = std::string(name);
    hit.content = std::string(cutAtCarriageReturn(content));
    hit.location = std::string(location);
    hit.position = std::string(position);
    return host.addResult(hit);  // cut already
}

OpenAction openActionFor(const app::Hit& hit) {
    using FT = app::FileType;
    OpenAction action;
    action.fileType = hit.fileType;
    action.location = hit.location;
    switch (hit.fileType) {
        case FT::OutlookTask:
        case FT::OutlookMail:
        case FT::OutlookCalendar:
        case FT::OutlookContact:
        case FT::OutlookNote:
            action.kind = OpenAction::Kind::Outlook;
            break;
        case FT::Word:
            action.kind = OpenAction::Kind::Word;
            action.search = hit.content;
            break;
        case FT::Excel: {
            action.kind = OpenAction::Kind::Excel;
            // A hit in a sheet is named book[sheet]. Sheet names cannot hold "[" but file names
            // can (見積[改].xls[Sheet1]): the sheet follows the last "[". A file-name hit ends
            // in its extension, not in "]", and opens the workbook alone.
            const std::size_t open = hit.name.rfind('[');
            if (open != std::string::npos && hit.name.back() == ']') {
                action.sheet = hit.name.substr(open + 1, hit.name.size() - open - 2);
                action.position = hit.position;
            }
            break;
        }
        case FT::Text:
            action.kind = OpenAction::Kind::TextEditor;
            action.position = hit.position;
            action.search = hit.content;
            break;
        case FT::Pdf: {
            action.kind = OpenAction::Kind::Pdf;
            std::int32_t page = 0;
            const char* first = hit.position.data();
            const char* last = first + hit.position.size();
            auto [ptr, ec] = std::from_chars(first, last, page);
            action.page = (ec == std::errc() && ptr == last && page > 0) ? page : 1;
            break;
        }
        case FT::PowerPoint:
            action.kind = OpenAction::Kind::PowerPoint;
            action.position = hit.position;
            break;
        default:
            action.kind = OpenAction::Kind::None;
            break;
    }
    return action;
}

}  // namespace ferretta::search
