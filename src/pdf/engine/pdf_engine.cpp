#include "pdf/engine/pdf_engine.h"

#include "pdf/engine/engine_log.h"
#include "pdf/engine/engine_state.h"
#include "platform/error.h"
#include "search/hit.h"
#include "search/path_helpers.h"

namespace ferretta::pdf {

// The engine's reading of one file as an extractor.
class PdfEngine::Reading final : public pipeline::Extractor {
  public:
    Reading(EngineState& state, const search::SearchFlags& flags,
            std::optional<std::string_view> bytes)
        : m_state(state), m_flags(flags), m_bytes(bytes) {}

    pipeline::Extraction extract(const std::string& path, pipeline::UnitSink& sink) override {
        m_state.setSink(&sink);
        const struct Unset {
            EngineState& state;
            ~Unset() { state.setSink(nullptr); }
        } unset{m_state};
        const bool walked = m_state.p2tMain(path, m_bytes);
        pipeline::Extraction read;
        // A file walked to its end with part of it left unread for a bound on the work is
        // read in part too: its user is told, as for a damaged one.
        const bool whole = walked && !m_state.cutShort();
        read.outcome = m_flags.isAbort ? pipeline::Outcome::Stopped
                       : whole         ? pipeline::Outcome::Complete
                                       : pipeline::Outcome::Partial;
        read.count = m_state.pageTotal();
        if (read.outcome == pipeline::Outcome::Partial)
            read.reason =
                walked ? "処理量の上限に達したので一部を読みませんでした" : m_state.problem();
        return read;
    }

  private:
    EngineState& m_state;
    const search::SearchFlags& m_flags;
    std::optional<std::string_view> m_bytes;
};

// The matching of the engine: every content stream's text is matched and reported with its
// page; every fifth stream, over all files, events run.
class PdfEngine::PageMatcher final : public pipeline::DocumentMatcher {
  public:
    using DocumentMatcher::DocumentMatcher;

    void begin(const std::string& path) override {
        DocumentMatcher::begin(path);
        m_pageTotal = 0;
    }
    void count(std::int32_t pages) override { m_pageTotal = pages; }
    bool place(std::int32_t page) override {
        m_context.host.showProgress("検索中..." + m_name + "(" + std::to_string(page) + "/" +
                                    std::to_string(m_pageTotal) + ")");
        return !m_context.flags.isAbort;
    }
    bool unit(const documents::UnitView& stream) override {
        if (!stream.text.empty() && m_context.matcher.smartFind(stream.text) != 0) {
            search::addResult(m_context.host, pdfFileType, m_name, stream.text, m_path,
                              std::to_string(stream.place));
        }
        if (++m_findCalls % 5 == 0) {
            m_context.host.doEvents();
            m_findCalls = 0;
        }
        return true;
    }

