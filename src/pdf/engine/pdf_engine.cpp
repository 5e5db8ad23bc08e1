#include "pdf/engine/pdf_engine.h"

#include "pdf/engine/engine_log.h"
#include "pdf/engine/engine_state.h"
#include "platform/error.h"
#include "search/path_helpers.h"

namespace ferretta::pdf {

PdfEngine::PdfEngine(const search::SearchContext& context, const CidTable& cidTable)
    : m_state(
          std::make_unique<EngineState>(context.host, context.matcher, context.flags, cidTable)) {}

PdfEngine::~PdfEngine() = default;

bool PdfEngine::p2tMain(const std::string& path) {
    return m_state->p2tMain(path, std::nullopt);
}

bool PdfEngine::p2tMain(const std::string& path, std::string_view bytes) {
    return m_state->p2tMain(path, bytes);
}

std::int32_t PdfEngine::pageCounter() const {
    return m_state->p2tGetPageCounter();
}

std::int32_t PdfEngine::pageTotal() const {
    return m_state->pageTotal();
}

void PdfEngine::setStreamTexts(StreamTexts streamTexts) {
    m_state->m_streamTexts = std::move(streamTexts);
}

bool PdfEngine::matchStreamTexts(const std::string& path, std::span<const cache::Unit> texts,
                                 std::int32_t pageTotal, bool walked) {
    return m_state->matchStreamTexts(path, texts, pageTotal, walked);
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
    m_host.setCaptionOnSearching(path);
    p2tResetPageCounter();
    m_objects.reset();
    m_fonts.reset();
    m_contentCache.clear();
    m_visitedNodes.clear();
    m_pagesPath.clear();
    m_pageTotal = 0;
    m_currentPdfPath = path;
    m_fileName = search::fileNameOf(path);
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
        const bool walked = p2tDivePages(pages.objectNumber, pages.generation, 0);
        if (!walked)
            return false;
        return !m_flags.isAbort;
    } catch (const Error& failure) {
        // A damaged file ends quietly: its hits so far stay, and the search goes on with the
        // next file. Only failures to read the file at all travel on.
        if (failure.kind() != Error::Kind::Other)
            throw;
        trace("p2tMain", [&] {
            return "解析を中止しました page=" + std::to_string(m_pageCounter) + " " +
                   failure.what();
        });
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
