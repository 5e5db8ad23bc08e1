#pragma once
// The document cache as the Word, Excel and PowerPoint searchers use it. With a cache the
// searchers look a document up first and match what was kept of an unchanged one without the
// office; the run's office applications are then started only when a document has to be read.
#include <functional>
#include <string>
#include <string_view>

#include "app/file_types.h"
#include "cache/search_cache.h"

namespace ferretta::searchers::office {

struct OfficeCacheUse {
    cache::SearchCache* cache = nullptr;  // null: every document is read, as without a cache
    // Makes sure the type's application runs before a document of the type is read; false
    // when it cannot be started (the user has been told).
    std::function<bool(app::FileType)> startApplication;
};

// The extraction key of a kind of Office document ("word", "word-fast", "excel",
// "powerpoint"): the program and the office that read it.
std::string officeKey(std::string_view kind);

}  // namespace ferretta::searchers::office
