#pragma once
// The document cache as the search run uses it: the process's one cache, the index queries of a
// search's words, and the keys the PDF searchers keep their texts under.
#include <memory>
#include <optional>

#include "app/settings.h"
#include "cache/document_cache.h"
#include "cache/search_cache.h"
#include "search/query.h"

namespace ferretta::run {

// The process's document cache in the user's cache folder, opened at the first search that
// wants it and opened anew after it turned out unusable (damaged, locked, unwritable); null
// when the settings switch it off. Faults go to the debug log.
cache::DocumentCache* documentCache(const app::Settings& settings);

// Writes what still waits to be stored and closes the cache (before the program ends).
void closeDocumentCache();

// Drops every document kept (the Options dialog's button, --rebuild-cache). False when the
// cache cannot be used.
bool clearDocumentCache();

// The index query of a search's words as the matcher looks for them; nullopt for a regular
// expression. literalQueryOf: the words as the Excel search looks for them (cell-find patterns),
// in every mode.
std::optional<cache::IndexQuery> indexQueryOf(const search::Matcher& matcher);
cache::IndexQuery literalQueryOf(const search::Matcher& matcher);

// The extraction keys of the PDF searchers: the engine with the character table and the CMaps
// it reads text through; the filter with its command and page-break pattern.
std::string pdfEngineKey();
std::string pdfFilterKey(const app::Settings& settings);

}  // namespace ferretta::run
