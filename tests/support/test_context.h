#pragma once
// A search context for a searcher under test; settings are the start-up values unless given.
#include "app/settings.h"
#include "search/search_context.h"

namespace ferretta::test {

inline const app::Settings& startUpSettings() {
    static const app::Settings settings;
    return settings;
}

inline search::SearchContext contextOf(app::Host& host, const search::Matcher& matcher,
                                       search::SearchFlags& flags,
                                       const app::Settings& settings = startUpSettings()) {
    return {host, settings, matcher, flags};
}

}  // namespace ferretta::test
