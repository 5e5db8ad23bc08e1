#pragma once
// The search command without its window: from the search words to the summary line, the same
// for the window and for ferretta-cli. It builds everything a search needs from the settings
// (the matcher, the searchers of the types switched on, the offices, the PDF method and its
// character table), runs the folder walk and the mail program's items in their order, times
// the search and builds the summary.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"
#include "app/settings.h"
#include "search/finder.h"
#include "search/search_flags.h"
#include "search/searcher_registry.h"

namespace ferretta::searchers::office {
struct OfficeSession;
}
namespace ferretta::searchers::outlook {
class OutlookSession;
}

namespace ferretta::run {

// "12ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、3件ヒットしました。(1.234秒)"; the time part only when given and
// positive; "（読めないファイル3件）" after it when entries were skipped as unreadable;
// "（キャッシュから5ﾌｧｲﾙ）" when documents were searched in the document cache. A search that
// did not run to its end (stopped by the user or by a failure) says so: "…3件ヒットしたところで
// 中止しました。".
std::string summaryText(std::int64_t files, std::int64_t hits,
                        std::optional<std::int64_t> elapsedMs, std::int64_t unreadable = 0,
                        std::int64_t fromCache = 0, bool stopped = false);

// The history with the text moved to the front (exact comparison), empty entries dropped. An
// empty text leaves the history as it is.
std::vector<std::string> updateKeywordHistory(const std::vector<std::string>& items,
                                              std::string_view text);

// Loads the PDF engine's character table (AdobeCID.dat beside the program) unless it is
// loaded. On failure the user is told "AdobeCID.datの読み込みでエラーが発生しました" (critical)
// and the answer is false.
bool loadCidTable(app::Host& host);

// Searches the file types of the folder walk (when one of them is switched on), then the item
// types of the mail program in their order, each through its registered item searcher. Answers
// the number of files and items searched. A failure that no searcher handled stops the search:
// the stop flag is set, the user is told "検索中にエラーが発生しました." and the count so far is
// answered (`failed` set when given).
std::int64_t runSearch(app::Host& host, app::Settings& settings, search::Finder& finder,
                       const search::SearcherRegistry& registry, search::SearchFlags& flags,
                       bool* failed = nullptr);

// What the front end lends the search.
struct SearchRunHooks {
    // The office session that Word, Excel and PowerPoint files are searched with; asked for
    // only when one of those types is switched on.
    std::function<searchers::office::OfficeSession&()> officeSession;
    // The stores of the mail program's items and what the last search's labels meant; asked
    // for only when one of the item types is switched on.
    std::function<searchers::outlook::OutlookSession&()> outlookSession;
    // The front end goes back to idle (enabled controls, the button's caption); called once
    // the search has ended, before the summary and the end of the offices.
    std::function<void()> searchFinished;
    // The number of rows in the results list.
    std::function<std::int64_t()> hitCount;
};

struct SearchOutcome {
    std::int64_t files = 0;
    std::int64_t hits = 0;
    std::int64_t unreadable = 0;
    std::int64_t fromCache = 0;  // documents searched in the document cache
    std::optional<std::int64_t> elapsedMs;
    bool folderUnusable = false;  // the search folder is empty or cannot be listed
    bool failed = false;   // the search ended with "検索中にエラーが発生しました."
    bool stopped = false;  // the search did not run to its end (a stop request, a failure)
    std::string summary;
};

// One search for the query: the run flags set (stop cleared, searching), the words split, the
// searchers registered (an office starts when the first document that needs it comes),
// runSearch timed, the run flags back to idle, hooks.searchFinished, the summary to the status
// bar, the offices that started ended.
// The time ends at the user's stop request when there was one, and is left out when the
// search was stopped otherwise (a failure, an unusable folder). It includes the writing of
// what the search read into the document cache, during which events run and a stop request
// ends the waiting (the writing goes on behind).
SearchOutcome runSearchCommand(app::Host& host, app::Settings& settings, search::SearchFlags& flags,
                               std::string_view query, const SearchRunHooks& hooks);

}  // namespace ferretta::run
