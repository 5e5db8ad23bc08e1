#pragma once
// The per-file state of the engine and its operations, shared by the driver (pdf_engine.cpp),
// the page walk (page_tree.cpp) and the reading of content streams (read_contents.cpp).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "pdf/engine/content_stream.h"
#include "pdf/engine/fonts/cid_map.h"
#include "pdf/engine/fonts/page_fonts.h"
#include "pdf/engine/pdf_objects.h"
#include "pdf/engine/pdf_reader.h"
#include "pipeline/unit_pipeline.h"
#include "search/search_flags.h"

namespace ferretta::pdf {

inline constexpr app::FileType pdfFileType = app::FileType::Pdf;

// The decoded content streams of a file that were read last, to read a shared one again
// without decoding it again; at most maxBytes together.
class ContentCache {
  public:
    std::shared_ptr<const std::string> find(std::uint64_t key);
    void put(std::uint64_t key, std::shared_ptr<const std::string> data);
    void clear();

    static constexpr std::size_t maxBytes = std::size_t{64} << 20;
    static constexpr std::size_t maxEntries = 64;

  private:
    std::vector<std::pair<std::uint64_t, std::shared_ptr<const std::string>>> m_entries;
    std::size_t m_bytes = 0;
};

class EngineState {
  public:
    // The stop flag is read between pages and content streams.
    EngineState(const search::SearchFlags& flags, const CidTable& cidTable)
        : m_flags(flags),
          m_objects(m_reader),
          m_fonts(m_objects, m_reader),
          m_extractor(cidTable) {}

    // Reads the file at `path`, or `bytes` as that file when given.
    bool p2tMain(const std::string& path, std::optional<std::string_view> bytes);

    // Where the pages and the texts of their content streams go: each page begins with
    // sink.place(page), after the page count went to sink.count(); every content stream read
    // gives a unit (page, its text, empty when it shows none). Null: nowhere.
    void setSink(pipeline::UnitSink* sink) { m_sink = sink; }

    // Instead: hands the text of every page to `sink` (the streams' texts joined by line feeds,
    // a form feed after each page).
    void setTextSink(std::function<void(std::string_view)> sink) { m_textSink = std::move(sink); }

    ObjectRef p2tGetRootObjNumber();
    ObjectRef p2tGetFirstPagesObjNumber(std::int32_t rootNumber, std::int32_t rootGeneration);
    std::int32_t p2tGetPageCount(std::int32_t pagesNumber, std::int32_t pagesGeneration);
    void p2tResetPageCounter() { m_pageCounter = 0; }
    std::int32_t p2tGetPageCounter() const { return m_pageCounter; }
    std::int32_t pageTotal() const { return m_pageTotal; }
    // Why the last p2tMain answered false (the file is damaged or met a bound of the work):
    // for the debug log.
    const std::string& problem() const { return m_problem; }
    // Whether the walk of the last file left part of it unread for a bound on the work.
    bool cutShort() const { return m_objects.cutShort(); }

    bool p2tDivePages(std::int32_t objectNumber, std::int32_t generation, int depth);
    bool p2tDivePage(std::int32_t objectNumber, std::int32_t generation);

    bool p2tReadContents(std::int32_t objectNumber, std::int32_t generation, int depth);
    std::int64_t p2tGetContentsLength(std::int32_t objectNumber, std::int32_t generation);
    // Decodes a content stream's data; null for filters the engine cannot decode.
    std::shared_ptr<const std::string> p2tAnalyzeStream(std::string_view bytes,
                                                        const std::vector<Filter>& filters);
    void p2tFindAtLast(const std::string& text);

    // Limits against hostile files.
    static constexpr int maxTreeDepth = 64;
    static constexpr int maxContentsDepth = 4;

  private:
    // The next token of the current object: "endobj" also when the scan runs into the next
    // object's header ("obj") or the object's stream data.
    std::string_view nextInObject();
    bool scanTo(std::string_view key);
    void flushPageText(std::int32_t throughPage);

    const search::SearchFlags& m_flags;
    PdfReader m_reader;
    PdfObjects m_objects;
    PageFonts m_fonts;
    ContentTextExtractor m_extractor;
    ContentCache m_contentCache;

    std::int32_t m_pageCounter = 0;
    std::int32_t m_pageTotal = 0;
    std::string m_problem;
    std::unordered_set<std::uint64_t> m_visitedNodes;  // page-tree nodes met in this file
    std::vector<ObjectRef> m_pagesPath;                // the /Pages nodes above the walk's position
    pipeline::UnitSink* m_sink = nullptr;
    std::function<void(std::string_view)> m_textSink;
    std::string m_pageText;  // the text of the page not yet handed to the sink
    std::int32_t m_pagesWritten = 0;
};

}  // namespace ferretta::pdf
