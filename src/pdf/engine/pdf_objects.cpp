#include "pdf/engine/pdf_objects.h"

#include <algorithm>
#include <cstring>

#include "pdf/engine/engine_log.h"
#include "pdf/engine/lexer.h"
#include "platform/error.h"

namespace ferretta::pdf {
namespace {

bool isNumberToken(std::string_view t) {
    if (t.empty())
        return false;
    std::size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
    if (i >= t.size())
        return false;
    bool digit = false;
    for (; i < t.size(); ++i) {
        if (t[i] >= '0' && t[i] <= '9') {
            digit = true;
        } else if (t[i] != '.') {
            return false;
        }
    }
    return digit;
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

constexpr std::int64_t maxTypeScanTokens = 100'000;

}  // namespace

const PdfValue* PdfValue::get(std::string_view key) const {
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == key)
            return &values[i];
    }
    return nullptr;
}

std::int64_t PdfValue::asInt(std::int64_t fallback) const {
    if (kind != Kind::Number || !isIntegerToken(text))
        return fallback;
    return tokenToInt(text, INT64_MIN / 2, INT64_MAX / 2);
}

void PdfObjects::reset() {
    m_cache.p2tObjCacheInit();
    m_root = {};
    m_encrypt = {};
    m_firstId.clear();
    m_security.reset();
    m_securityStatus.reset();
    m_stringOwner.reset();
    m_rebuilt = false;
    m_valueItems = 0;
    m_streamNesting = 0;
    m_objectStreams.clear();
    m_decodedBytes = 0;
    m_budgetNoted = false;
    m_cacheFullNoted = false;
}

bool PdfObjects::decodeBudgetLeft() const {
    return m_decodedBytes <
           std::max(minDecodeBudget, decodeBudgetPerFileByte * m_reader.p2tGetFileLength());
}

bool PdfObjects::spendDecoding(std::size_t bytes) {
    m_decodedBytes += static_cast<std::int64_t>(std::min<std::size_t>(bytes, INT64_MAX / 4));
    if (decodeBudgetLeft())
        return true;
    if (!m_budgetNoted) {
        m_budgetNoted = true;
        trace("p2tMain", [&] {
            return "展開量の上限に達したので読み進めません bytes=" + std::to_string(m_decodedBytes);
        });
    }
    return false;
}

// §7.5.5: "startxref" and the offset of the last cross-reference section near the end of the
// file. The last 1,024 bytes are searched as bytes, not as tokens: they usually begin inside
// a stream's binary data, where a "(" or "%" would swallow the keyword into a string or a
// comment. The last "startxref" there counts (an updated file may hold two near its end).
std::int64_t PdfObjects::p2tGetStartXrefPosition() {
    std::int64_t result = -1;
    const std::int64_t length = m_reader.p2tGetFileLength();
    if (length > 0) {
        std::int64_t from = std::max<std::int64_t>(0, length - 1024);
        m_reader.restore(PdfReader::Position{nullptr, 0, 0, from});
        const std::string tail = m_reader.p2tGetBytes(length - from);
        for (std::size_t at = tail.rfind("startxref"); at != std::string::npos;
             at = at == 0 ? std::string::npos : tail.rfind("startxref", at - 1)) {
            std::int64_t after = from + static_cast<std::int64_t>(at) + 9;
            if (!m_reader.p2tSeek(after))
                continue;
            const Token value = m_reader.nextToken();
            if (value.kind == TokenKind::Number && isIntegerToken(value.text)) {
                const std::int64_t pos = tokenToInt(value.text, INT64_MIN / 2, INT64_MAX / 2);
                if (pos >= 0) {
                    result = pos;
                    break;
                }
            }
        }
    }
    trace("p2tGetStartXrefPosition", [&] { return "pos=" + std::to_string(result); });
    return result;
}

bool PdfObjects::p2tObjCacheConstruction() {
    const std::int64_t position = p2tGetStartXrefPosition();
    bool read = false;
    if (position >= 0) {
        try {
            read = p2tObjCacheConstructionSub(position);
        } catch (const Error& failure) {
            if (failure.kind() != Error::Kind::Other)
                throw;
            trace("p2tObjCacheConstruction",
                  [&] { return std::string("xref error: ") + failure.what(); });
            read = false;
        }
    }
    // The cross-reference data is trusted only when it leads to a catalog (which may sit in an
    // encrypted object stream).
    if (read)
        openSecurity();
    bool usable = read && m_cache.count() > 0 && m_root.objectNumber >= 0;
    if (usable) {
        try {
            usable = p2tSeekObj(m_root.objectNumber, m_root.generation);
        } catch (const Error& failure) {
            if (failure.kind() != Error::Kind::Other)
                throw;
            usable = false;
        }
    }
    if (!usable && !m_rebuilt)
        rebuildByScan();
    return m_cache.count() > 0;
}

