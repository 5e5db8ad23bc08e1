#pragma once
// The cache of extracted text: for each document a searcher other than the text search has
// read, the units it matched against, kept in an SQLite database in the user's cache folder
// with a trigram index over their folded text.
//
// A document is found again only under the same identity (path, size, modification and change
// times in nanoseconds, inode) and the same extraction key (the searcher and every setting that
// changes what it extracts). The cache never makes a search fail: a database that is damaged is set
// aside and built anew, one that is locked, unwritable or on a full disk is left alone for the
// run; each case writes one line through the log function and the search reads the documents
// itself. Two processes may use one cache at once (SQLite's write-ahead log: readers never
// wait, one writer at a time).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cache/index_text.h"
#include "cache/units.h"

namespace ferretta::cache {

class Database;
class Statement;

inline constexpr std::int64_t kDefaultSizeLimit = std::int64_t{2} << 30;  // 2 GiB
inline constexpr std::string_view kDatabaseName = "cache.db";
inline constexpr std::size_t kMaxDocumentText = std::size_t{16} << 20;

struct Identity {
    std::string path;
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    // The change time: a file rewritten in place with its modification time put back
    // (touch -d, rsync --inplace -t, an editor that keeps times) still gets a new one, since
    // nobody but the kernel sets it.
    std::int64_t ctimeNs = 0;
    std::uint64_t inode = 0;
    bool operator==(const Identity&) const = default;
};

// The identity of the file as it is now; nullopt when it cannot be read (vanished).
std::optional<Identity> identityOf(const std::string& path);

// "size:mtime:ctime" of a file, or "-" when it cannot be read: a part of an extraction key that
// changes whenever the file does (the program itself, a data file it reads text through).
std::string fileStamp(const std::string& path);

// The stamp of the running program (/proc/self/exe): a rebuilt or updated program may read
// documents differently, so what older programs kept is not found again.
const std::string& programStamp();

// $XDG_CACHE_HOME/ferretta, else ~/.cache/ferretta; empty when there is no home folder.
std::filesystem::path defaultCacheFolder();

using LogFunction = std::function<void(std::string_view message)>;

struct CacheOptions {
    std::filesystem::path folder = defaultCacheFolder();
    std::int64_t sizeLimit = kDefaultSizeLimit;  // bytes on disk; the least recently used go
    LogFunction log;                             // one line per fault; may be empty
};

// The documents that can hold the words of one search, taken once at its start. Documents
// stored after that moment are all let through.
class Candidates {
  public:
    Candidates() = default;  // lets everything through
    bool mayMatch(std::int64_t id) const;

  private:
    friend class DocumentCache;
    bool m_everything = true;
    std::int64_t m_lastId = 0;
    std::vector<std::int64_t> m_ids;  // sorted
};

struct Lookup {
    enum class State {
        Miss,         // not stored under this identity and key: read the document
        CannotMatch,  // stored, and the index says the words are not in it
        Found,        // stored: `extract` holds the units
    };
    State state = State::Miss;
    Extract extract;
    std::int32_t outcome = 0;  // Found and CannotMatch: how the extraction ended
};

class DocumentCache {
  public:
    // Opens the cache, creating its folder (mode 0700) and database (0600) when missing. A
    // database that is damaged or was written by a different format is replaced by an empty
    // one; when the cache cannot be used at all, usable() is false and every call does nothing.
    explicit DocumentCache(CacheOptions options);
    // Writes what is still waiting to be stored; sets a database found damaged aside.
    ~DocumentCache();
    DocumentCache(const DocumentCache&) = delete;
    DocumentCache& operator=(const DocumentCache&) = delete;

    bool usable() const { return m_usable.load(); }

    // The documents in which the words can be; a query the index cannot narrow (nullopt, a
    // regular expression, short words) lets everything through.
    Candidates candidates(const std::optional<IndexQuery>& query);

    // What the cache holds for the document. Marks it as used (for the size limit).
    Lookup lookup(const Identity& identity, std::string_view key, const Candidates& candidates);

    // Whether anything is kept for the path and key, whatever the identity it was kept under.
    bool holds(std::string_view path, std::string_view key);
    // Whether anything is kept for a path that starts with `folder` (ending with a separator);
    // true when the cache cannot tell.
    bool holdsUnder(std::string_view folder);

    // Keeps the units for the document, replacing what was kept for its path and key. The
    // writing happens on the cache's own writer thread; flush() waits for it. Units of more
    // than kMaxDocumentText bytes of text are not kept: such a document (a PDF built to
    // expand) is read again next time, which costs less than holding and writing it.
    void store(const Identity& identity, std::string_view key, Extract extract);

    // Drops every document (the Options dialog's button, --rebuild-cache).
    void clear();

    // Waits until everything handed to store() and clear() is written (or given up).
    void flush();
    // The same, waiting at most `wait`: true when everything is written.
    bool flushFor(std::chrono::milliseconds wait);

    struct Stats {
        std::int64_t documents = 0;
        std::int64_t textBytes = 0;  // extracted text held
        std::int64_t fileBytes = 0;  // the database on disk, write-ahead log included
    };
    Stats stats();

  private:
    struct Pending;
    void open();
    void openDatabase();
    // Lets go of the reading connection and the statements prepared on it.
    void closeReader();
    void disable(std::string_view why);
    void failed(std::string_view doing, const std::exception& failure);
    void queueTouched();
    void writerLoop();
    void write(Database& db, Pending& batch);
    void enforceLimit(Database& db);
    void log(std::string_view message) const;

    CacheOptions m_options;
    std::filesystem::path m_file;
    std::uint64_t m_fileInode = 0;
    std::atomic<bool> m_usable{false};
    std::atomic<bool> m_broken{false};
    std::atomic<bool> m_disabled{false};

    std::mutex m_readerMutex;
    std::unique_ptr<Database> m_reader;
    // The lookup's statements, prepared once on m_reader (a search looks up every document);
    // prepareFinds() makes them, under m_readerMutex.
    void prepareFinds();
    std::unique_ptr<Statement> m_findDocument;
    std::unique_ptr<Statement> m_findUnits;
    std::vector<std::int64_t> m_touched;

    std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    std::unique_ptr<Pending> m_pending;
    std::size_t m_pendingBytes = 0;
    std::uint64_t m_queued = 0;   // batches handed over
    std::uint64_t m_written = 0;  // batches the writer has finished with
    bool m_stopping = false;
    bool m_flushWanted = false;
    std::thread m_writer;
    std::int64_t m_grownSinceCheck = 0;
};

}  // namespace ferretta::cache
