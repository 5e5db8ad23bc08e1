#pragma once
// The run flags of a search, shared by the search command and every searcher.
#include <cstdint>
#include <optional>

#include "platform/clock.h"

namespace ferretta::search {

struct SearchFlags {
    bool isAbort = false;           // the user asked to stop the running search
    bool isSearching = false;       // a search is running
    bool filterErrorShown = false;  // the PDF filter failure was already reported this search
    // When the user asked to stop (steady milliseconds): the search's time ends there.
    std::optional<std::int64_t> stopRequestedAt;
};

// A stop request of the user (the stop button, Esc, Ctrl+C): the search stops at its next
// look at the flag, and its time is counted to this moment (to the latest of several).
inline void requestStop(SearchFlags& flags) {
    flags.isAbort = true;
    flags.stopRequestedAt = platform::steadyMilliseconds();
}

}  // namespace ferretta::search
