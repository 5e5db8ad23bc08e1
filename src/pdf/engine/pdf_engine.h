#pragma once
// The program's own PDF text engine: searches the text of every page of one PDF file and
// reports one hit per content stream whose text matches the query. This is the one header of
// the engine that the rest of the program includes.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "app/host.h"
#include "cache/units.h"
#include "pdf/engine/fonts/cid_map.h"
#include "search/query.h"
#include "search/search_context.h"
#include "search/search_flags.h"

namespace ferretta::pdf {

class EngineState;

class PdfEngine {
  public:
    // The engine keeps the context's references and the table; they must outlive it. One
    // engine searches one file at a time and may be reused for any number of files.
    PdfEngine(const search::SearchContext& context, const CidTable& cidTable);
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
    // as the file at `path`; only the failures to read a file cannot happen.
    bool p2tMain(const std::string& path, std::string_view bytes);

    // The number of the page the last search was on (1-based; 0 before the first page).
    std::int32_t pageCounter() const;
    // The page count the last file's page tree declared (0 when it was not read).
    std::int32_t pageTotal() const;

    // While set, p2tMain hands every content stream's text that is not empty, with its page,
    // to the callback before matching it (what the document cache keeps of a PDF).
    using StreamTexts = std::function<void(std::int32_t page, const std::string& text)>;
    void setStreamTexts(StreamTexts streamTexts);

    // Searches the stream texts that p2tMain handed out for the file before, as p2tMain
    // searches them: the same hits in the same order, the same progress; `walked` is what
    // p2tMain answered then. False when it was false or the search is stopped.
    bool matchStreamTexts(const std::string& path, std::span<const cache::Unit> texts,
                          std::int32_t pageTotal, bool walked);

  private:
    std::unique_ptr<EngineState> m_state;
};

}  // namespace ferretta::pdf
