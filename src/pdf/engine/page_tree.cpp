// The page walk: depth first in /Kids order, numbering the pages as it meets them.
#include "pdf/engine/engine_log.h"
#include "pdf/engine/engine_state.h"
#include "search/path_helpers.h"

namespace ferretta::pdf {
namespace {

std::uint64_t nodeKey(std::int32_t number, std::int32_t generation) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(number)) << 32) |
           static_cast<std::uint32_t>(generation);
}

// Keeps a /Pages node on the walk's path while its kids are walked.
class PathEntry {
  public:
    PathEntry(std::vector<ObjectRef>& path, ObjectRef node) : m_path(path) {
        m_path.push_back(node);
    }
    ~PathEntry() { m_path.pop_back(); }
    PathEntry(const PathEntry&) = delete;
    PathEntry& operator=(const PathEntry&) = delete;

  private:
    std::vector<ObjectRef>& m_path;
};

}  // namespace

bool EngineState::p2tDivePages(std::int32_t objectNumber, std::int32_t generation, int depth) {
    trace("p2tDivePages", [&] {
        return "start id=" + std::to_string(objectNumber) + " gen=" + std::to_string(generation);
    });
    if (m_objects.p2tGetObjType(objectNumber, generation) != "/Pages") {
        trace("p2tDivePages", [] { return "アサーションで失敗。異常復帰。"; });
        return false;
    }
    m_visitedNodes.insert(nodeKey(objectNumber, generation));
    const PathEntry onPath(m_pagesPath, {objectNumber, generation});
    if (!m_objects.p2tSeekObj(objectNumber, generation))
        return false;
    if (!scanTo("/Kids"))
        return false;
    if (m_reader.p2tGetToken() != "[") {
        trace("p2tDivePages", [] { return "/Kidsの直後に配列がありません"; });
        return false;
    }
    bool result = false;
    while (!m_flags.isAbort) {
        std::string_view token = nextInObject();
        if (token == "]" || token == "endobj" || (token.empty() && m_reader.p2tIsEOF()))
            return !m_flags.isAbort;
        const std::int32_t kidNumber = tokenToInt32(token);
        const std::int32_t kidGeneration = tokenToInt32(m_reader.p2tGetToken());
        m_reader.p2tGetToken();  // R
        const std::string type = m_objects.p2tGetObjType(kidNumber, kidGeneration);
        const bool isPages = type == "/Pages";
        if (isPages || type == "/Page") {
            // A node met before (a loop in the tree, or a page listed twice) is skipped: every
            // page is searched once, and no tree can make the walk endless.
            if (m_visitedNodes.count(nodeKey(kidNumber, kidGeneration)) != 0 ||
                (isPages && depth + 1 >= maxTreeDepth)) {
                trace("p2tDivePages",
                      [&] { return "既に辿ったノードです id=" + std::to_string(kidNumber); });
            } else {
                m_visitedNodes.insert(nodeKey(kidNumber, kidGeneration));
                const PdfReader::Position position = m_reader.save();
                result = isPages ? p2tDivePages(kidNumber, kidGeneration, depth + 1)
                                 : p2tDivePage(kidNumber, kidGeneration);
                m_reader.restore(position);
                if (!result)
                    return false;
            }
        }
        if (m_reader.p2tIsEOF())
            return !m_flags.isAbort;
    }
    return result && !m_flags.isAbort;
}

bool EngineState::p2tDivePage(std::int32_t objectNumber, std::int32_t generation) {
    flushPageText(m_pageCounter);
    ++m_pageCounter;
    // The page's fonts are read only when its content selects one.
    m_fonts.beginPage({objectNumber, generation}, m_pagesPath);
    m_extractor.beginPage(&m_fonts);
    if (m_sink != nullptr && !m_sink->place(m_pageCounter))
        return false;
    if (!m_objects.p2tSeekObj(objectNumber, generation)) {
        trace("p2tDivePage", [] { return "オブジェクトへのシークで失敗しました"; });
        return false;
    }
    if (!scanTo("/Contents"))
        return true;
    std::string_view token = m_reader.p2tGetToken();
    if (token != "[") {
        const std::int32_t number = tokenToInt32(token);
        const std::int32_t streamGeneration = tokenToInt32(m_reader.p2tGetToken());
        const PdfReader::Position position = m_reader.save();
        if (!p2tReadContents(number, streamGeneration, 0))
            return false;
        m_reader.restore(position);
        return !m_flags.isAbort;
    }
    std::unordered_set<std::uint64_t> seen;  // a stream listed twice on one page is read once
    for (;;) {
        token = nextInObject();
        if (token == "]" || token == "endobj" || (token.empty() && m_reader.p2tIsEOF()))
            return !m_flags.isAbort;
        const std::int32_t number = tokenToInt32(token);
        const std::int32_t streamGeneration = tokenToInt32(m_reader.p2tGetToken());
        const PdfReader::Position position = m_reader.save();
        if (seen.insert(nodeKey(number, streamGeneration)).second) {
            if (!p2tReadContents(number, streamGeneration, 0))
                return false;
            m_reader.restore(position);
        }
        m_reader.p2tGetToken();  // R
        if (m_reader.p2tIsEOF())
            return !m_flags.isAbort;
        if (m_flags.isAbort)
            return false;
    }
}

}  // namespace ferretta::pdf
