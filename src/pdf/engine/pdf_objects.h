#pragma once
// The objects of one PDF file: the cross-reference data read into the object cache (tables,
// cross-reference streams, hybrid files, /Prev chains; a scan of the whole file when that
// data is broken), placing the reader on an object (also inside an object stream), object
// values and stream data.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "pdf/engine/filters.h"
#include "pdf/engine/object_cache.h"
#include "pdf/engine/pdf_reader.h"
#include "pdf/engine/security_handler.h"

namespace ferretta::pdf {

struct ObjectRef {
    std::int32_t objectNumber = -1;
    std::int32_t generation = -1;
};

// A parsed PDF value; just enough of PDF's object model for dictionaries of streams, trailers
// and cross-reference streams.
struct PdfValue {
    enum class Kind { None, Number, Name, Ref, Array, Dict, String, Keyword };
    Kind kind = Kind::None;
    // Number, Name ("/Length", escapes not decoded), Keyword; String: its bytes (decrypted),
    // at most PdfReader::maxStringBytes of them.
    std::string text;
    ObjectRef ref;
    std::vector<PdfValue> items;    // Array
    std::vector<std::string> keys;  // Dict: keys[i] names values[i]
    std::vector<PdfValue> values;

    // The value of a dictionary key (with its slash), or null.
    const PdfValue* get(std::string_view key) const;
    // The number as an integer; `fallback` when it is not an integer.
    std::int64_t asInt(std::int64_t fallback) const;
};

class PdfObjects {
  public:
    explicit PdfObjects(PdfReader& reader) : m_reader(reader) {}

    // Forgets the previous file.
    void reset();

    // The offset after the last "startxref" in the last 1,024 bytes of the file; -1 when none.
    std::int64_t p2tGetStartXrefPosition();

    // Fills the cache from the cross-reference data; when that is missing or broken, from a
    // scan of the whole file for "n g obj". Answers false only when the file holds no objects
    // at all. Throws only what the reader throws (a failed read, the token budget).
    bool p2tObjCacheConstruction();

    // Reads one cross-reference section (table or stream) at the offset and then the older
    // ones its trailer names through /Prev (cycle-safe, at most maxSections). False when a
    // section cannot be read.
    bool p2tObjCacheConstructionSub(std::int64_t xrefPosition);

    // Rebuilds the cache from a scan of the whole file; later headers win. Also registers the
    // members of the object streams found and finds the trailer.
    void rebuildByScan();

    // Places the reader on the object's value: past "n g obj" in the file, or on the object's
    // bytes inside its object stream. False when the object is not cached or cannot be reached;
    // an offset that does not lead to "n g obj" makes the cache be rebuilt once.
    bool p2tSeekObj(std::int32_t objectNumber, std::int32_t generation);

    // The /Type of the object's own dictionary ("/Page", "/Pages", ...), "???" when it has none,
    // "" when the object is not cached. Read from the file once, then remembered.
    std::string p2tGetObjType(std::int32_t objectNumber, std::int32_t generation);

    // Parses one value at the reader's position (depth-limited, size-limited); in an encrypted
    // file the strings are decrypted as those of object `owner` (none: not encrypted, as in a
    // trailer or an object stream). Throws ferretta::Error (Kind::Other) for more than
    // maxValueItems items.
    PdfValue parseValue(std::optional<ObjectRef> owner = std::nullopt);
    // Seeks to the object and parses its value; a Kind::None value when it cannot be reached.
    PdfValue readObject(std::int32_t objectNumber, std::int32_t generation);
    // After p2tSeekObj: the object whose strings the value there is encrypted as (none when it
    // sits in an object stream).
    std::optional<ObjectRef> ownerAt(std::int32_t objectNumber, std::int32_t generation) const;

    // The number of an indirect /Length; -1 when it cannot be read.
    std::int64_t lengthOf(ObjectRef ref);

    // Reads the /Filter and /DecodeParms of a stream dictionary (names or arrays, parameters
    // maybe indirect).
    std::vector<Filter> filtersOf(const PdfValue& dict);

