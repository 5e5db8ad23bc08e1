#pragma once
// The parts of the search command that do not depend on a window: running the searchers in
// their order, the summary line, the search-word history.
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

namespace ferretta::search {

// "12ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、3件ヒットしました。(1.234秒)"; the time part only when given and
// positive.
std::string summaryText(std::int64_t files, std::int64_t hits,
                        std::optional<std::int64_t> elapsedMs);

// The history with the text moved to the front (exact comparison), empty entries dropped. An
// empty text leaves the history as it is.
std::vector<std::string> updateKeywordHistory(const std::vector<std::string>& items,
                                              std::string_view text);

// Searches the file types of the folder walk, then the item types of the mail program in
// their order (through `itemSearch`, when given). Answers the number of files and items
// searched. A failure that no searcher handled stops the search: the stop flag is set, the
// user is told "検索中にエラーが発生しました." and the count so far is answered.
std::int64_t runSearch(app::Host& host, app::Settings& settings, Finder& finder, SearchFlags& flags,
                       const std::function<std::int64_t(int fileType)>& itemSearch = {});

}  // namespace ferretta::search