bool PdfObjects::cacheFull() {
    // A real file spends bytes on each object, so a small file that names millions of them
    // (one cross-reference stream can) is built to fill the memory; a few bytes an object
    // leaves room for any file a producer writes.
    const std::int64_t bound = std::clamp<std::int64_t>(m_reader.p2tGetFileLength() / 2,
                                                        minObjectBound, ObjectCache::maxEntries);
    if (m_cache.count() < bound)
        return false;
    if (!m_cacheFullNoted) {
        m_cacheFullNoted = true;
        trace("p2tObjCacheConstruction", [] { return "オブジェクト数の上限に達しました"; });
    }
    return true;
}

void PdfObjects::registerOffset(std::int32_t number, std::int32_t generation, std::int64_t offset) {
    if (m_cache.p2tSearchObjCache(fileNumber, number, generation) < 0) {
        m_cache.p2tAddObjCache(fileNumber, number, generation, offset);
    }
}

// §7.5.5, §7.5.6: the newest trailer that has them names the catalog, the encryption
// dictionary and the file's identifier.
void PdfObjects::takeTrailer(const PdfValue& trailer) {
    const PdfValue* root = trailer.get("/Root");
    if (m_root.objectNumber < 0 && root && root->kind == PdfValue::Kind::Ref)
        m_root = root->ref;
    const PdfValue* encrypt = trailer.get("/Encrypt");
    if (m_encrypt.kind == PdfValue::Kind::None && encrypt &&
        (encrypt->kind == PdfValue::Kind::Ref || encrypt->kind == PdfValue::Kind::Dict)) {
        m_encrypt = *encrypt;
    }
    const PdfValue* id = trailer.get("/ID");
    if (m_firstId.empty() && id && id->kind == PdfValue::Kind::Array && !id->items.empty() &&
        id->items[0].kind == PdfValue::Kind::String) {
        m_firstId = id->items[0].text;
    }
}

SecurityHandler::Status PdfObjects::openSecurity() {
    if (m_securityStatus)
        return *m_securityStatus;
    m_security.reset();
    if (m_encrypt.kind == PdfValue::Kind::None)
        return SecurityHandler::Status::Opened;
    // The encryption dictionary's own strings are never encrypted (§7.6.2).
    PdfValue dict = m_encrypt;
    if (dict.kind == PdfValue::Kind::Ref) {
        const PdfReader::Position saved = m_reader.save();
        dict = p2tSeekObj(m_encrypt.ref.objectNumber, m_encrypt.ref.generation) ? parseValue()
                                                                                : PdfValue{};
        m_reader.restore(saved);
    }
    SecurityHandler handler;
    const SecurityHandler::Status status = handler.open(dict, m_firstId);
    trace("p2tObjCacheConstruction", [&] {
        return std::string(status == SecurityHandler::Status::Opened ? "暗号化を解除します "
                           : status == SecurityHandler::Status::NeedsPassword
                               ? "パスワードが必要です "
                               : "未対応の暗号化です ") +
               handler.describe();
    });
    if (status == SecurityHandler::Status::Opened)
        m_security = std::move(handler);
    m_securityStatus = status;
    return status;
}

void PdfObjects::decryptStream(ObjectRef owner, std::string& data,
                               std::vector<Filter>& filters) const {
    if (m_security)
        m_security->decryptStream(owner.objectNumber, owner.generation, data, filters);
}

bool PdfObjects::p2tObjCacheConstructionSub(std::int64_t xrefPosition) {
    // Iterative rather than recursive over /Prev, so that no chain, however long or looped,
    // can exhaust the stack. The newest section comes first and its rows win.
    std::unordered_set<std::int64_t> visited;
    std::int64_t position = xrefPosition;
    for (int sections = 0; position >= 0 && sections < maxSections; ++sections) {
        if (!visited.insert(position).second)
            break;
        trace("p2tObjCacheConstructionSub",
              [&] { return "処理開始 - xrefPosition=" + std::to_string(position); });
        std::int64_t seekTo = position;
        if (!m_reader.p2tSeek(seekTo))
            return false;
        PdfValue trailer;
        const std::string first(m_reader.p2tGetToken());
        if (first == "xref") {
            if (!readXrefTable(trailer))
                return false;
            const std::int64_t xrefStm =
                trailer.get("/XRefStm") ? trailer.get("/XRefStm")->asInt(-1) : -1;
            if (xrefStm >= 0 && visited.insert(xrefStm).second) {
                readXrefStream(xrefStm, nullptr);  // the hybrid file's compressed objects
            }
        } else if (isIntegerToken(first)) {
            if (!readXrefStream(position, &trailer))
                return false;
        } else {
            return false;
        }
        takeTrailer(trailer);
        const PdfValue* prev = trailer.get("/Prev");
        position = prev ? prev->asInt(-1) : -1;
    }
    trace("p2tObjCacheConstructionSub", [] { return "処理終了"; });
    return true;
}

