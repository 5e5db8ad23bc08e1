#pragma once
// The run flags of a search, shared by the search command and every searcher.

namespace ferretta::search {

struct SearchFlags {
    bool isAbort = false;           // the user asked to stop the running search
    bool isSearching = false;       // a search is running
    bool filterErrorShown = false;  // the PDF filter failure was already reported this search
};

}  // namespace ferretta::search
