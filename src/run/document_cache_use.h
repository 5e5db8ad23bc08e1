#pragma once
// The document cache as the search run uses it: the process's one cache, the index queries of a
// search's words, and the PDF searchers (engine and filter) going through it. The Office
// searchers go through it themselves.
#include <memory>
#include <optional>

#include "app/settings.h"
#include "cache/document_cache.h"
#include "cache/search_cache.h"
#include "pdf/engine/pdf_engine.h"
#include "pdf/frontends/pdf_filter_search.h"
#include "search/query.h"
#include "search/search_context.h"
#include "search/searcher_registry.h"

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

// The PDF searchers through the cache: an unchanged file's kept texts are matched again, any
// other file is read and what it yields is kept.
search::SearcherRegistry::FileSearch cachedPdfEngine(std::shared_ptr<pdf::PdfEngine> engine,
                                                     cache::SearchCache& cache,
                                                     const search::SearchContext& context);
search::SearcherRegistry::FileSearch cachedPdfFilter(std::shared_ptr<pdf::PdfFilterSearcher> filter,
                                                     cache::SearchCache& cache,
                                                     const search::SearchContext& context);

}  // namespace ferretta::run
