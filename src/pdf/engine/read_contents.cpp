// Content streams: finding a stream's data, decoding it and matching its text.
#include <algorithm>

#include "pdf/engine/engine_log.h"
#include "pdf/engine/engine_state.h"
#include "search/hit.h"
#include "search/path_helpers.h"

namespace ferretta::pdf {

std::shared_ptr<const std::string> ContentCache::find(std::uint64_t key) {
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->first == key) {
            std::rotate(it, it + 1, m_entries.end());  // the last one used stays longest
            return m_entries.back().second;
        }
    }
    return nullptr;
}

void ContentCache::put(std::uint64_t key, std::shared_ptr<const std::string> data) {
    if (data->size() > maxBytes)
        return;
    m_bytes += data->size();
    m_entries.emplace_back(key, std::move(data));
    while (m_bytes > maxBytes || m_entries.size() > maxEntries) {
        m_bytes -= m_entries.front().second->size();
        m_entries.erase(m_entries.begin());
    }
}

void ContentCache::clear() {
    m_entries.clear();
    m_bytes = 0;
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
    // A stream shared by many pages (a header, or a file built to make the engine decode one
    // stream again and again) is decoded once; every reading counts against the file's budget.
    const std::uint64_t key = static_cast<std::uint64_t>(static_cast<std::uint32_t>(objectNumber))
                                  << 32 |
                              static_cast<std::uint32_t>(generation);
    std::shared_ptr<const std::string> decoded = m_contentCache.find(key);
    if (!decoded) {
        if (!m_objects.decodeBudgetLeft())
            return false;
        std::string bytes =
            m_reader.p2tGetBytes(std::min<std::int64_t>(length, std::int64_t{defaultDecodeLimit}));
        m_objects.decryptStream({objectNumber, generation}, bytes, filters);
        decoded = p2tAnalyzeStream(bytes, filters);
        if (!decoded)
            return false;
        m_contentCache.put(key, decoded);
    }
    if (!m_objects.spendDecoding(decoded->size()))
        return false;
    const std::string& text = m_extractor.extract(*decoded);
    if (m_extractor.cutShort()) {
        trace("p2tAnalyzeStream", [&] {
            return "上限に達したので内容の一部を読みません id=" + std::to_string(objectNumber) +
                   " text=" + std::to_string(text.size());
        });
    }
    if (m_extractor.malformedHexStrings() > 0) {
        trace("p2tAnalyzeStream", [&] {
            return "malformed hex strings=" + std::to_string(m_extractor.malformedHexStrings());
        });
    }
    p2tFindAtLast(text);
    return true;
}

std::int64_t EngineState::p2tGetContentsLength(std::int32_t objectNumber, std::int32_t generation) {
    const std::int64_t length = m_objects.lengthOf({objectNumber, generation});
    if (length < 0)
        trace("p2tGetContentsLength", [] { return "オブジェクトへのシークで失敗しました"; });
    return length;
}

std::shared_ptr<const std::string> EngineState::p2tAnalyzeStream(
    std::string_view bytes, const std::vector<Filter>& filters) {
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
        return nullptr;
    }
    if (decoded.status != DecodeStatus::Ok) {
        // What could be decoded is searched: a damaged tail must not hide the text before it.
        trace("p2tAnalyzeStream", [&] {
            return std::string(decoded.status == DecodeStatus::TooLarge ? "too large"
                                                                        : "truncated") +
                   " decoded=" + std::to_string(decoded.data.size());
        });
    }
    return std::make_shared<const std::string>(std::move(decoded.data));
}

void EngineState::flushPageText(std::int32_t throughPage) {
    if (!m_textSink)
        return;
    while (m_pagesWritten < throughPage) {
        // The form feed ends a page: one shown in the text (a font's code 12) is a blank.
        std::replace(m_pageText.begin(), m_pageText.end(), '\f', ' ');
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
    } else if (m_sink != nullptr) {
        m_sink->unit({p2tGetPageCounter(), 0, 0, text, {}, true});
    }
    trace("p2tFindAtLast", [] { return "end"; });
}

}  // namespace ferretta::pdf