bool PdfObjects::readXrefTable(PdfValue& trailer) {
    for (;;) {
        std::string_view token = m_reader.p2tGetToken();
        if (token == "trailer")
            break;
        if (token.empty())
            return false;
        const std::int32_t firstNumber = tokenToInt32(token);
        const std::int64_t rows = tokenToInt(m_reader.p2tGetToken(), 0, INT32_MAX);
        for (std::int64_t i = 0; i < rows && !cacheFull(); ++i) {
            const std::int64_t offset =
                tokenToInt(m_reader.p2tGetToken(), INT64_MIN / 2, INT64_MAX / 2);
            const std::int32_t generation = tokenToInt32(m_reader.p2tGetToken());
            const bool inUse = m_reader.p2tGetToken() == "n";
            const std::int64_t number = firstNumber + i;
            if (inUse && number <= INT32_MAX)
                registerOffset(static_cast<std::int32_t>(number), generation, offset);
        }
    }
    trace("p2tObjCacheConstructionSub", [] { return "trailerの読み込みを開始します"; });
    trailer = parseValue();
    return trailer.kind == PdfValue::Kind::Dict;
}

bool PdfObjects::readXrefStream(std::int64_t position, PdfValue* trailerOut) {
    std::int64_t seekTo = position;
    if (!m_reader.p2tSeek(seekTo))
        return false;
    if (!isIntegerToken(m_reader.p2tGetToken()) || !isIntegerToken(m_reader.p2tGetToken()) ||
        m_reader.p2tGetToken() != "obj") {
        return false;
    }
    PdfValue dict = parseValue();
    if (dict.kind != PdfValue::Kind::Dict)
        return false;
    const PdfValue* type = dict.get("/Type");
    if (!type || type->text != "/XRef")
        return false;
    const PdfValue* w = dict.get("/W");
    if (!w || w->kind != PdfValue::Kind::Array || w->items.size() < 3)
        return false;
    std::int64_t widths[3];
    std::int64_t entrySize = 0;
    for (int i = 0; i < 3; ++i) {
        widths[i] = w->items[static_cast<std::size_t>(i)].asInt(-1);
        if (widths[i] < 0 || widths[i] > 8)
            return false;
        entrySize += widths[i];
    }
    if (entrySize == 0)
        return false;
    std::optional<std::string> data = readStreamData(dict, std::nullopt);  // never encrypted
    if (trailerOut)
        *trailerOut = dict;
    if (!data)
        return false;

    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;  // (first, count)
    const PdfValue* index = dict.get("/Index");
    if (index && index->kind == PdfValue::Kind::Array) {
        for (std::size_t i = 0; i + 1 < index->items.size(); i += 2) {
            ranges.emplace_back(index->items[i].asInt(-1), index->items[i + 1].asInt(-1));
        }
    } else {
        ranges.emplace_back(0, dict.get("/Size") ? dict.get("/Size")->asInt(-1) : -1);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(data->data());
    std::size_t at = 0;
    auto field = [&](std::int64_t width, std::int64_t fallback) {
        if (width == 0)
            return fallback;
        std::int64_t value = 0;
        for (std::int64_t k = 0; k < width; ++k)
            value = (value << 8) | bytes[at++];
        return value;
    };
    for (auto [first, count] : ranges) {
        if (first < 0 || count < 0)
            continue;
        for (std::int64_t i = 0; i < count; ++i) {
            if (data->size() - at < static_cast<std::size_t>(entrySize) || cacheFull())
                return true;
            const std::int64_t kind = field(widths[0], 1);
            const std::int64_t second = field(widths[1], 0);
            const std::int64_t third = field(widths[2], 0);
            const std::int64_t number = first + i;
            if (number > INT32_MAX)
                break;
            const auto n = static_cast<std::int32_t>(number);
            if (kind == 1 && third <= INT32_MAX) {
                registerOffset(n, static_cast<std::int32_t>(third), second);
            } else if (kind == 2 && second <= INT32_MAX && third <= INT32_MAX) {
                if (m_cache.p2tSearchObjCache(fileNumber, n, 0) < 0) {
                    m_cache.addCompressed(fileNumber, n, static_cast<std::int32_t>(second),
                                          static_cast<std::int32_t>(third));
                }
            }
        }
    }
    return true;
}

void PdfObjects::rebuildByScan() {
    m_rebuilt = true;
    trace("p2tObjCacheConstruction",
          [] { return "相互参照を読めません。ファイルを走査して再構築します"; });
    struct Found {
        std::int32_t number;
        std::int32_t generation;
        std::int64_t offset;
    };
    std::vector<Found> found;
    std::int64_t lastTrailer = -1;
    const std::int64_t length = m_reader.p2tGetFileLength();
    constexpr std::int64_t chunk = 1 << 20;
    constexpr std::int64_t before = 64;  // bytes before the chunk: "n g " ahead of "obj"
    constexpr std::int64_t after = 8;    // bytes after it: what follows "obj" and "trailer"
    for (std::int64_t base = 0; base < length; base += chunk) {
        const std::int64_t from = std::max<std::int64_t>(0, base - before);
        m_reader.restore(PdfReader::Position{nullptr, 0, 0, from});
        const std::string bytes =
            m_reader.p2tGetBytes(std::min(length, base + chunk + after) - from);
        const std::string_view view(bytes);
        const auto at = [&](std::int64_t i) {
            return static_cast<unsigned char>(view[static_cast<std::size_t>(i)]);
        };
        const std::int64_t size = static_cast<std::int64_t>(view.size());
        const std::int64_t ownEnd = std::min(size, base + chunk - from);
        for (std::size_t hit = view.find("obj", static_cast<std::size_t>(base - from));
             hit != std::string_view::npos && static_cast<std::int64_t>(hit) < ownEnd;
             hit = view.find("obj", hit + 1)) {
            const auto k = static_cast<std::int64_t>(hit);
            if (k + 3 < size && !isPdfWhiteSpace(at(k + 3)) &&
                std::strchr("<[/(%", at(k + 3)) == nullptr)
                continue;
            std::int64_t j = k - 1;
            while (j >= 0 && isPdfWhiteSpace(at(j)))
                --j;
            const std::int64_t genEnd = j;
            while (j >= 0 && isDigit(at(j)))
                --j;
            const std::int64_t genLength = genEnd - j;
            if (genLength < 1 || genLength > 5 || j < 0 || !isPdfWhiteSpace(at(j)))
                continue;
            while (j >= 0 && isPdfWhiteSpace(at(j)))
                --j;
            const std::int64_t numberEnd = j;
            while (j >= 0 && isDigit(at(j)))
                --j;
            const std::int64_t numberLength = numberEnd - j;
            if (numberLength < 1 || numberLength > 10)
                continue;
            if (j >= 0 &&
                (isDigit(at(j)) || !(isPdfWhiteSpace(at(j)) || std::strchr("<>[]()/%", at(j)))))
                continue;
            const std::int64_t number =
                tokenToInt(view.substr(static_cast<std::size_t>(j + 1),
                                       static_cast<std::size_t>(numberLength)),
                           0, INT64_MAX / 2);
            const std::int64_t generation =
                tokenToInt(view.substr(static_cast<std::size_t>(genEnd - genLength + 1),
                                       static_cast<std::size_t>(genLength)),
                           0, INT64_MAX / 2);
            if (number > INT32_MAX)
                continue;
            found.push_back({static_cast<std::int32_t>(number),
                             static_cast<std::int32_t>(generation), from + j + 1});
            if (found.size() >= static_cast<std::size_t>(ObjectCache::maxEntries))
                break;
        }
        for (std::size_t hit = view.find("trailer", static_cast<std::size_t>(base - from));
             hit != std::string_view::npos && static_cast<std::int64_t>(hit) < ownEnd;
             hit = view.find("trailer", hit + 1)) {
            lastTrailer = from + static_cast<std::int64_t>(hit);
        }
    }

    m_cache.p2tObjCacheInit();
    m_objectStreams.clear();
    for (auto it = found.rbegin(); it != found.rend(); ++it)
        registerOffset(it->number, it->generation, it->offset);

    // A file with cross-reference streams has no "trailer": the last such stream's dictionary
    // is its trailer (§7.5.8.2).
    const std::int32_t plain = m_cache.count();
    std::int32_t lastXref = -1;
    std::vector<std::int32_t> objectStreams;
    for (std::int32_t e = 1; e <= plain; ++e) {
        const std::string type = fillType(e);
        if (type == "/ObjStm")
            objectStreams.push_back(m_cache.entry(e).objectNumber);
        if (type == "/XRef" &&
            (lastXref < 0 || m_cache.entry(e).address > m_cache.entry(lastXref).address))
            lastXref = e;
    }

    m_root = {};
    if (lastTrailer >= 0) {
        std::int64_t pos = lastTrailer;
        if (m_reader.p2tSeek(pos)) {
            m_reader.p2tGetToken();
            PdfValue trailer = parseValue();
            if (trailer.kind == PdfValue::Kind::Dict)
                takeTrailer(trailer);
        }
    } else if (lastXref > 0) {
        const ObjectRecord& record = m_cache.entry(lastXref);
        takeTrailer(readObject(record.objectNumber, record.generation));
    }
    // Objects kept in object streams are known only from the streams themselves, which in an
    // encrypted file can be read only once the trailer has named the encryption.
    openSecurity();
    for (const std::int32_t number : objectStreams)
        registerObjectStreamMembers(number);
    if (m_root.objectNumber < 0 ||
        p2tGetObjType(m_root.objectNumber, m_root.generation) != "/Catalog") {
        // No trailer, or one that names no catalog: the last catalog in the file.
        m_root = {};
        std::int64_t bestOffset = -1;
        for (std::int32_t e = 1; e <= m_cache.count(); ++e) {
            const ObjectRecord& record = m_cache.entry(e);
            const std::int64_t offset = record.address >= 0 ? record.address : record.streamNumber;
            if (offset > bestOffset && fillType(e) == "/Catalog") {
                bestOffset = offset;
                m_root = {record.objectNumber, record.generation};
            }
        }
    }
    trace("p2tObjCacheConstruction", [&] {
        return "再構築 objects=" + std::to_string(m_cache.count()) +
               " root=" + std::to_string(m_root.objectNumber);
    });
}

void PdfObjects::registerObjectStreamMembers(std::int32_t streamNumber) {
    const ObjectStream* stream = loadObjectStream(streamNumber);
    if (!stream)
        return;
    std::int32_t index = 0;
    for (const auto& [number, offset] : stream->offsets) {
        if (m_cache.p2tSearchObjCache(fileNumber, number, 0) < 0) {
            m_cache.addCompressed(fileNumber, number, streamNumber, index);
        }
        ++index;
    }
}

bool PdfObjects::headerMatches(std::int32_t objectNumber, std::int32_t generation) {
    std::string_view token = m_reader.p2tGetToken();
    if (!isIntegerToken(token) || tokenToInt(token, INT64_MIN / 2, INT64_MAX / 2) != objectNumber)
        return false;
    token = m_reader.p2tGetToken();
    if (!isIntegerToken(token) || tokenToInt(token, INT64_MIN / 2, INT64_MAX / 2) != generation)
        return false;
    return m_reader.p2tGetToken() == "obj";
}

bool PdfObjects::p2tSeekObj(std::int32_t objectNumber, std::int32_t generation) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::int32_t e = m_cache.p2tSearchObjCache(fileNumber, objectNumber, generation);
        // An object that is not cached is left alone, as a dangling reference should be.
        if (e < 0)
            return false;
        const ObjectRecord record = m_cache.entry(e);
        if (record.streamNumber >= 0) {
            const ObjectStream* stream = loadObjectStream(record.streamNumber);
            if (!stream)
                return false;
            auto index = static_cast<std::size_t>(record.indexInStream);
            if (index >= stream->offsets.size() || stream->offsets[index].first != objectNumber) {
                index = stream->offsets.size();
                for (std::size_t i = 0; i < stream->offsets.size(); ++i) {
                    if (stream->offsets[i].first == objectNumber)
                        index = i;
                }
                if (index == stream->offsets.size())
                    return false;
            }
            const auto size = static_cast<std::int64_t>(stream->data->size());
            const std::int64_t begin =
                std::min(size, stream->first + stream->offsets[index].second);
            std::int64_t end = size;
            if (index + 1 < stream->offsets.size()) {
                const std::int64_t next = stream->first + stream->offsets[index + 1].second;
                if (next >= begin && next <= size)
                    end = next;
            }
            m_reader.useMemory(stream->data, static_cast<std::size_t>(begin),
                               static_cast<std::size_t>(end));
            return true;
        }
        std::int64_t address = record.address;
        if (m_reader.inMemory())
            m_reader.useFile();
        if (m_reader.p2tSeek(address) && headerMatches(objectNumber, generation))
            return true;
        if (m_rebuilt)
            return false;
        trace("p2tSeekObj", [&] {
            return "オブジェクトの位置が不正です id=" + std::to_string(objectNumber) +
                   " address=" + std::to_string(record.address);
        });
        rebuildByScan();
    }
    return false;
}

