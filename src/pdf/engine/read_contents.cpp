// Content streams: finding a stream's data, decoding it and matching its text.
#include "pdf/engine/engine_log.h"
#include "pdf/engine/engine_state.h"
#include "search/hit.h"
#include "search/path_helpers.h"

namespace ferretta::pdf {

bool EngineState::decodeBudgetLeft() const {
    // Streams shared by many pages are decoded once per page; past this much decoded data in
    // one file, the file is built to keep the engine busy.
    return m_objects.decodedBytes() <= (std::int64_t{2} << 30) + 64 * m_reader.p2tGetFileLength();
}

bool EngineState::p2tReadContents(std::int32_t objectNumber, std::int32_t generation, int depth) {
    trace("p2tReadContents", [&] {
        return "start id=" + std::to_string(objectNumber) + " gen=" + std::to_string(generation);
    });
    if (!m_objects.p2tSeekObj(objectNumber, generation)) {
        trace("p2tReadContents", [] { return "オブジェクトへのシークで失敗しました"; });
        return false;
    }
    const PdfValue value = m_objects.parseValue(m_objects.ownerAt(objectNumber, generation));
    const PdfReader::Position afterValue = m_reader.save();
    if (value.kind == PdfValue::Kind::Array) {
        // An indirect array of stream references.
        if (depth >= maxContentsDepth)
            return true;
        for (const PdfValue& item : value.items) {
            if (item.kind != PdfValue::Kind::Ref)
                continue;
            const PdfReader::Position position = m_reader.save();
            const bool done =
                p2tReadContents(item.ref.objectNumber, item.ref.generation, depth + 1);
            m_reader.restore(position);
            if (!done)
                return false;
        }
        return true;
    }
    if (value.kind != PdfValue::Kind::Dict)
        return true;
    std::int64_t length = -1;
    if (const PdfValue* lengthValue = value.get("/Length")) {
        length =
            lengthValue->kind == PdfValue::Kind::Ref
                ? p2tGetContentsLength(lengthValue->ref.objectNumber, lengthValue->ref.generation)
                : lengthValue->asInt(-1);
    }
    std::vector<Filter> filters = m_objects.filtersOf(value);
    if (length < 0) {
        trace("p2tReadContents", [&] {
            std::string names;
            for (const Filter& f : filters)
                names += f.name;
            return "Lengthが読めません id=" + std::to_string(objectNumber) +
                   " gen=" + std::to_string(generation) + " length=" + std::to_string(length) +
                   " filter=" + names;
        });
        return false;
    }
    // Back to the end of the dictionary: resolving /Length or /DecodeParms moved the reader.
    m_reader.restore(afterValue);
    if (m_reader.p2tGetToken() != "stream")
        return true;  // nothing to analyse
    if (!decodeBudgetLeft()) {
        trace("p2tReadContents", [] { return "展開したデータが多すぎます"; });
        return false;
    }
    std::string bytes = m_reader.p2tGetBytes(length);
    m_objects.decryptStream({objectNumber, generation}, bytes, filters);
    return p2tAnalyzeStream(bytes, filters);
}

std::int64_t EngineState::p2tGetContentsLength(std::int32_t objectNumber, std::int32_t generation) {
    const std::int64_t length = m_objects.lengthOf({objectNumber, generation});
    if (length < 0)
        trace("p2tGetContentsLength", [] { return "オブジェクトへのシークで失敗しました"; });
    return length;
}

bool EngineState::p2tAnalyzeStream(std::string_view bytes, const std::vector<Filter>& filters) {
    trace("p2tAnalyzeStream", [&] {
        std::string names;
        for (const Filter& f : filters)
            names += f.name;
        return "filterName=" + names;
    });
    DecodeResult decoded = decodeStream(bytes, filters);
    if (decoded.status == DecodeStatus::Unsupported) {
        trace("p2tAnalyzeStream", [&] {
            std::string names;
            for (const Filter& f : filters)
                names += f.name;
            return "未対応のデコード形式:" + names;
        });
        return false;
    }
    if (decoded.status != DecodeStatus::Ok) {
        // What could be decoded is searched: a damaged tail must not hide the text before it.
        trace("p2tAnalyzeStream", [&] {
            return std::string(decoded.status == DecodeStatus::TooLarge ? "too large"
                                                                        : "truncated") +
                   " decoded=" + std::to_string(decoded.data.size());
        });
    }
    const std::string& text = m_extractor.extract(decoded.data);
    if (m_extractor.malformedHexStrings() > 0) {
        trace("p2tAnalyzeStream", [&] {
            return "malformed hex strings=" + std::to_string(m_extractor.malformedHexStrings());
        });
    }
    p2tFindAtLast(text);
    return true;
}

void EngineState::flushPageText(std::int32_t throughPage) {
    if (!m_textSink)
        return;
    while (m_pagesWritten < throughPage) {
        m_pageText += '\f';
        m_textSink(m_pageText);
        m_pageText.clear();
        ++m_pagesWritten;
    }
}

void EngineState::p2tFindAtLast(const std::string& text) {
    trace("p2tFindAtLast", [] { return "start"; });
    if (m_textSink) {
        if (!m_pageText.empty() && !text.empty())
            m_pageText += '\n';
        m_pageText += text;
    } else if (!text.empty() && m_matcher.smartFind(text) != 0) {
        search::addResult(m_host, pdfFileType, m_fileName, text, m_currentPdfPath,
                          std::to_string(p2tGetPageCounter()));
    }
    if (++m_findCalls % 5 == 0) {
        m_host.doEvents();
        m_findCalls = 0;
    }
    trace("p2tFindAtLast", [] { return "end"; });
}

}  // namespace ferretta::pdf
