#pragma once
// What every searcher of one search works with: where hits and progress go, the settings, the
// query and the run flags. Searchers keep the context's references; all four must outlive them.
#include <functional>

#include "app/host.h"
#include "app/settings.h"
#include "search/query.h"
#include "search/search_flags.h"

namespace ferretta::search {

struct SearchContext {
    app::Host& host;
    const app::Settings& settings;
    const Matcher& matcher;
    SearchFlags& flags;
    // Set for a searcher on a worker thread of the read-ahead (search/read_ahead.h). A file that
    // needs what only the user-interface thread may drive (an office) cannot be searched there:
    // the searcher calls this and returns, and the file is searched again from its start on
    // the user-interface thread, with what was already shown of it held back.
    std::function<void()> toUserInterfaceThread = {};
};

}  // namespace ferretta::search