std::string PdfObjects::fillType(std::int32_t e) {
    ObjectRecord& record = m_cache.entry(e);
    if (record.objType != unknownType)
        return record.objType;
    const PdfReader::Position saved = m_reader.save();
    const std::int32_t number = record.objectNumber;
    const std::int32_t generation = record.generation;
    std::string type(unknownType);
    // Only this object's own dictionary counts (depth 1): a /Type of an inline font or group
    // dictionary before the page's own must not make the page something else.
    if (p2tSeekObj(number, generation)) {
        int depth = 0;
        for (std::int64_t n = 0; n < maxTypeScanTokens; ++n) {
            std::string_view token = m_reader.p2tGetToken();
            if (token.empty()) {
                if (m_reader.p2tIsEOF())
                    break;
                continue;
            }
            if (token == "<<") {
                ++depth;
            } else if (token == ">>") {
                if (--depth <= 0) {
                    type = "???";
                    break;
                }
            } else if (token == "/Type" && depth == 1) {
                type = std::string(m_reader.p2tGetToken());
                break;
            } else if (token == "endobj" || token == "stream" || token == "obj") {
                type = "???";
                break;
            }
            if (depth == 0 && n > 0) {
                type = "???";  // not a dictionary
                break;
            }
        }
        if (type == unknownType && !m_reader.p2tIsEOF())
            type = "???";
    }
    m_reader.restore(saved);
    // p2tSeekObj may have rebuilt the cache; find the entry again.
    const std::int32_t again = m_cache.p2tSearchObjCache(fileNumber, number, generation);
    if (again > 0)
        m_cache.entry(again).objType = type;
    return type;
}

