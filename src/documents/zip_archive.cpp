#include "documents/zip_archive.h"

#include <dlfcn.h>
#include <libdeflate.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

namespace ferretta::documents {
namespace {

constexpr std::string_view kCompoundFileMagic("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr std::size_t kChunk = 64 * 1024;
// Entries from this size on are inflated on a helper thread while they are consumed; smaller
// ones are inflated whole.
constexpr std::uint64_t kReadAheadBytes = std::uint64_t{4} << 20;

// libdeflate inflates a whole entry two to three times as fast as zlib in chunks through
// libzip, and sums its CRC several times as fast: most of a small document's reading.
struct FreeDecompressor {
    void operator()(libdeflate_decompressor* decompressor) const {
        libdeflate_free_decompressor(decompressor);
    }
};
libdeflate_decompressor* decompressor() {
    thread_local const std::unique_ptr<libdeflate_decompressor, FreeDecompressor> one(
        libdeflate_alloc_decompressor());
    return one.get();
}

// libzip is loaded at the first archive that needs it (one the directory reader turns down, a
// file over the size read whole, an entry that is not plain), not with the program: linked, it
// and the libcrypto it brings cost every start some 0.7 ms of loading and binding, more than a
// search of a few dozen documents spends on their zip directories.
struct Libzip {
    decltype(&zip_discard) discard = nullptr;
    decltype(&zip_error_fini) errorFini = nullptr;
    decltype(&zip_error_init) errorInit = nullptr;
    decltype(&zip_error_init_with_code) errorInitWithCode = nullptr;
    decltype(&zip_error_strerror) errorStrerror = nullptr;
    decltype(&zip_fclose) fclose = nullptr;
    decltype(&zip_file_strerror) fileStrerror = nullptr;
    decltype(&zip_fopen_index) fopenIndex = nullptr;
    decltype(&zip_fread) fread = nullptr;
    decltype(&zip_get_name) getName = nullptr;
    decltype(&zip_get_num_entries) getNumEntries = nullptr;
    decltype(&zip_name_locate) nameLocate = nullptr;
    decltype(&zip_open) open = nullptr;
    decltype(&zip_open_from_source) openFromSource = nullptr;
    decltype(&zip_source_buffer_create) sourceBufferCreate = nullptr;
    decltype(&zip_source_free) sourceFree = nullptr;
    decltype(&zip_stat_index) statIndex = nullptr;
    decltype(&zip_stat_init) statInit = nullptr;
    decltype(&zip_strerror) strerror = nullptr;
    std::string failure;  // why it could not be loaded; empty once it is
};

template <class Function>
void bindCall(void* library, const char* name, Function*& call, std::string& failure) {
    call = reinterpret_cast<Function*>(::dlsym(library, name));
    if (call == nullptr && failure.empty())
        failure = std::string(FERRETTA_LIBZIP_SONAME " has no ") + name;
}

// libzip's calls, loaded at the first call (the answer is kept: a library that is missing
// stays so). Its `failure` says when the library or one of its calls is not there; the calls
// are those of a loaded libzip wherever an archive libzip holds exists.
const Libzip& libzipCalls() {
    static const Libzip loaded = [] {
        Libzip calls;
        // Never closed: archives may be open until the program ends.
        void* library = ::dlopen(FERRETTA_LIBZIP_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* error = ::dlerror();
            calls.failure = error != nullptr ? error : FERRETTA_LIBZIP_SONAME " cannot be loaded";
            return calls;
        }
        std::string& failure = calls.failure;
        bindCall(library, "zip_discard", calls.discard, failure);
        bindCall(library, "zip_error_fini", calls.errorFini, failure);
        bindCall(library, "zip_error_init", calls.errorInit, failure);
        bindCall(library, "zip_error_init_with_code", calls.errorInitWithCode, failure);
        bindCall(library, "zip_error_strerror", calls.errorStrerror, failure);
        bindCall(library, "zip_fclose", calls.fclose, failure);
        bindCall(library, "zip_file_strerror", calls.fileStrerror, failure);
        bindCall(library, "zip_fopen_index", calls.fopenIndex, failure);
        bindCall(library, "zip_fread", calls.fread, failure);
        bindCall(library, "zip_get_name", calls.getName, failure);
        bindCall(library, "zip_get_num_entries", calls.getNumEntries, failure);
        bindCall(library, "zip_name_locate", calls.nameLocate, failure);
        bindCall(library, "zip_open", calls.open, failure);
        bindCall(library, "zip_open_from_source", calls.openFromSource, failure);
        bindCall(library, "zip_source_buffer_create", calls.sourceBufferCreate, failure);
        bindCall(library, "zip_source_free", calls.sourceFree, failure);
        bindCall(library, "zip_stat_index", calls.statIndex, failure);
        bindCall(library, "zip_stat_init", calls.statInit, failure);
        bindCall(library, "zip_strerror", calls.strerror, failure);
        return calls;
    }();
    return loaded;
}

// libzip loaded; null, with `why`, when it cannot be.
const Libzip* loadLibzip(std::string& why) {
    const Libzip& calls = libzipCalls();
    if (!calls.failure.empty()) {
        why = "libzip is not available: " + calls.failure;
        return nullptr;
    }
    return &calls;
}

std::string libzipError(int code) {
    const Libzip& lib = libzipCalls();
    zip_error_t error;
    lib.errorInitWithCode(&error, code);
    std::string text = lib.errorStrerror(&error);
    lib.errorFini(&error);
    return text;
}

// libzip turns the time of each entry of an archive's directory into a time_t with mktime, and
// while TZ is unset glibc looks at /etc/localtime again on every call: a stat per entry, a
// tenth of the time spent on a folder of small documents. TZ naming that same file (the
// zone does not change) lets glibc read it once. Set before main, while no thread runs.
const bool timeZoneNamed = [] {
    if (std::getenv("TZ") == nullptr)
        setenv("TZ", ":/etc/localtime", 0);
    return true;
}();

// A stored or raw deflated entry whose inflated bytes (in `inflatedBuffer` when deflated)
// have exactly the stated size and checksum; false for any other, which the stream then
// reads (and says what is wrong with it).
template <typename Buffer>
bool inflateWhole(std::string_view raw, bool deflated, std::size_t size, std::uint32_t crc,
                  Buffer& inflatedBuffer, std::string_view& bytes) {
    const char* data = raw.data();
    if (deflated) {
        if (decompressor() == nullptr)
            return false;
        char* const inflated = inflatedBuffer.reserve(size);
        if (libdeflate_deflate_decompress(decompressor(), raw.data(), raw.size(), inflated, size,
                                          nullptr) != LIBDEFLATE_SUCCESS)
            return false;
        data = inflated;
    } else if (raw.size() != size) {
        return false;
    }
    if (libdeflate_crc32(0, data, size) != crc)
        return false;
    bytes = std::string_view(data, size);
    return true;
}

std::string compoundFileReason() {
    // Office writes an encrypted Open XML document into an OLE compound file; .doc, .xls and
    // .ppt are compound files too.
    return "an OLE compound file (an encrypted or binary Office document), not a zip archive";
}

}  // namespace

ZipArchive::ZipArchive(const ReadLimits& limits) : m_limits(limits) {}

ZipArchive::~ZipArchive() {
    if (m_archive != nullptr)
        libzipCalls().discard(m_archive);
}

std::unique_ptr<ZipArchive> ZipArchive::open(const std::string& path, const ReadLimits& limits,
                                             std::string& why) {
    {
        std::ifstream file(path, std::ios::binary);
        std::array<char, 8> head{};
        if (file.read(head.data(), head.size()) &&
            std::string_view(head.data(), head.size()) == kCompoundFileMagic) {
            why = compoundFileReason();
            return nullptr;
        }
    }
    const Libzip* lib = loadLibzip(why);
    if (lib == nullptr)
        return nullptr;
    int code = 0;
    zip_t* archive = lib->open(path.c_str(), ZIP_RDONLY, &code);
    if (archive == nullptr) {
        why = "not a readable zip archive: " + libzipError(code);
        return nullptr;
    }
    std::unique_ptr<ZipArchive> result(new ZipArchive(limits));
    result->m_archive = archive;
    if (!result->loadNames(why))
        return nullptr;
    return result;
}

std::unique_ptr<ZipArchive> ZipArchive::openMemory(std::span<const char> bytes,
                                                   const ReadLimits& limits, std::string& why) {
    if (bytes.size() >= kCompoundFileMagic.size() &&
        std::string_view(bytes.data(), kCompoundFileMagic.size()) == kCompoundFileMagic) {
        why = compoundFileReason();
        return nullptr;
    }
    std::unique_ptr<ZipArchive> result(new ZipArchive(limits));
    result->m_bytes = bytes;
    // libzip reading a directory allocates for every entry and keeps them all: more than the
    // parts cost to inflate in a small document.
    if (readZipDirectory(bytes, result->m_entries)) {
        if (result->m_entries.size() > limits.maxEntries) {
            why = "the archive has " + std::to_string(result->m_entries.size()) +
                  " entries, more than " + std::to_string(limits.maxEntries);
            return nullptr;
        }
        result->m_names.reserve(result->m_entries.size());
        for (const ZipDirectoryEntry& entry : result->m_entries)
            result->m_names.push_back(entry.name);
        return result;
    }
    result->m_entries.clear();
    if (!result->openLibzip(why) || !result->loadNames(why))
        return nullptr;
    return result;
}

bool ZipArchive::openLibzip(std::string& why) {
    if (m_archive != nullptr)
        return true;
    const Libzip* const loaded = loadLibzip(why);
    if (loaded == nullptr)
        return false;
    const Libzip& lib = *loaded;
    zip_error_t error;
    lib.errorInit(&error);
    // libzip wants a non-null buffer even for an empty one.
    static const char empty = 0;
    zip_source_t* source = lib.sourceBufferCreate(m_bytes.empty() ? &empty : m_bytes.data(),
                                                  m_bytes.size(), 0, &error);
    if (source == nullptr) {
        why = std::string("cannot read the bytes: ") + lib.errorStrerror(&error);
        lib.errorFini(&error);
        return false;
    }
    m_archive = lib.openFromSource(source, ZIP_RDONLY, &error);
    if (m_archive == nullptr) {
        why = std::string("not a readable zip archive: ") + lib.errorStrerror(&error);
        lib.errorFini(&error);
        lib.sourceFree(source);
        return false;
    }
    lib.errorFini(&error);
    return true;
}

bool ZipArchive::loadNames(std::string& why) {
    const zip_int64_t count = libzipCalls().getNumEntries(m_archive, 0);
    if (count < 0 || static_cast<std::uint64_t>(count) > m_limits.maxEntries) {
        why = "the archive has " + std::to_string(count) + " entries, more than " +
              std::to_string(m_limits.maxEntries);
        return false;
    }
    m_names.reserve(static_cast<std::size_t>(count));
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name =
            libzipCalls().getName(m_archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        // Not copied: libzip keeps the directory's names until the archive is closed.
        m_names.emplace_back(name != nullptr ? std::string_view(name) : std::string_view());
    }
    return true;
}

bool ZipArchive::has(std::string_view name) const {
    return std::find(m_names.begin(), m_names.end(), name) != m_names.end();
}

// Inflates an open entry on a helper thread, a few chunks ahead of the thread that consumes
// them, so that inflating a large part and parsing it take the time of the slower of the two.
// The archive's libzip calls are serialized by its mutex (the consumer may read other entries
// meanwhile).
class ZipArchive::ReadAhead {
  public:
    ReadAhead(zip_file_t* file, std::mutex& libzip) : m_file(file), m_libzip(libzip) {
        for (auto& chunk : m_chunks)
            chunk.data = std::make_unique_for_overwrite<char[]>(kAheadChunk);
        m_thread = std::thread([this] { run(); });
    }
    ~ReadAhead() {
        {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next chunk's bytes (empty at the end), valid until the next call; false with `why`
    // when the entry is damaged.
    bool next(std::string_view& bytes, std::string& why) {
        std::unique_lock lock(m_mutex);
        if (m_consumed > 0) {
            ++m_read;  // the previous chunk is free again
            m_changed.notify_all();
        }
        m_changed.wait(lock, [&] { return m_filled > m_read || m_ended; });
        if (m_filled > m_read) {
            const Chunk& chunk = m_chunks[m_read % m_chunks.size()];
            bytes = std::string_view(chunk.data.get(), chunk.size);
            m_consumed = 1;
            return true;
        }
        m_consumed = 0;
        bytes = {};
        why = m_error;
        return m_error.empty();
    }

  private:
    static constexpr std::size_t kAheadChunk = 256 * 1024;
    struct Chunk {
        std::unique_ptr<char[]> data;
        std::size_t size = 0;
    };

    void run() {
        for (;;) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock,
                           [&] { return m_cancelled || m_filled - m_read < m_chunks.size(); });
            if (m_cancelled)
                return;
            Chunk& chunk = m_chunks[m_filled % m_chunks.size()];
            lock.unlock();
            zip_int64_t got = 0;
            std::string error;
            {
                std::lock_guard libzip(m_libzip);
                got = libzipCalls().fread(m_file, chunk.data.get(), kAheadChunk);
                if (got < 0)
                    error = libzipCalls().fileStrerror(m_file);
            }
            lock.lock();
            if (got <= 0) {
                m_error = got < 0 ? (error.empty() ? "unreadable" : error) : "";
                m_ended = true;
                m_changed.notify_all();
                return;
            }
            chunk.size = static_cast<std::size_t>(got);
            ++m_filled;
            m_changed.notify_all();
        }
    }

