#include "hits/hit_context.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <limits>
#include <map>
#include <new>
#include <optional>
#include <utility>

#include "cache/units.h"
#include "documents/native_reader.h"
#include "pdf/engine/fonts/cid_map.h"
#include "pdf/engine/text_dump.h"
#include "platform/cp932.h"
#include "platform/error.h"
#include "platform/line_reader.h"
#include "search/hit.h"
#include "search/path_helpers.h"
#include "searchers/outlook/outlook_search.h"

namespace ferretta::hits {
namespace {

// How far a text context reads on either side of the hit's line: enough for a few lines of
// any sensible length, and a fixed cost however big the file.
constexpr std::size_t kReadBytes = 64 * 1024;

// Units of one document kept for its next hits; a bigger document is read again each time.
constexpr std::size_t kKeptBytes = std::size_t{24} << 20;

// The position field's numbers: "12,5" -> {12, 5}; "3" -> {3, 0}.
std::pair<std::int64_t, std::int64_t> positionNumbers(std::string_view position) {
    std::int64_t first = 0;
    std::int64_t second = 0;
    const std::size_t comma = position.find(',');
    const std::string_view a = position.substr(0, comma);
    std::from_chars(a.data(), a.data() + a.size(), first);
    if (comma != std::string_view::npos) {
        const std::string_view b = position.substr(comma + 1);
        std::from_chars(b.data(), b.data() + b.size(), second);
    }
    return {first, second};
}

std::size_t charLength(std::string_view text, std::size_t at, bool utf8) {
    const auto b = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    if (utf8) {
        length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    } else if (platform::isCp932LeadByte(b)) {
        length = 2;
    }
    return std::min(length, text.size() - at);
}

// The ANSI width of the character at `at` (what the hit's column counts): one byte for ASCII
// and half-width katakana, two for the rest.
std::int64_t ansiWidth(std::string_view text, std::size_t at, bool utf8) {
    if (!utf8)
        return static_cast<std::int64_t>(charLength(text, at, false));
    const auto b = static_cast<unsigned char>(text[at]);
    if (b < 0x80)
        return 1;
    // U+FF61..U+FF9F: EF BD A1..EF BE 9F.
    if (b == 0xEF && at + 2 < text.size()) {
        const auto b1 = static_cast<unsigned char>(text[at + 1]);
        const auto b2 = static_cast<unsigned char>(text[at + 2]);
        if ((b1 == 0xBD && b2 >= 0xA1) || (b1 == 0xBE && b2 <= 0x9F))
            return 1;
    }
    return 2;
}

std::string decode(std::string_view bytes, bool utf8) {
    return utf8 ? std::string(bytes) : platform::cp932ToUtf8(bytes);
}

// A line as shown: cut to kContextLineBytes on character boundaries, around the byte where the
// hit is when that lies beyond the cut. `complete`: the bytes hold the whole line.
std::string shownLine(std::string_view line, bool utf8, bool complete, std::int32_t hitColumn) {
    if (line.size() <= kContextLineBytes && complete)
        return decode(line, utf8);
    // Where the hit is: walk the characters counting the column's units.
    std::size_t hitAt = 0;
    if (hitColumn > 1) {
        std::int64_t column = 1;
        while (hitAt < line.size() && column < hitColumn) {
            column += ansiWidth(line, hitAt, utf8);
            hitAt += charLength(line, hitAt, utf8);
        }
    }
    std::size_t begin = 0;
    std::size_t at = 0;
    while (hitAt > kContextLineBytes / 2 && at < hitAt - kContextLineBytes / 2) {
        at += charLength(line, at, utf8);
        begin = at;
    }
    std::size_t end = begin;
    while (end < line.size() && end - begin < kContextLineBytes)
        end += charLength(line, end, utf8);
    std::string shown = begin > 0 ? std::string(kEllipsis) : std::string();
    shown += decode(line.substr(begin, end - begin), utf8);
    if (end < line.size() || !complete)
        shown += kEllipsis;
    return shown;
}

bool isLineEnd(char c) {
    return c == '\n' || c == '\r';
}

// The length of the line at the start of `bytes`, and of the line end after it (0 when none
// is in the bytes).
std::pair<std::size_t, std::size_t> lineAtStart(std::string_view bytes) {
    std::size_t end = 0;
    while (end < bytes.size() && !isLineEnd(bytes[end]))
        ++end;
    if (end == bytes.size())
        return {end, 0};
    if (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n')
        return {end, 2};
    return {end, 1};
}

ContextLine makeLine(std::int64_t ordinal, std::string text, bool isHit) {
    return {ordinal, std::to_string(ordinal), std::move(text), isHit};
}

HitContext hitTextOnly(const app::Hit& hit) {
    HitContext context;
    context.hitTextOnly = true;
    context.lines.push_back({positionNumbers(hit.position).first, hit.position, hit.content, true});
    return context;
}

// A unit's text on one line: the paragraph end it may end with dropped, the ones inside it
// made blanks.
std::string withoutCarriageReturns(std::string_view text) {
    while (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    std::string out(text);
    std::replace(out.begin(), out.end(), '\r', ' ');
    return out;
}

std::string excelColumnName(std::int64_t column) {
    std::string name;
    while (column > 0) {
        --column;
        name.insert(name.begin(), static_cast<char>('A' + column % 26));
        column /= 26;
    }
    return name;
}

}  // namespace

std::vector<ContextLine> readTextLines(const ReadAt& read, std::int64_t fileSize,
                                       std::int64_t lineOffset, std::int64_t lineNumber, bool utf8,
                                       int around, std::int32_t hitColumn) {
    std::vector<ContextLine> lines;
    if (lineOffset < 0 || lineOffset > fileSize || lineNumber < 1)
        return lines;
    around = std::max(around, 0);

    // Before: back from the hit's line start, one line end at a time.
    const std::int64_t backFrom = std::max<std::int64_t>(0, lineOffset - std::int64_t{kReadBytes});
    std::string before(static_cast<std::size_t>(lineOffset - backFrom), '\0');
    before.resize(before.empty() ? 0 : read(backFrom, before.data(), before.size()));
    std::string_view rest(before);
    for (int i = 1; i <= around && lineNumber - i >= 1 && !rest.empty(); ++i) {
        // Drop the line end of the line before.
        if (rest.size() >= 2 && rest.substr(rest.size() - 2) == "\r\n")
            rest.remove_suffix(2);
        else if (isLineEnd(rest.back()))
            rest.remove_suffix(1);
        else
            break;  // not a line start: the anchor does not fit the file
        std::size_t start = rest.size();
        while (start > 0 && !isLineEnd(rest[start - 1]))
            --start;
        const bool fileStart = backFrom == 0 && start == 0;
        if (start == 0 && !fileStart && lineNumber - i > 1)
            break;  // longer than what was read: its start is not known
        std::string_view line = rest.substr(start);
        if (fileStart && utf8 && line.substr(0, 3) == "\xEF\xBB\xBF")
            line.remove_prefix(3);
        lines.push_back(makeLine(lineNumber - i, shownLine(line, utf8, true, 0), false));
        rest = rest.substr(0, start);
    }
    std::reverse(lines.begin(), lines.end());

    // The hit's line and the lines after it.
    std::string after(
        static_cast<std::size_t>(std::min<std::int64_t>(fileSize - lineOffset, kReadBytes)), '\0');
    after.resize(after.empty() ? 0 : read(lineOffset, after.data(), after.size()));
    const bool toEnd = lineOffset + static_cast<std::int64_t>(after.size()) >= fileSize;
    rest = after;
    for (int i = 0; i <= around; ++i) {
        if (rest.empty() && (i > 0 || !toEnd))
            break;
        const auto [length, ending] = lineAtStart(rest);
        const bool complete = ending > 0 || toEnd;
        lines.push_back(makeLine(
            lineNumber + i,
            shownLine(rest.substr(0, length), utf8, complete, i == 0 ? hitColumn : 0), i == 0));
        if (!complete)
            break;  // longer than what was read: where the next begins is not known
        rest.remove_prefix(length + ending);
    }
    return lines;
}

// The units of the document read last.
struct KeptDocument {
    std::string path;
    std::int64_t modified = 0;
    int kind = -1;  // the documents::Kind read, or kPdf
    // The last place read: a PDF is read up to the page a hit asked for.
    std::int32_t lastPlace = std::numeric_limits<std::int32_t>::max();
    std::vector<std::string> sheets;
    // In document order, at most kKeptBytes of them; formula cells with their shown value as
    // `text`.
    std::vector<cache::Unit> units;
};

namespace {

constexpr int kPdf = 100;

// Collects the units a reader hands out, up to kKeptBytes.
class Collector final : public documents::UnitSink {
  public:
    explicit Collector(std::vector<std::string>& sheets, std::vector<cache::Unit>& units)
        : m_sheets(sheets), m_units(units) {}
    void sheet(std::string_view name) override { m_sheets.emplace_back(name); }
    bool unit(const documents::UnitView& unit) override {
        m_bytes += unit.text.size() + unit.shown.size() + 32;
        if (m_bytes > kKeptBytes)
            return false;
        // Formula cells show their value, as the list does.
        m_units.push_back({unit.place,
                           unit.row,
                           unit.column,
                           std::string(unit.shown.empty() ? unit.text : unit.shown),
                           {}});
        return true;
    }

  private:
    std::vector<std::string>& m_sheets;
    std::vector<cache::Unit>& m_units;
    std::size_t m_bytes = 0;
};

std::int64_t modifiedTime(const std::string& path) {
    std::error_code ec;
    const auto time = std::filesystem::last_write_time(path, ec);
    return ec ? -1 : static_cast<std::int64_t>(time.time_since_epoch().count());
}

}  // namespace

ContextReader::ContextReader() = default;
ContextReader::~ContextReader() = default;

namespace {

// The units of the document: its own reader's (for `kind`), or the PDF engine's lines, each
// page's lines as units of that page.
std::unique_ptr<KeptDocument> readUnits(const std::string& path, int kind, std::int32_t place) {
    auto document = std::make_unique<KeptDocument>();
    document->path = path;
    document->kind = kind;
    document->modified = modifiedTime(path);
    if (kind == kPdf) {
        // The engine hands out whole pages: the reading ends after the hit's page (a hit on
        // page 2 of a thick manual costs two pages), or at the bound.
        std::size_t bytes = 0;
        std::int32_t page = 1;
        const bool whole = pdf::dumpPdfText(
            path, pdf::cidTable(),
            [&](std::string_view text) {
                bytes += text.size();
                std::size_t start = 0;
                for (std::size_t i = 0; i < text.size() && bytes <= kKeptBytes; ++i) {
                    if (text[i] != '\n' && text[i] != '\f')
                        continue;
                    if (i > start)
                        document->units.push_back(
                            {page, 0, 0, std::string(text.substr(start, i - start)), {}});
                    start = i + 1;
                    page += text[i] == '\f';
                }
            },
            nullptr, [&] { return page > place || bytes > kKeptBytes; });
        if (!whole)
            document->lastPlace = page - 1;
        return document;
    }
    const documents::Format format = documents::formatOfExtension(search::extensionOf(path));
    if (format == documents::Format::None)
        return document;
    // A document left to the office gives what was read before (nothing, or cells that the
    // hit's are looked for among); one over the bound its first units.
    Collector collector(document->sheets, document->units);
    documents::readDocument(path, format, static_cast<documents::Kind>(kind), collector);
    return document;
}

// A document's text on one line of at most kContextLineBytes: around where the matcher finds
// the words in it first (a PDF page's one content stream, a long Word paragraph), else its
// start.
std::string cutText(const std::string& text, const search::Matcher* matcher = nullptr) {
    return shownLine(text, true, true,
                     matcher && text.size() > kContextLineBytes ? matcher->smartFind(text) : 0);
}

// Whether one of the text's lines is the line: a Word element is matched line by line, split
// at CR (CR LF counting as one).
bool holdsLine(std::string_view text, std::string_view line) {
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\r', start), text.size());
        if (text.substr(start, end - start) == line)
            return true;
        start = end + (text.substr(end).starts_with("\r\n") ? 2 : 1);
    }
    return false;
}

// The units around the first one of the place that holds the hit's text: of the same place
// only (a slide, a page), or of the whole document (a sentence's neighbours).
HitContext unitsAround(const KeptDocument& document, std::int32_t place, std::string_view content,
                       int around, std::string heading, bool samePlace,
                       const search::Matcher* matcher) {
    HitContext context;
    context.heading = std::move(heading);
    std::size_t first = samePlace ? document.units.size() : 0;
    std::size_t last = samePlace ? 0 : document.units.size() - 1;
    std::optional<std::size_t> hit;
    for (std::size_t i = 0; i < document.units.size(); ++i) {
        if (document.units[i].place != place)
            continue;
        if (samePlace) {
            first = std::min(first, i);
            last = i;
        }
        if (!hit && holdsLine(document.units[i].text, content))
            hit = i;
    }
    if (!hit)
        return context;
    const std::size_t from = std::max(first, *hit >= static_cast<std::size_t>(around)
                                                 ? *hit - static_cast<std::size_t>(around)
                                                 : std::size_t{0});
    const std::size_t to = std::min(last, *hit + static_cast<std::size_t>(around));
    for (std::size_t i = from; i <= to; ++i) {
        context.lines.push_back(
            {static_cast<std::int64_t>(i), std::to_string(document.units[i].place),
             cutText(withoutCarriageReturns(document.units[i].text), i == *hit ? matcher : nullptr),
             i == *hit});
    }
    return context;
}

// The cells around the hit's cell: `around` rows above and below, a column either side.
HitContext cellsAround(const KeptDocument& document, std::string_view sheet, std::int64_t row,
                       std::int64_t column, int around) {
    HitContext context;
    const auto sheetAt = std::find(document.sheets.begin(), document.sheets.end(), sheet);
    if (sheetAt == document.sheets.end() || row < 1 || column < 1)
        return context;
    const auto place = static_cast<std::int32_t>(sheetAt - document.sheets.begin() + 1);
    std::map<std::pair<std::int64_t, std::int64_t>, const std::string*> cells;
    std::int64_t lastRow = row;  // no rows below the sheet's last
    for (const auto& unit : document.units) {
        if (unit.place != place)
            continue;
        lastRow = std::max<std::int64_t>(lastRow, unit.row);
        if (unit.row >= row - around && unit.row <= row + around && unit.column >= column - 1 &&
            unit.column <= column + 1)
            cells[{unit.row, unit.column}] = &unit.text;
    }
    if (!cells.count({row, column}))
        return context;  // the cell is not there (any more)
    context.heading = std::string(sheet);
    for (std::int64_t r = std::max<std::int64_t>(1, row - around);
         r <= std::min(row + around, lastRow); ++r) {
        std::string text;
        for (std::int64_t c = std::max<std::int64_t>(1, column - 1); c <= column + 1; ++c) {
            if (!text.empty())
                text += " │ ";
            if (r == row && c == column)
                text += "▶";
            text += excelColumnName(c) + std::to_string(r) + ": ";
            const auto cell = cells.find({r, c});
            if (cell != cells.end())
                text += cutText(withoutCarriageReturns(*cell->second));
        }
        context.lines.push_back({r, std::to_string(r), std::move(text), r == row});
    }
    return context;
}

// An item's fields (each on one line, named by its label's tag) and its body's lines around the
// hit: the fields before the body, so that the command line shows them once for the hits of
// one body. Empty when the item no longer holds the hit's text.
HitContext itemContext(const app::Hit& hit, const platform::pim::Item& item, int around,
                       const search::Matcher* matcher) {
    namespace outlook = searchers::outlook;
    // The label as labelIndex reads it: the display name, "(", the index, the tag from ")".
    const std::size_t close = hit.location.find(')', hit.location.find('('));
    if (close == std::string::npos)
        return {};
    const std::string_view tag = std::string_view(hit.location).substr(close);
    HitContext context;
    context.heading = hit.location.substr(0, close + 1);

    struct Shown {
        std::string_view tag;
        const std::string* text;
    };
    std::vector<Shown> fields = {{")-表題", &item.subject}};
    for (const outlook::ItemField& field : outlook::itemFields(hit.fileType, item))
        fields.push_back({field.tag, field.text});
    fields.push_back({")-分類", &item.categories});
    std::int64_t ordinal = -static_cast<std::int64_t>(fields.size());
    for (const Shown& field : fields) {
        const bool isHit = field.tag == tag;
        // The row's text is the field cut at its first carriage return (an address of lines).
        if (isHit && field.tag != ")-表題" &&
            search::cutAtCarriageReturn(*field.text) != hit.content)
            return {};
        if (!field.text->empty() || isHit) {
            std::string text = *field.text;
            std::replace(text.begin(), text.end(), '\r', ' ');
            std::replace(text.begin(), text.end(), '\n', ' ');
            context.lines.push_back(
                {ordinal, std::string(field.tag.substr(2)), cutText(text, matcher), isHit});
        }
        ++ordinal;
    }

    const std::vector<std::string_view> lines = outlook::bodyLines(item.body);
    const auto count = static_cast<std::int64_t>(lines.size());
    std::int64_t from = 1;
    std::int64_t to = std::min<std::int64_t>(count, 2 * std::int64_t{around} + 1);
    std::int64_t hitLine = 0;
    if (tag == ")-本文") {
        hitLine = positionNumbers(hit.position).first;
        if (hitLine < 1 || hitLine > count ||
            lines[static_cast<std::size_t>(hitLine - 1)] != hit.content)
            return {};
        from = std::max<std::int64_t>(1, hitLine - around);
        to = std::min(count, hitLine + around);
    }
    for (std::int64_t line = from; line <= to; ++line) {
        const std::string text(lines[static_cast<std::size_t>(line - 1)]);
        context.lines.push_back({line, std::to_string(line),
                                 line == hitLine ? cutText(text, matcher) : cutText(text),
                                 line == hitLine});
    }
    return context;
}

}  // namespace

HitContext ContextReader::read(const app::Hit& hit, int around, const search::Matcher* matcher,
                               const ItemReader& readItem) {
    around = std::clamp(around, 0, 1000);
    const auto [first, second] = positionNumbers(hit.position);
    try {
        if (searchers::outlook::isItemType(hit.fileType)) {
            if (const auto item = readItem ? readItem() : std::nullopt) {
                HitContext context = itemContext(hit, *item, around, matcher);
                if (!context.lines.empty())
                    return context;
            }
            return hitTextOnly(hit);
        }
        if (hit.fileType == app::FileType::Text && hit.lineOffset >= 0) {
            std::uint64_t size = 0;
            const int fd = platform::openRegularFile(hit.location, &size);
            struct Closer {
                int fd;
                ~Closer() { ::close(fd); }
            } closer{fd};
            auto readAt = [fd, &hit](std::int64_t offset, char* out, std::size_t count) {
                std::size_t got = 0;
                while (got < count) {
                    const ssize_t n = ::pread(fd, out + got, count - got, offset + got);
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n < 0)
                        throw Error(Error::Kind::FileRead, "cannot read " + hit.location);
                    if (n == 0)
                        break;
                    got += static_cast<std::size_t>(n);
                }
                return got;
            };
            HitContext context;
            context.lines =
                readTextLines(readAt, static_cast<std::int64_t>(size), hit.lineOffset, first,
                              hit.utf8, around, static_cast<std::int32_t>(second));
            // The file changed since the search: what is there now is not the hit's context.
            const auto hitLine = std::find_if(context.lines.begin(), context.lines.end(),
                                              [](const ContextLine& l) { return l.isHit; });
            std::string_view shown =
                hitLine == context.lines.end() ? std::string_view() : hitLine->text;
            const bool cut = shown.size() > kContextLineBytes;
            if (cut && shown.starts_with(kEllipsis))
                shown.remove_prefix(kEllipsis.size());
            if (cut && shown.ends_with(kEllipsis))
                shown.remove_suffix(kEllipsis.size());
            if (hitLine != context.lines.end() &&
                (cut ? hit.content.find(shown) != std::string::npos : shown == hit.content))
                return context;
            return hitTextOnly(hit);
        }
        int kind = -1;
        switch (hit.fileType) {
            case app::FileType::Word:
                kind = static_cast<int>(documents::Kind::WordNormal);
                break;
            case app::FileType::Excel:
                kind = static_cast<int>(documents::Kind::Excel);
                break;
            case app::FileType::PowerPoint:
                kind = static_cast<int>(documents::Kind::PowerPoint);
                break;
            case app::FileType::Pdf:
                kind = kPdf;
                break;
            default:
                return hitTextOnly(hit);
        }
        if (hit.position.empty())
            return hitTextOnly(hit);  // a hit on the file name
        const auto place = static_cast<std::int32_t>(first);
        auto unitsOf = [&](int wanted) -> const KeptDocument& {
            if (!m_last || m_last->path != hit.location || m_last->kind != wanted ||
                m_last->modified != modifiedTime(hit.location) || m_last->lastPlace < place)
                m_last = readUnits(hit.location, wanted, place);
            return *m_last;
        };
        HitContext context;
        switch (hit.fileType) {
            case app::FileType::Word:
                // The hit names the sentence (or, in the fast mode, the line) by its index.
                context =
                    unitsAround(unitsOf(kind), place, hit.content, around, {}, false, matcher);
                if (context.lines.empty())
                    context = unitsAround(unitsOf(static_cast<int>(documents::Kind::WordFast)),
                                          place, hit.content, around, {}, false, matcher);
                break;
            case app::FileType::Excel: {
                const std::size_t open = hit.name.rfind('[');
                if (open != std::string::npos && hit.name.back() == ']')
                    context = cellsAround(
                        unitsOf(kind),
                        std::string_view(hit.name).substr(open + 1, hit.name.size() - open - 2),
                        first, second, around);
                break;
            }
            case app::FileType::PowerPoint:
                context = unitsAround(unitsOf(kind), place, hit.content, around,
                                      "スライド " + std::to_string(place), true, matcher);
                break;
            default:
                context = unitsAround(unitsOf(kind), place, hit.content, around,
                                      "ページ " + std::to_string(place), true, matcher);
                break;
        }
        if (!context.lines.empty())
            return context;
    } catch (const Error&) {
        // Gone or unreadable since the search: the hit's own text below.
    } catch (const std::bad_alloc&) {
    }
    return hitTextOnly(hit);
}

}  // namespace ferretta::hits