std::string PdfObjects::p2tGetObjType(std::int32_t objectNumber, std::int32_t generation) {
    std::int32_t e = m_cache.p2tSearchObjCache(fileNumber, objectNumber, generation);
    if (e < 0)
        return {};
    return fillType(e);
}

PdfValue PdfObjects::parseValue(std::optional<ObjectRef> owner) {
    m_valueItems = 0;
    m_stringOwner = m_security ? owner : std::nullopt;
    return parseValueAt(0);
}

PdfValue PdfObjects::parseValueAt(int depth) {
    m_strings.clear();
    return valueOf(m_reader.nextToken(&m_strings), depth);
}

// §7.3: one object from its first token. A dictionary or array ends at its closing token, at
// the end of the data, or before a keyword that can only follow it ("endobj", "stream",
// "obj"), which is left to the caller, as a damaged file needs.
PdfValue PdfObjects::valueOf(Token token, int depth) {
    PdfValue value;
    if (++m_valueItems > maxValueItems)
        throw Error(Error::Kind::Other, "PDF value too large");
    auto endsContainer = [&](const Token& t) {
        return t.kind == TokenKind::End ||
               (t.kind == TokenKind::Keyword && (t.text == "endobj" || t.text == "stream" ||
                                                 t.text == "endstream" || t.text == "obj"));
    };
    switch (token.kind) {
        case TokenKind::End:
            return value;
        case TokenKind::DictOpen: {
            value.kind = PdfValue::Kind::Dict;
            if (depth >= maxValueDepth)
                throw Error(Error::Kind::Other, "PDF value nested too deep");
            for (;;) {
                const PdfReader::Position before = m_reader.save();
                const Token key = m_reader.nextToken();
                if (key.kind == TokenKind::DictClose)
                    break;
                if (endsContainer(key)) {
                    m_reader.restore(before);
                    break;
                }
                if (key.kind != TokenKind::Name)
                    continue;  // a stray token where a key belongs
                std::string name(key.text);
                const PdfReader::Position beforeValue = m_reader.save();
                m_strings.clear();
                const Token first = m_reader.nextToken(&m_strings);
                if (first.kind == TokenKind::DictClose || endsContainer(first)) {
                    m_reader.restore(beforeValue);  // a key without a value
                    continue;
                }
                PdfValue item = valueOf(first, depth + 1);
                value.keys.push_back(std::move(name));
                value.values.push_back(std::move(item));
            }
            return value;
        }
        case TokenKind::ArrayOpen: {
            value.kind = PdfValue::Kind::Array;
            if (depth >= maxValueDepth)
                throw Error(Error::Kind::Other, "PDF value nested too deep");
            for (;;) {
                const PdfReader::Position before = m_reader.save();
                m_strings.clear();
                const Token next = m_reader.nextToken(&m_strings);
                if (next.kind == TokenKind::ArrayClose)
                    break;
                if (next.kind == TokenKind::DictClose || endsContainer(next)) {
                    m_reader.restore(before);
                    break;
                }
                value.items.push_back(valueOf(next, depth + 1));
            }
            return value;
        }
        case TokenKind::LiteralString:
        case TokenKind::HexString:
            value.kind = PdfValue::Kind::String;
            value.text = m_strings;
            if (m_stringOwner)
                m_security->decryptString(m_stringOwner->objectNumber, m_stringOwner->generation,
                                          value.text);
            return value;
        case TokenKind::Name:
            value.kind = PdfValue::Kind::Name;
            value.text = token.text;
            return value;
        case TokenKind::Number: {
            value.text = token.text;
            if (!isNumberToken(value.text)) {
                value.kind = PdfValue::Kind::Keyword;
                return value;
            }
            value.kind = PdfValue::Kind::Number;
            if (isIntegerToken(value.text)) {
                // "n g R" (§7.3.10)
                const PdfReader::Position before = m_reader.save();
                const Token generation = m_reader.nextToken();
                if (generation.kind == TokenKind::Number && isIntegerToken(generation.text)) {
                    const std::string g(generation.text);
                    const Token r = m_reader.nextToken();
                    if (r.kind == TokenKind::Keyword && r.text == "R") {
                        const std::int64_t n = tokenToInt(value.text, INT64_MIN / 2, INT64_MAX / 2);
                        const std::int64_t gen = tokenToInt(g, INT64_MIN / 2, INT64_MAX / 2);
                        if (n >= 0 && n <= INT32_MAX && gen >= 0 && gen <= INT32_MAX) {
                            value.kind = PdfValue::Kind::Ref;
                            value.ref = {static_cast<std::int32_t>(n),
                                         static_cast<std::int32_t>(gen)};
                            return value;
                        }
                    }
                }
                m_reader.restore(before);
            }
            return value;
        }
        case TokenKind::Keyword:
            value.kind = PdfValue::Kind::Keyword;
            value.text = token.text;
            return value;
        default:
            // A stray closing token or a brace: nothing a value can start with.
            value.kind = PdfValue::Kind::Keyword;
            value.text = token.text;
            return value;
    }
}

