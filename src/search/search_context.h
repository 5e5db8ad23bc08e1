#pragma once
// What every searcher of one search works with: where hits and progress go, the settings, the
// query and the run flags. Searchers keep the context's references; all four must outlive them.
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
};

}  // namespace ferretta::search
