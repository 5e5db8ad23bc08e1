#pragma once
// The one interface through which the core reaches the user. The main window, the
// command-line tool and the tests each implement it; no searcher knows which one it talks to.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/file_types.h"

namespace ferretta::app {

// The style bits of a message box: the icon it shows.
enum class MessageStyle : int {
    None = 0,
    Critical = 16,
    Question = 32,
    Exclamation = 48,
    Information = 64,
};

// One hit: one row of the results list. Texts are UTF-8.
struct Hit {
    FileType fileType = FileType::Unknown;  // the row's icon and the opener used for it
    std::string name;      // file name, or item subject; Excel sheet hits: book.xls[Sheet]
    std::string content;   // the matching text, cut at its first carriage return
    std::string location;  // full path, or the reference text of an item
    std::string position;  // "line,column", page, slide, "row,column"; empty for name hits
    // Text files: where the hit's line begins in the file, in bytes, and whether the search
    // read the file as UTF-8 (else CP932), so that the lines around it can be read again
    // without the lines before; -1 when not known (UTF-16 files, other types). Not part of
    // the saved results.
    std::int64_t lineOffset = -1;
    bool utf8 = false;
};

// A colour as 0x00RRGGBB.
constexpr std::uint32_t rgb(int r, int g, int b) {
    return static_cast<std::uint32_t>((r << 16) | (g << 8) | b);
}

// Every member but addResult has a default that does nothing (askYesNo answers No), so that a
// host implements only what it shows.
class Host {
  public:
    using RowHandle = std::size_t;
    virtual ~Host() = default;

    // Appends a row to the results list and answers a handle to it. The core has already cut
    // the content at its first carriage return.
    virtual RowHandle addResult(const Hit& hit) = 0;
    // addResult for a hit the caller has no more use for: a host that keeps its hits may take
    // the hit's strings instead of copying them.
    virtual RowHandle takeResult(Hit&& hit) { return addResult(hit); }

    // Colours the content column of a row reported before.
    virtual void setContentColor(RowHandle /*row*/, std::uint32_t /*color*/) {}

    // Progress: the searcher starts on this file or item (full path).
    virtual void setCaptionOnSearching(std::string_view /*path*/) {}

    // Progress text other than the file being searched, e.g. "検索中...report.pdf(3/12)"; it
    // goes where setCaptionOnSearching's text goes.
    virtual void showProgress(std::string_view /*text*/) {}

    // The status bar's text (the summary at the end of a search; empty to clear it).
    virtual void setStatusText(std::string_view /*text*/) {}

    // The document being searched came from the document cache (its kept text matched again,
    // or the index showed that the words cannot be in it). Reported like every other call, so
    // that a document searched ahead and again after a stop counts once.
    virtual void noteFromCache() {}

    // Progress: how many documents of the running search came from the document cache so far;
    // 0 at the start of every search.
    virtual void showFromCache(std::int64_t /*documents*/) {}

    // Lets pending user events run. A stop request made meanwhile shows in the shared stop
    // flag, which callers read right after this returns.
    virtual void doEvents() {}

    // Lets pending user events run while the search waits (for a thread reading ahead, for
    // the folder walk), at no point of any searcher's own: the window stays alive and a stop
    // request shows in the stop flag. Lets events run as doEvents does unless a host tells the
    // two apart.
    virtual void doEventsWhileWaiting() { doEvents(); }

    // A modal message titled "Ferretta". The two lines of a two-line message are joined by one
    // carriage return.
    virtual void showMessage(std::string_view /*text*/, MessageStyle /*style*/) {}

    // A modal Yes/No question; true for Yes.
    virtual bool askYesNo(std::string_view /*text*/, MessageStyle /*style*/) { return false; }

    // A file or folder of the search that could not be read (no permission, vanished, a path
    // too long) was skipped; `reason` is the system's complaint. The search goes on.
    virtual void noteUnreadable(std::string_view /*path*/, std::string_view /*reason*/) {}

    // A document was searched only as far as it could be read (damaged, or cut short by a
    // bound on the work one file may cost); its hits so far stand and it counts as searched.
    // `reason` is what the reader met. The search goes on.
    virtual void noteDamaged(std::string_view /*path*/, std::string_view /*reason*/) {}
};

}  // namespace ferretta::app