PdfValue PdfObjects::readObject(std::int32_t objectNumber, std::int32_t generation) {
    if (!p2tSeekObj(objectNumber, generation))
        return {};
    return parseValue(ownerAt(objectNumber, generation));
}

std::optional<ObjectRef> PdfObjects::ownerAt(std::int32_t objectNumber,
                                             std::int32_t generation) const {
    if (m_reader.inMemory())
        return std::nullopt;  // §7.5.7: an object stream is decrypted as a whole
    return ObjectRef{objectNumber, generation};
}

std::int64_t PdfObjects::lengthOf(ObjectRef ref) {
    if (m_streamNesting >= maxStreamNesting)
        return -1;
    ++m_streamNesting;
    const PdfReader::Position saved = m_reader.save();
    std::int64_t result = -1;
    try {
        PdfValue value = readObject(ref.objectNumber, ref.generation);
        result = value.asInt(-1);
    } catch (...) {
        m_reader.restore(saved);
        --m_streamNesting;
        throw;
    }
    m_reader.restore(saved);
    --m_streamNesting;
    return result;
}

std::vector<Filter> PdfObjects::filtersOf(const PdfValue& dict) {
    std::vector<Filter> filters;
    const PdfValue* filter = dict.get("/Filter");
    if (!filter)
        filter = dict.get("/F");
    if (!filter)
        return filters;
    if (filter->kind == PdfValue::Kind::Name) {
        filters.push_back({filter->text, {}});
    } else if (filter->kind == PdfValue::Kind::Array) {
        for (const PdfValue& item : filter->items) {
            if (item.kind == PdfValue::Kind::Name)
                filters.push_back({item.text, {}});
        }
    }
    const PdfValue* parms = dict.get("/DecodeParms");
    if (!parms)
        parms = dict.get("/DP");
    if (!parms)
        return filters;
    auto resolve = [&](const PdfValue& v) -> PdfValue {
        if (v.kind != PdfValue::Kind::Ref || m_streamNesting >= maxStreamNesting)
            return v;
        const PdfReader::Position saved = m_reader.save();
        ++m_streamNesting;
        PdfValue target;
        try {
            target = readObject(v.ref.objectNumber, v.ref.generation);
        } catch (...) {
            --m_streamNesting;
            m_reader.restore(saved);
            throw;
        }
        --m_streamNesting;
        m_reader.restore(saved);
        return target;
    };
    auto apply = [](const PdfValue& p, DecodeParams& out) {
        if (p.kind != PdfValue::Kind::Dict)
            return;
        auto number = [&](std::string_view key, int& field) {
            const PdfValue* v = p.get(key);
            if (!v)
                return;
            const std::int64_t n = v->asInt(field);
            if (n >= INT32_MIN && n <= INT32_MAX)
                field = static_cast<int>(n);
        };
        number("/Predictor", out.predictor);
        number("/Colors", out.colors);
        number("/BitsPerComponent", out.bitsPerComponent);
        number("/Columns", out.columns);
        number("/EarlyChange", out.earlyChange);
    };
    const PdfValue resolved = resolve(*parms);
    if (resolved.kind == PdfValue::Kind::Array) {
        for (std::size_t i = 0; i < resolved.items.size() && i < filters.size(); ++i) {
            apply(resolve(resolved.items[i]), filters[i].params);
        }
    } else if (!filters.empty()) {
        apply(resolved, filters[0].params);
    }
    return filters;
}