    zip_file_t* m_file;
    std::mutex& m_libzip;
    std::array<Chunk, 4> m_chunks;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_filled = 0;    // chunks filled so far
    std::size_t m_read = 0;      // chunks handed back
    std::size_t m_consumed = 0;  // 1 while the consumer holds a chunk
    bool m_ended = false;
    bool m_cancelled = false;
    std::string m_error;
    std::thread m_thread;
};

template <typename Read>
bool ZipArchive::consumeWhole(std::unique_lock<std::mutex>& lock,
                              const std::function<bool(std::string_view)>& consume,
                              const Read& read) {
    // An entry read while the consumer of another holds the archive's buffers (a workbook
    // looks through its sheets while it parses one) has buffers of its own.
    WholeBuffers& kept = wholeBuffers();
    const bool nested = kept.busy;
    Buffer ownRaw;
    Buffer ownInflated;
    std::string_view whole;
    if (!read(nested ? ownRaw : kept.raw, nested ? ownInflated : kept.inflated, whole))
        return false;
    m_bytesRead += whole.size();
    kept.busy = true;
    lock.unlock();
    if (!whole.empty())
        consume(whole);  // whether it stopped or not, the entry was read
    kept.busy = nested;
    return true;
}

bool ZipArchive::stream(std::string_view name, const std::function<bool(std::string_view)>& consume,
                        std::string& why) {
    const std::string wanted(name);
    std::unique_lock libzip(m_libzip);
    if (m_archive == nullptr) {
        const std::size_t found = findZipEntry(m_entries, name);
        if (found >= m_entries.size()) {
            why = "no entry " + wanted;
            return false;
        }
        if (consumeWhole(libzip, consume, [&](Buffer&, Buffer& inflated, std::string_view& whole) {
                return readWholeDirectly(m_entries[found], inflated, whole);
            }))
            return true;
        // Anything else (encrypted, another method, large, damaged) is libzip's to read, and
        // to say what is wrong with it.
        if (!openLibzip(why))
            return false;
    }
    zip_int64_t index = libzipCalls().nameLocate(m_archive, wanted.c_str(), ZIP_FL_ENC_RAW);
    if (index < 0) {
        // Part names are case-insensitive in Open XML packages.
        index = libzipCalls().nameLocate(m_archive, wanted.c_str(), ZIP_FL_ENC_RAW | ZIP_FL_NOCASE);
    }
    if (index < 0) {
        why = "no entry " + wanted;
        return false;
    }
    zip_stat_t stat;
    libzipCalls().statInit(&stat);
    if (libzipCalls().statIndex(m_archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0) {
        why = "cannot read the entry " + wanted + ": " + libzipCalls().strerror(m_archive);
        return false;
    }
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && stat.encryption_method != ZIP_EM_NONE) {
        why = "the entry " + wanted + " is encrypted";
        return false;
    }
    const std::uint64_t compressed =
        (stat.valid & ZIP_STAT_COMP_SIZE) != 0 ? std::max<std::uint64_t>(stat.comp_size, 1) : 1;
    if (consumeWhole(libzip, consume, [&](Buffer& raw, Buffer& inflated, std::string_view& whole) {
            return readWhole(static_cast<zip_uint64_t>(index), stat, raw, inflated, whole);
        }))
        return true;
    zip_file_t* file = libzipCalls().fopenIndex(m_archive, static_cast<zip_uint64_t>(index), 0);
    if (file == nullptr) {
        why = "cannot open the entry " + wanted + ": " + libzipCalls().strerror(m_archive);
        return false;
    }
    // A large entry is inflated ahead on a helper thread (the size the directory claims only
    // chooses the way; the bounds count the bytes really inflated).
    std::unique_ptr<ReadAhead> ahead;
    if ((stat.valid & ZIP_STAT_SIZE) != 0 && stat.size >= kReadAheadBytes)
        ahead = std::make_unique<ReadAhead>(file, m_libzip);
    // Not cleared: zip_fread fills what it hands over (a cleared 64 KB cost more than reading
    // a small part).
    const auto buffer = ahead ? nullptr : std::make_unique_for_overwrite<char[]>(kChunk);
    libzip.unlock();
    std::uint64_t inflated = 0;
    bool ok = true;
    for (;;) {
        std::string_view bytes;
        if (ahead) {
            std::string error;
            if (!ahead->next(bytes, error)) {
                why = "the entry " + wanted + " is damaged: " + error;
                ok = false;
                break;
            }
        } else {
            std::lock_guard lock(m_libzip);
            const zip_int64_t got = libzipCalls().fread(file, buffer.get(), kChunk);
            if (got < 0) {
                why = "the entry " + wanted + " is damaged: " + libzipCalls().fileStrerror(file);
                ok = false;
                break;
            }
            bytes = std::string_view(buffer.get(), static_cast<std::size_t>(got));
        }
        if (bytes.empty())
            break;
        inflated += bytes.size();
        m_bytesRead += bytes.size();
        if (inflated > m_limits.maxEntryBytes || m_bytesRead > m_limits.maxDocumentBytes) {
            why = "the entry " + wanted + " inflates past the bound of the document";
            ok = false;
            break;
        }
        if (inflated > m_limits.ratioFloor && inflated / compressed > m_limits.maxRatio) {
            why = "the entry " + wanted + " inflates more than " +
                  std::to_string(m_limits.maxRatio) + " times its size";
            ok = false;
            break;
        }
        if (!consume(bytes))
            break;
    }
    ahead.reset();
    std::lock_guard lock(m_libzip);
    libzipCalls().fclose(file);
    return ok;
}

// The buffers of readWhole, kept for the thread's next entry of any archive (fresh ones for
// each document cost an allocation and new pages every time); busy while a consumer has the
// bytes (an entry read meanwhile, of this archive or another, has buffers of its own). They
// hold at most an entry below kReadAheadBytes and its compressed bytes.
ZipArchive::WholeBuffers& ZipArchive::wholeBuffers() {
    thread_local WholeBuffers buffers;
    return buffers;
}

char* ZipArchive::Buffer::reserve(std::size_t size) {
    if (size > capacity || !bytes) {
        bytes = std::make_unique_for_overwrite<char[]>(std::max<std::size_t>(size, 1));
        capacity = size;
    }
    return bytes.get();
}

bool ZipArchive::readWhole(zip_uint64_t index, const zip_stat_t& stat, Buffer& rawBuffer,
                           Buffer& inflatedBuffer, std::string_view& bytes) {
    constexpr zip_uint64_t kNeeded =
        ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
    if ((stat.valid & kNeeded) != kNeeded ||
        (stat.comp_method != ZIP_CM_DEFLATE && stat.comp_method != ZIP_CM_STORE) ||
        !wholeFits(stat.size, stat.comp_size))
        return false;
    if (stat.comp_method == ZIP_CM_STORE && stat.comp_size != stat.size)
        return false;
    zip_file_t* file = libzipCalls().fopenIndex(m_archive, index, ZIP_FL_COMPRESSED);
    if (file == nullptr)
        return false;
    const auto size = static_cast<std::size_t>(stat.size);
    const auto rawSize = static_cast<std::size_t>(stat.comp_size);
    char* const raw = rawBuffer.reserve(rawSize);
    const zip_int64_t got = libzipCalls().fread(file, raw, rawSize);
    libzipCalls().fclose(file);
    if (got < 0 || static_cast<std::size_t>(got) != rawSize)
        return false;
    return inflateWhole(std::string_view(raw, rawSize), stat.comp_method == ZIP_CM_DEFLATE, size,
                        stat.crc, inflatedBuffer, bytes);
}

bool ZipArchive::wholeFits(std::uint64_t size, std::uint64_t compressedSize) const {
    // Only an entry whose stated size is within every bound; any other is left to the stream,
    // which counts what it really inflates and says which bound it passed.
    const std::uint64_t compressed = std::max<std::uint64_t>(compressedSize, 1);
    return size < kReadAheadBytes && size <= m_limits.maxEntryBytes &&
           m_bytesRead + size <= m_limits.maxDocumentBytes &&
           !(size > m_limits.ratioFloor && size / compressed > m_limits.maxRatio) &&
           compressedSize <= size + size / 8 + 1024;
}

bool ZipArchive::readWholeDirectly(const ZipDirectoryEntry& entry, Buffer& inflatedBuffer,
                                   std::string_view& bytes) {
    constexpr std::uint16_t kEncrypted = 1 | 1 << 6;
    if ((entry.flags & kEncrypted) != 0 ||
        (entry.method != ZIP_CM_DEFLATE && entry.method != ZIP_CM_STORE) ||
        !wholeFits(entry.size, entry.compressedSize) ||
        (entry.method == ZIP_CM_STORE && entry.compressedSize != entry.size))
        return false;
    std::string_view raw;
    if (!zipEntryData(m_bytes, entry, raw))
        return false;
    return inflateWhole(raw, entry.method == ZIP_CM_DEFLATE, entry.size, entry.crc, inflatedBuffer,
                        bytes);
}

bool ZipArchive::read(std::string_view name, std::string& out, std::string& why) {
    out.clear();
    bool tooLarge = false;
    const bool ok = stream(
        name,
        [&](std::string_view chunk) {
            if (out.size() + chunk.size() > m_limits.maxBufferedBytes) {
                tooLarge = true;
                return false;
            }
            out.append(chunk);
            return true;
        },
        why);
    if (tooLarge) {
        why = "the entry " + std::string(name) + " is larger than " +
              std::to_string(m_limits.maxBufferedBytes) + " bytes";
        out.clear();
        return false;
    }
    return ok;
}

}  // namespace ferretta::documents
