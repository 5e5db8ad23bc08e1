#pragma once
// The hit in its context: the lines around a text hit, read again from the file; the sentences,
// cells, slide texts or page lines around a document hit, read again with the program's own
// readers (never the office). What the preview pane shows and ferretta-cli --context prints.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"
#include "platform/pim/item_store.h"
#include "search/query.h"

namespace ferretta::hits {

// One line of a context.
struct ContextLine {
    // The order of the line in its document (text: the line number; Excel: the row; other
    // documents: the unit's index), so that the contexts of neighbouring hits can be joined.
    std::int64_t ordinal = 0;
    std::string label;  // what the line is called: "12", "3" (a row), "p.2", a field's name
    std::string text;   // UTF-8, one line; a line over kContextLineBytes is cut with "…"
    bool isHit = false;
};

struct HitContext {
    std::string heading;  // where the lines are: "Sheet1", "スライド 3", "ページ 2"; may be empty
    std::vector<ContextLine> lines;
    // The hit's own text alone: its document could not be read again (gone, changed, a type
    // without a reader of its own).
    bool hitTextOnly = false;
};

// The longest line shown, in bytes; a longer one is cut (around the hit on the hit's line).
inline constexpr std::size_t kContextLineBytes = 2000;

// Random access to a file's bytes: up to `size` bytes from `offset` into `out` (fewer at the
// end). Throws ferretta::Error when the file cannot be read.
using ReadAt = std::function<std::size_t(std::int64_t offset, char* out, std::size_t size)>;

// The lines of a text file around the line that begins at `lineOffset` (line `lineNumber`),
// `around` before and after, decoded from UTF-8 or CP932. At most a bounded number of bytes
// is read whatever the file's size: a line longer than kContextLineBytes is cut, and lines
// before the hit are looked for no further back than a few lines' bound. Never throws but
// what `read` throws.
std::vector<ContextLine> readTextLines(const ReadAt& read, std::int64_t fileSize,
                                       std::int64_t lineOffset, std::int64_t lineNumber, bool utf8,
                                       int around, std::int32_t hitColumn = 0);

struct KeptDocument;

// Reads again the mail program's item a hit names (searchers::outlook::OutlookSession's
// itemReader); nullopt when it is gone.
using ItemReader = std::function<std::optional<platform::pim::Item>()>;

// Reads contexts of hits. It keeps the units of the document read last, so that the hits of
// one document (the next hit, the command line's run of hits) read it once.
class ContextReader {
  public:
    ContextReader();
    ~ContextReader();
    ContextReader(const ContextReader&) = delete;
    ContextReader& operator=(const ContextReader&) = delete;

    // The context of the hit: `around` lines (units, rows) before and after it, the hit's line
    // marked. When the document cannot be read again, or has changed so that the hit is not
    // where it was, the hit's own text alone (hitTextOnly). A long unit of a document is cut
    // around where the matcher finds the words in it (its start without a matcher). A hit in
    // the mail program's items shows the item's fields and the body's lines around the hit
    // (the body's first lines for a hit in a field), read again by `readItem`; the hit's text
    // alone without it. Never throws.
    HitContext read(const app::Hit& hit, int around, const search::Matcher* matcher = nullptr,
                    const ItemReader& readItem = {});

  private:
    std::unique_ptr<KeptDocument> m_last;
};

// "…" at the front or the back of a cut text, for the callers that cut texts themselves.
inline constexpr std::string_view kEllipsis = "\xE2\x80\xA6";

}  // namespace ferretta::hits