std::optional<std::string> PdfObjects::readStreamData(const PdfValue& dict,
                                                      std::optional<ObjectRef> owner) {
    if (m_reader.p2tGetToken() != "stream")
        return std::nullopt;
    const PdfReader::Position dataStart = m_reader.save();
    const PdfValue* lengthValue = dict.get("/Length");
    std::int64_t length = -1;
    if (lengthValue && lengthValue->kind == PdfValue::Kind::Ref) {
        length = lengthOf(lengthValue->ref);
    } else if (lengthValue) {
        length = lengthValue->asInt(-1);
    }
    if (length < 0)
        return std::nullopt;
    std::vector<Filter> filters = filtersOf(dict);
    if (!decodeBudgetLeft())
        return std::nullopt;
    m_reader.restore(dataStart);
    std::string raw =
        m_reader.p2tGetBytes(std::min<std::int64_t>(length, std::int64_t{defaultDecodeLimit}));
    if (owner)
        decryptStream(*owner, raw, filters);
    DecodeResult decoded = decodeStream(raw, filters);
    if (decoded.status == DecodeStatus::Unsupported || !spendDecoding(decoded.data.size()))
        return std::nullopt;
    return std::move(decoded.data);
}

const PdfObjects::ObjectStream* PdfObjects::loadObjectStream(std::int32_t number) {
    for (const ObjectStream& kept : m_objectStreams) {
        if (kept.number == number)
            return &kept;
    }
    const std::int32_t e = m_cache.p2tSearchObjCache(fileNumber, number, 0);
    // An object stream is never itself compressed; refusing one that claims to be stops loops.
    if (e < 0 || m_cache.entry(e).streamNumber >= 0 || m_streamNesting >= maxStreamNesting)
        return nullptr;
    ++m_streamNesting;
    const PdfReader::Position saved = m_reader.save();
    ObjectStream stream;
    stream.number = number;
    try {
        if (p2tSeekObj(number, 0)) {
            PdfValue dict = parseValue(ownerAt(number, 0));
            if (dict.kind == PdfValue::Kind::Dict) {
                std::optional<std::string> data = readStreamData(dict, ObjectRef{number, 0});
                const std::int64_t count = dict.get("/N") ? dict.get("/N")->asInt(-1) : -1;
                stream.first = dict.get("/First") ? dict.get("/First")->asInt(-1) : -1;
                if (data && count >= 0 && stream.first >= 0) {
                    auto shared = std::make_shared<const std::string>(std::move(*data));
                    const auto headerEnd = static_cast<std::size_t>(std::min<std::int64_t>(
                        stream.first, static_cast<std::int64_t>(shared->size())));
                    m_reader.useMemory(shared, 0, headerEnd);
                    for (std::int64_t i = 0; i < count && !m_reader.p2tIsEOF(); ++i) {
                        const std::string n(m_reader.nextToken().text);
                        if (!isIntegerToken(n))
                            break;
                        const std::int64_t objectNumber =
                            tokenToInt(n, INT64_MIN / 2, INT64_MAX / 2);
                        const std::string_view o = m_reader.nextToken().text;
                        if (!isIntegerToken(o))
                            break;
                        const std::int64_t offset = tokenToInt(o, INT64_MIN / 2, INT64_MAX / 2);
                        if (objectNumber < 0 || objectNumber > INT32_MAX || offset < 0)
                            break;
                        stream.offsets.emplace_back(static_cast<std::int32_t>(objectNumber),
                                                    offset);
                    }
                    stream.data = std::move(shared);
                }
            }
        }
    } catch (...) {
        --m_streamNesting;
        m_reader.restore(saved);
        throw;
    }
    --m_streamNesting;
    m_reader.restore(saved);
    if (!stream.data)
        return nullptr;
    std::size_t kept = stream.data->size();
    for (const ObjectStream& other : m_objectStreams)
        kept += other.data->size();
    while (!m_objectStreams.empty() &&
           (m_objectStreams.size() >= maxObjectStreamsKept || kept > maxObjectStreamBytesKept)) {
        kept -= m_objectStreams.front().data->size();
        m_objectStreams.erase(m_objectStreams.begin());
    }
    m_objectStreams.push_back(std::move(stream));
    return &m_objectStreams.back();
}

}  // namespace ferretta::pdf
