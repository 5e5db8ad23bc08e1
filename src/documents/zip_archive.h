#pragma once
// A zip archive as the Open XML and OpenDocument formats use it, read with the bounds of
// ReadLimits. One held in memory with a plain directory is read without libzip (its entries
// inflated by libdeflate); libzip reads any other, and any entry of it that is not plain. An
// archive is used on one thread at a time (stream() may inflate a large entry on a helper thread of
// its own).
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "documents/read_limits.h"
#include "documents/zip_directory.h"

typedef struct zip zip_t;
struct zip_stat;

namespace ferretta::documents {

class ZipArchive {
  public:
    // Opens an archive file or one held in memory (`bytes` must outlive the archive). Null,
    // with `why` saying so, for anything that is not a readable zip within the limits: a
    // damaged or truncated archive, too many entries, an OLE compound file (an encrypted Open
    // XML document or a binary Office file), a missing file.
    static std::unique_ptr<ZipArchive> open(const std::string& path, const ReadLimits& limits,
                                            std::string& why);
    static std::unique_ptr<ZipArchive> openMemory(std::span<const char> bytes,
                                                  const ReadLimits& limits, std::string& why);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // The entries' names in the order of the central directory (valid while the archive is).
    const std::vector<std::string_view>& names() const { return m_names; }
    bool has(std::string_view name) const;

    // Hands the entry's inflated bytes to `consume` in chunks; `consume` answers false to stop
    // (then the answer is true). False, with `why`, when the entry is missing, encrypted,
    // damaged (a bad checksum is seen only at its end, after earlier chunks were handed out) or
    // over a limit, counted on the bytes really inflated, whatever the directory claims.
    bool stream(std::string_view name, const std::function<bool(std::string_view)>& consume,
                std::string& why);

    // The whole entry in `out` (replaced); the same failures as stream, and false for an entry
    // larger than maxBufferedBytes.
    bool read(std::string_view name, std::string& out, std::string& why);

    // Inflated bytes read from this archive so far.
    std::uint64_t bytesRead() const { return m_bytesRead; }

  private:
    explicit ZipArchive(const ReadLimits& limits);
    bool loadNames(std::string& why);
    // libzip on the bytes of an archive opened from memory, if it is not open yet. False,
    // with `why`, when libzip cannot read the archive.
    bool openLibzip(std::string& why);

    class ReadAhead;
    struct Buffer {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity = 0;
        // At least `size` bytes, not cleared; what it held is lost when it grows.
        char* reserve(std::size_t size);
    };
    struct WholeBuffers {
        Buffer raw;
        Buffer inflated;
        bool busy = false;
    };
    static WholeBuffers& wholeBuffers();
    // An entry small enough to be inflated in one go and within the bounds by its stated size,
    // inflated into `bytes` (in one of the buffers). False for any other entry and for one that
    // does not inflate to exactly its stated size and checksum: the stream then reads it as any
    // other (and says what is wrong with it).
    bool readWhole(std::uint64_t index, const zip_stat& stat, Buffer& raw, Buffer& inflated,
                   std::string_view& bytes);
    // Reads an entry whole with `read(raw, inflated, bytes)`, in the thread's kept buffers,
    // and hands it to `consume` with `lock` released. False, still locked, when `read` turns
    // the entry down.
    template <typename Read>
    bool consumeWhole(std::unique_lock<std::mutex>& lock,
                      const std::function<bool(std::string_view)>& consume, const Read& read);
    // The same as readWhole for an entry of the archive's own directory, from its bytes.
    bool readWholeDirectly(const ZipDirectoryEntry& entry, Buffer& inflated,
                           std::string_view& bytes);
    // Whether an entry of the stated sizes may be inflated whole.
    bool wholeFits(std::uint64_t size, std::uint64_t compressedSize) const;

    // Null for an archive read through its own directory until an entry needs libzip.
    zip_t* m_archive = nullptr;
    std::span<const char> m_bytes;             // of an archive opened from memory
    std::vector<ZipDirectoryEntry> m_entries;  // when libzip did not read the directory
    // Serializes the calls into libzip: a large entry is inflated on a helper thread while the
    // consumer may read other entries.
    std::mutex m_libzip;
    ReadLimits m_limits;
    std::vector<std::string_view> m_names;  // libzip's own strings, or into m_bytes
    std::uint64_t m_bytesRead = 0;
};

}  // namespace ferretta::documents