  private:
    std::int32_t m_pageTotal = 0;
    int m_findCalls = 0;
};

PdfEngine::PdfEngine(const search::SearchContext& context, const CidTable& cidTable,
                     pipeline::CacheUse use)
    : m_context(context),
      m_use(std::move(use)),
      m_state(std::make_unique<EngineState>(context.flags, cidTable)),
      m_matcher(std::make_unique<PageMatcher>(m_context)) {}

PdfEngine::~PdfEngine() = default;

bool PdfEngine::p2tMain(const std::string& path) {
    Reading reading(*m_state, m_context.flags, std::nullopt);
    pipeline::Extractor* const readers[] = {&reading};
    return pipeline::searchFile(path, m_use, readers, *m_matcher, m_context.host);
}

bool PdfEngine::p2tMain(const std::string& path, std::string_view bytes) {
    Reading reading(*m_state, m_context.flags, bytes);
    pipeline::Extractor* const readers[] = {&reading};
    return pipeline::searchFile(path, {}, readers, *m_matcher, m_context.host);
}

std::int32_t PdfEngine::pageCounter() const {
    return m_state->p2tGetPageCounter();
}

namespace {

// Closes the file on every way out of p2tMain (and hands the text of the pages read so far to
// a text sink).
struct FileCloser {
    PdfReader& reader;
    std::function<void()> atEnd;
    ~FileCloser() {
        reader.close();
        atEnd();
    }
};

}  // namespace

bool EngineState::p2tMain(const std::string& path, std::optional<std::string_view> bytes) {
    p2tResetPageCounter();
    m_objects.reset();
    m_fonts.reset();
    m_contentCache.clear();
    m_visitedNodes.clear();
    m_pagesPath.clear();
    m_pageTotal = 0;
    m_problem = "壊れています";
    m_pageText.clear();
    m_pagesWritten = 0;

    if (bytes)
        m_reader.openMemory(*bytes);
    else
        m_reader.open(path);
    FileCloser closer{m_reader, [this] { flushPageText(m_pageCounter); }};
    // Every legitimate file reads each of its bytes as a token a few times at most; a file that
    // makes the engine read much more is built to keep it busy.
    m_reader.setTokenBudget(16 * m_reader.p2tGetFileLength() + 4'000'000);
    try {
        if (!m_objects.p2tObjCacheConstruction())
            return false;
        if (m_objects.openSecurity() != SecurityHandler::Status::Opened) {
            // Protected by a password the user would have to type, or encrypted some other way:
            // skipped, and counted as searched like any file whose text cannot be read.
            trace("p2tMain", [] { return "暗号化されていて読めません。スキップします"; });
            return true;
        }
        const ObjectRef root = p2tGetRootObjNumber();
        const ObjectRef pages = p2tGetFirstPagesObjNumber(root.objectNumber, root.generation);
        m_pageTotal = p2tGetPageCount(pages.objectNumber, pages.generation);
        if (m_pageTotal == -1)
            return false;
        if (m_sink != nullptr)
            m_sink->count(m_pageTotal);
        const bool walked = p2tDivePages(pages.objectNumber, pages.generation, 0);
        if (!walked)
            return false;
        return !m_flags.isAbort;
    } catch (const Error& failure) {
        // A damaged file ends quietly: its hits so far stay, and the search goes on with the
        // next file. Only failures to read the file at all travel on.
        if (failure.kind() != Error::Kind::Other)
            throw;
        m_problem =
            "解析を中止しました page=" + std::to_string(m_pageCounter) + " " + failure.what();
        trace("p2tMain", [&] { return m_problem; });
        return false;
    }
}

ObjectRef EngineState::p2tGetRootObjNumber() {
    const ObjectRef root = m_objects.trailerRoot();
    trace("p2tGetRootObjNumber", [&] {
        return "/Root id=" + std::to_string(root.objectNumber) +
               " gen=" + std::to_string(root.generation);
    });
    return root;
}

std::string_view EngineState::nextInObject() {
    std::string_view token = m_reader.p2tGetToken();
    if (token == "obj" || token == "stream")
        return "endobj";
    return token;
}

bool EngineState::scanTo(std::string_view key) {
    for (;;) {
        std::string_view token = nextInObject();
        if (token == key)
            return true;
        if (token == "endobj" || (token.empty() && m_reader.p2tIsEOF()))
            return false;
    }
}

ObjectRef EngineState::p2tGetFirstPagesObjNumber(std::int32_t rootNumber,
                                                 std::int32_t rootGeneration) {
    ObjectRef pages;
    if (!m_objects.p2tSeekObj(rootNumber, rootGeneration)) {
        trace("p2tGetFirstPagesObjNumber", [] { return "ルートオブジェクトへのシークで失敗"; });
        return pages;
    }
    if (scanTo("/Pages")) {
        pages.objectNumber = tokenToInt32(m_reader.p2tGetToken());
        pages.generation = tokenToInt32(m_reader.p2tGetToken());
    }
    trace("p2tGetFirstPagesObjNumber", [&] {
        return "/Pages id=" + std::to_string(pages.objectNumber) +
               " gen=" + std::to_string(pages.generation);
    });
    return pages;
}

std::int32_t EngineState::p2tGetPageCount(std::int32_t pagesNumber, std::int32_t pagesGeneration) {
    if (!m_objects.p2tSeekObj(pagesNumber, pagesGeneration)) {
        trace("p2tGetPageCount", [&] {
            return "ページ数取得に失敗 fn=" + std::to_string(PdfObjects::fileNumber) +
                   " pagesObjID=" + std::to_string(pagesNumber) +
                   " pagesobjgen=" + std::to_string(pagesGeneration);
        });
        return -1;
    }
    if (!scanTo("/Count"))
        return -1;
    const std::int32_t count = tokenToInt32(m_reader.p2tGetToken());
    return count < 0 ? -1 : count;
}

}  // namespace ferretta::pdf