    // Reads the data of a stream whose dictionary was just parsed (the reader is on the token
    // after it, expected "stream"), decrypts it as object `owner`'s (none: a cross-reference
    // stream, never encrypted) and decodes it. nullopt when there is no stream, no readable
    // /Length or the filters are not supported.
    std::optional<std::string> readStreamData(const PdfValue& dict, std::optional<ObjectRef> owner);

    // Decrypts a stream's raw data as object `owner`'s; a leading /Crypt filter is taken out of
    // `filters`. Nothing happens in a file that is not encrypted.
    void decryptStream(ObjectRef owner, std::string& data, std::vector<Filter>& filters) const;

    // Sets up decryption from the trailer's /Encrypt (after p2tObjCacheConstruction; once per
    // file, later calls answer the first one's status). A file without one answers Opened too.
    SecurityHandler::Status openSecurity();
    bool encrypted() const { return m_security.has_value(); }

    ObjectRef trailerRoot() const { return m_root; }
    ObjectCache& cache() { return m_cache; }
    bool rebuilt() const { return m_rebuilt; }

    // The decoding work one file may cause: every stream decoded and every content stream
    // read again (a stream shared by many pages) counts its bytes. Past the budget (the larger
    // of minDecodeBudget and decodeBudgetPerFileByte times the file's length) the file is cut
    // short, with one debug-log line. spendDecoding answers false once it is used up.
    bool decodeBudgetLeft() const;
    // Whether a bound on the work for this file was met (its budget for decoded bytes, or
    // for objects), so that part of it was left unread.
    bool cutShort() const { return m_budgetNoted || m_cacheFullNoted; }
    bool spendDecoding(std::size_t bytes);

    static constexpr std::int16_t fileNumber = 1;
    static constexpr int maxSections = 1024;
    static constexpr int maxValueDepth = 32;
    static constexpr std::int64_t maxValueItems = 250'000;
    static constexpr std::int64_t minDecodeBudget = std::int64_t{512} << 20;
    static constexpr std::int64_t decodeBudgetPerFileByte = 16;
    // Objects any file may register, however small it is.
    static constexpr std::int64_t minObjectBound = 100'000;
    // Decoded object streams kept at a time, by number and by their bytes together.
    static constexpr std::size_t maxObjectStreamsKept = 4;
    static constexpr std::size_t maxObjectStreamBytesKept = std::size_t{64} << 20;
    static constexpr int maxStreamNesting = 4;

  private:
    struct ObjectStream {
        std::int32_t number = -1;
        std::shared_ptr<const std::string> data;
        std::int64_t first = 0;
        std::vector<std::pair<std::int32_t, std::int64_t>> offsets;  // (object number, offset)
    };

    PdfValue parseValueAt(int depth);
    PdfValue valueOf(Token token, int depth);
    bool readXrefTable(PdfValue& trailer);
    bool readXrefStream(std::int64_t position, PdfValue* trailer);
    void registerOffset(std::int32_t number, std::int32_t generation, std::int64_t offset);
    bool cacheFull();
    void takeTrailer(const PdfValue& trailer);
    bool headerMatches(std::int32_t objectNumber, std::int32_t generation);
    const ObjectStream* loadObjectStream(std::int32_t number);
    std::string fillType(std::int32_t e);
    void registerObjectStreamMembers(std::int32_t streamNumber);

    PdfReader& m_reader;
    ObjectCache m_cache;
    ObjectRef m_root;
    PdfValue m_encrypt;     // the newest trailer's /Encrypt (a reference or a dictionary)
    std::string m_firstId;  // the first string of its /ID
    std::optional<SecurityHandler> m_security;
    std::optional<SecurityHandler::Status> m_securityStatus;  // once the trailer was read
    std::optional<ObjectRef> m_stringOwner;                   // while a value is parsed
    std::string m_strings;  // the bytes of the strings a token held
    bool m_rebuilt = false;
    std::int64_t m_valueItems = 0;
    int m_streamNesting = 0;
    std::vector<ObjectStream> m_objectStreams;  // a few recently used ones
    std::int64_t m_decodedBytes = 0;
    bool m_budgetNoted = false;
    bool m_cacheFullNoted = false;
};

}  // namespace ferretta::pdf
