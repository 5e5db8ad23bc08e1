#pragma once
// The program's own PDF text engine: searches the text of every page of one PDF file and
// reports one hit per content stream whose text matches the query. This is the one header of
// the engine that the rest of the program includes.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pdf/engine/fonts/cid_map.h"
#include "pipeline/unit_pipeline.h"
#include "search/search_context.h"

namespace ferretta::pdf {

class EngineState;

class PdfEngine {
  public:
    // The engine keeps the context's references and the table; they must outlive it. One
    // engine searches one file at a time and may be reused for any number of files. With a
    // cache (`use`), a file kept unchanged is searched in the texts kept of it, and any other
    // is kept once read (also a damaged one, with the engine's answer).
    PdfEngine(const search::SearchContext& context, const CidTable& cidTable,
              pipeline::CacheUse use = {});
    ~PdfEngine();
    PdfEngine(const PdfEngine&) = delete;
    PdfEngine& operator=(const PdfEngine&) = delete;

    // Searches one PDF file: reports a hit (file type 13, the file name, the stream's text, the
    // path, the page number) for every content stream whose text matches, and shows the progress
    // "検索中...name(page/total)" per page. Answers true when the whole page tree was walked
    // and the search was not stopped (flags.isAbort); false when the file has no usable
    // cross-reference data, catalog or page count, when the walk met a stream it cannot read,
    // when the file is damaged in a way the engine cannot step over (a debug-log line says
    // where), or after a stop. Hits reported before any of these stay reported. Throws
    // ferretta::Error only when the file cannot be opened or read from at all (the same
    // failures that end a search of a text file). The file is closed on every way out.
    bool p2tMain(const std::string& path);
    // The same for a PDF held in memory (`bytes` must stay until the call returns), reported
    // as the file at `path`, without the cache; only the failures to read a file cannot happen.
    bool p2tMain(const std::string& path, std::string_view bytes);

    // The number of the page the last file read was on (1-based; 0 before the first page).
    std::int32_t pageCounter() const;

  private:
    class Reading;
    class PageMatcher;

    const search::SearchContext m_context;
    const pipeline::CacheUse m_use;
    std::unique_ptr<EngineState> m_state;
    std::unique_ptr<PageMatcher> m_matcher;
};

}  // namespace ferretta::pdf
