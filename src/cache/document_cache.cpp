#include "cache/document_cache.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "cache/sqlite_db.h"

namespace ferretta::cache {
namespace {

// Bumped whenever the tables or the record format change: an older database is replaced.
constexpr std::int64_t kSchemaVersion = 3;
constexpr int kReaderBusyMs = 1000;
constexpr int kWriterBusyMs = 5000;
// store() waits while more than this is waiting to be written.
constexpr std::size_t kMaxPendingBytes = 24u << 20;
// The writer gathers documents for this long, or this much text, before it writes them.
constexpr std::chrono::milliseconds kGatherTime{300};
constexpr std::size_t kBatchBytes = 8u << 20;
constexpr int kWriterNiceness = 5;
// Emptying to this part of the limit keeps the next few searches from emptying again.
constexpr std::int64_t kEvictToPercent = 80;

constexpr std::string_view kSchema = R"sql(
CREATE TABLE documents(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    path BLOB NOT NULL,
    key TEXT NOT NULL,
    size INTEGER NOT NULL,
    mtime_ns INTEGER NOT NULL,
    ctime_ns INTEGER NOT NULL,
    inode INTEGER NOT NULL,
    units BLOB NOT NULL,
    outcome INTEGER NOT NULL,
    text_bytes INTEGER NOT NULL,
    stored_bytes INTEGER NOT NULL,
    last_used INTEGER NOT NULL);
CREATE UNIQUE INDEX documents_by_path ON documents(path, key);
CREATE INDEX documents_by_use ON documents(last_used, id);
CREATE VIRTUAL TABLE folded USING fts5(text, round_trip, content='', detail=none,
                                       tokenize='trigram case_sensitive 1');
CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL);
)sql";

// The database holds what another format or other conversions wrote: start again.
struct StaleFormat : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const std::string& fingerprintText() {
    static const std::string text = std::to_string(conversionFingerprint());
    return text;
}

// Creates the folder (only the last level gets mode 0700; the levels above are the user's).
bool prepareFolder(const std::filesystem::path& folder, std::string& why) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        why = "cannot create " + folder.string() + ": " + error.message();
        return false;
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 ||
        ((status.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0)) {
        why = "cannot restrict " + folder.string() + " to its owner";
        return false;
    }
    return true;
}

// The database file exists with mode 0600 before SQLite opens it; SQLite gives its log files
// the same mode.
bool prepareFile(const std::filesystem::path& file, std::string& why) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        why = "cannot open " + file.string();
        return false;
    }
    struct stat status {};
    const bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                    ((status.st_mode & 0777) == 0600 || ::fchmod(fd, 0600) == 0);
    ::close(fd);
    if (!ok)
        why = file.string() + " is not a private regular file";
    return ok;
}

std::uint64_t inodeOf(const std::filesystem::path& file) {
    struct stat status {};
    return ::stat(file.c_str(), &status) == 0 ? status.st_ino : 0;
}

std::filesystem::path withSuffix(const std::filesystem::path& file, std::string_view suffix) {
    return std::filesystem::path(file.string() + std::string(suffix));
}

void removeLogs(const std::filesystem::path& file) {
    std::error_code ignored;
    std::filesystem::remove(withSuffix(file, "-wal"), ignored);
    std::filesystem::remove(withSuffix(file, "-shm"), ignored);
}

std::int64_t fileSize(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return error ? 0 : static_cast<std::int64_t>(size);
}

void createSchema(Database& db) {
    inTransaction(db, [&] {
        if (db.integer("PRAGMA user_version") != 0)
            return;  // another process made it meanwhile
        // Under the write lock: read before it, the tables of a process that was just making
        // them would pass for tables of an unknown format, and its database would be removed.
        if (db.integer("SELECT count(*) FROM sqlite_master") != 0)
            throw StaleFormat("tables of an unknown format");
        db.exec(kSchema);
        // The index gathers new entries in memory up to this size before writing them as a
        // piece of its own; the default (1 MB) makes many small pieces that are merged again
        // and again.
        db.exec("INSERT INTO folded(folded, rank) VALUES('hashsize', 16777216)");
        Statement(db.handle(), "INSERT INTO meta(name, value) VALUES('conversions', ?1)")
            .bind(1, fingerprintText())
            .run();
        db.exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
    });
}

void checkSchema(Database& db) {
    if (db.integer("PRAGMA user_version") == 0) {
        // Incremental vacuum lets the file shrink after documents go; it must be chosen before
        // the first table exists.
        db.exec("PRAGMA auto_vacuum = INCREMENTAL");
        createSchema(db);
    }
    if (db.integer("PRAGMA user_version") != kSchemaVersion)
        throw StaleFormat("format " + std::to_string(db.integer("PRAGMA user_version")));
    // Working the conversions' fingerprint out took a good part of a short search's start; a
    // program (whose conversions are all its own code) that once found it the same notes so
    // beside it, with the fingerprint it found.
    const std::string checkedBy = "conversions checked by " + programStamp();
    Statement checked(db.handle(),
                      "SELECT 1 FROM meta AS note JOIN meta AS conversions ON conversions.name = "
                      "'conversions' WHERE note.name = ?1 AND note.value = conversions.value");
    const bool known = checked.bind(1, checkedBy).step();
    checked.reset();
    if (known)
        return;
    Statement fingerprint(db.handle(), "SELECT value FROM meta WHERE name = 'conversions'");
    const bool same = fingerprint.step() && fingerprint.text(0) == fingerprintText();
    fingerprint.reset();
    if (!same)
        throw StaleFormat("text conversions changed");
    try {
        Statement(db.handle(), "INSERT OR REPLACE INTO meta(name, value) VALUES(?1, ?2)")
            .bind(1, checkedBy)
            .bind(2, fingerprintText())
            .run();
    } catch (const SqliteError&) {
        // Busy with another process's writing: the next start works it out again.
    }
}

// Takes a document out of the index and the table. The index entries are found by the text
// they were made from; a record that no longer decodes leaves them behind, which is harmless
// because row numbers are never used again.
void deleteDocument(Database& db, std::int64_t id, std::string_view record) {
    if (auto extract = decodeExtract(record)) {
        const IndexForms forms = indexForms(*extract);
        Statement(
            db.handle(),
            "INSERT INTO folded(folded, rowid, text, round_trip) VALUES('delete', ?1, ?2, ?3)")
            .bind(1, id)
            .bind(2, forms.folded)
            .bind(3, forms.roundTrip)
            .run();
    }
    Statement(db.handle(), "DELETE FROM documents WHERE id = ?1").bind(1, id).run();
}

}  // namespace

struct DocumentCache::Pending {
    struct Item {
        Identity identity;
        std::string key;
        Extract extract;
    };
    std::vector<Item> items;
    std::vector<std::int64_t> touched;
    bool clear = false;
};

bool Candidates::mayMatch(std::int64_t id) const {
    return m_everything || id > m_lastId || std::binary_search(m_ids.begin(), m_ids.end(), id);
}

std::optional<Identity> identityOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    auto nanoseconds = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
    };
    return Identity{path, static_cast<std::int64_t>(status.st_size), nanoseconds(status.st_mtim),
                    nanoseconds(status.st_ctim), static_cast<std::uint64_t>(status.st_ino)};
}

std::string fileStamp(const std::string& path) {
    const auto identity = identityOf(path);
    if (!identity)
        return "-";
    return std::to_string(identity->size) + ":" + std::to_string(identity->mtimeNs) + ":" +
           std::to_string(identity->ctimeNs);
}

const std::string& programStamp() {
    static const std::string stamp = fileStamp("/proc/self/exe");
    return stamp;
}

std::filesystem::path defaultCacheFolder() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/')
        return std::filesystem::path(xdg) / "ferretta";
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* user = ::getpwuid(::getuid());
        home = user ? user->pw_dir : nullptr;
    }
    if (!home || !*home)
        return {};
    return std::filesystem::path(home) / ".cache" / "ferretta";
}

DocumentCache::DocumentCache(CacheOptions options)
    : m_options(std::move(options)), m_pending(std::make_unique<Pending>()) {
    open();
}

DocumentCache::~DocumentCache() {
    queueTouched();
    {
        std::lock_guard queue(m_queueMutex);
        m_stopping = true;
    }
    m_queueChanged.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    closeReader();
    // Set aside only the file found damaged: another process may have replaced it already.
    if (m_broken && !m_file.empty() && inodeOf(m_file) == m_fileInode) {
        std::error_code error;
        std::filesystem::rename(m_file, withSuffix(m_file, ".broken"), error);
        removeLogs(m_file);
        log(error ? "damaged database could not be set aside: " + error.message()
                  : "damaged database set aside as " + withSuffix(m_file, ".broken").string());
    }
}

void DocumentCache::log(std::string_view message) const {
    if (m_options.log)
        m_options.log(message);
}

void DocumentCache::disable(std::string_view why) {
    m_usable = false;
    if (!m_disabled.exchange(true))
        log(std::string("not used for this search: ") + std::string(why));
}

void DocumentCache::failed(std::string_view doing, const std::exception& failure) {
    const auto* sqlite = dynamic_cast<const SqliteError*>(&failure);
    if (sqlite && sqlite->broken()) {
        m_broken = true;
        disable(std::string(doing) + ": database damaged (" + failure.what() + ")");
        return;
    }
    disable(std::string(doing) + ": " + failure.what());
}

void DocumentCache::open() {
    if (m_options.folder.empty())
        return disable("no cache folder (no home folder)");
    std::string why;
    if (!prepareFolder(m_options.folder, why))
        return disable(why);
    m_file = m_options.folder / kDatabaseName;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (!prepareFile(m_file, why))
                return disable(why);
            openDatabase();
            m_usable = true;
            m_writer = std::thread([this] { writerLoop(); });
            return;
        } catch (const StaleFormat& stale) {
            closeReader();
            log(std::string("database replaced: ") + stale.what());
            std::error_code ignored;
            std::filesystem::remove(m_file, ignored);
            removeLogs(m_file);
        } catch (const SqliteError& failure) {
            closeReader();
            if (!failure.broken())
                return disable(failure.what());
            log(std::string("damaged database set aside: ") + failure.what());
            std::error_code ignored;
            std::filesystem::rename(m_file, withSuffix(m_file, ".broken"), ignored);
            removeLogs(m_file);
        }
    }
    disable("the database could not be made anew");
}

void DocumentCache::closeReader() {
    m_findDocument.reset();
    m_findUnits.reset();
    m_reader.reset();
}

void DocumentCache::openDatabase() {
    // Opening waits as long as a writer does: another process may be making the database.
    m_reader = std::make_unique<Database>(m_file, kWriterBusyMs);
    m_fileInode = inodeOf(m_file);
    // Reading the header first tells a file that is not a database before anything else.
    m_reader->integer("PRAGMA schema_version");
    // Another process making the database holds a lock that the busy handler does not wait
    // for when the journal mode is set: wait for it here.
    bool wal = false;
    for (int waited = 0;; waited += 20) {
        try {
            Statement journal(m_reader->handle(), "PRAGMA journal_mode = WAL");
            wal = journal.step() && journal.text(0) == "wal";
            break;
        } catch (const SqliteError& failure) {
            if (!failure.busy() || waited >= kWriterBusyMs)
                throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (!wal)
        throw SqliteError(SQLITE_CANTOPEN, "the write-ahead log cannot be used");
    m_reader->exec("PRAGMA synchronous = NORMAL");
    checkSchema(*m_reader);
    sqlite3_busy_timeout(m_reader->handle(), kReaderBusyMs);
}

Candidates DocumentCache::candidates(const std::optional<IndexQuery>& query) {
    Candidates result;
    if (!query || !m_usable)
        return result;
    const auto expression = matchExpression(*query);
    if (!expression)
        return result;
    std::lock_guard lock(m_readerMutex);
    try {
        // One snapshot: every row up to the last id is in the index.
        m_reader->exec("BEGIN");
        try {
            result.m_lastId = m_reader->integer("SELECT coalesce(max(id), 0) FROM documents");
            Statement match(m_reader->handle(), "SELECT rowid FROM folded WHERE folded MATCH ?1");
            match.bind(1, *expression);
            while (match.step())
                result.m_ids.push_back(match.integer(0));
            m_reader->exec("COMMIT");
        } catch (...) {
            sqlite3_exec(m_reader->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        std::sort(result.m_ids.begin(), result.m_ids.end());
        result.m_everything = false;
    } catch (const std::exception& failure) {
        result = Candidates();
        const auto* sqlite = dynamic_cast<const SqliteError*>(&failure);
        if (sqlite && sqlite->primary() == SQLITE_ERROR)
            log(std::string("index query not used: ") + failure.what());  // search unnarrowed
        else
            failed("index query", failure);
    }
    return result;
}

void DocumentCache::prepareFinds() {
    if (m_findDocument)
        return;
    m_findDocument = std::make_unique<Statement>(
        m_reader->handle(),
        "SELECT id, size, mtime_ns, ctime_ns, inode, outcome FROM documents WHERE "
        "path = ?1 AND key = ?2");
    m_findUnits = std::make_unique<Statement>(m_reader->handle(),
                                              "SELECT units FROM documents WHERE id = ?1");
}

Lookup DocumentCache::lookup(const Identity& identity, std::string_view key,
                             const Candidates& candidates) {
    Lookup result;
    if (!m_usable)
        return result;
    std::lock_guard lock(m_readerMutex);
    try {
        prepareFinds();
        Statement& find = *m_findDocument;
        find.bindBlob(1, identity.path).bind(2, key);
        if (!find.step())
            return result;
        const std::int64_t id = find.integer(0);
        result.outcome = static_cast<std::int32_t>(find.integer(5));
        const bool same = find.integer(1) == identity.size && find.integer(2) == identity.mtimeNs &&
                          find.integer(3) == identity.ctimeNs &&
                          static_cast<std::uint64_t>(find.integer(4)) == identity.inode;
        find.reset();
        if (!same)
            return Lookup();
        m_touched.push_back(id);
        if (!candidates.mayMatch(id)) {
            result.state = Lookup::State::CannotMatch;
            return result;
        }
        Statement& units = *m_findUnits;
        units.bind(1, id);
        std::optional<Extract> extract;
        if (units.step()) {
            extract = decodeExtract(units.text(0));
            units.reset();
        }
        if (!extract) {
            // Only damage makes a record we wrote unreadable: nothing in the file is trusted.
            m_broken = true;
            disable("a stored record does not decode: database damaged");
            return result;
        }
        result.state = Lookup::State::Found;
        result.extract = std::move(*extract);
    } catch (const std::exception& failure) {
        if (m_findDocument) {
            m_findDocument->reset();
            m_findUnits->reset();
        }
        failed("lookup", failure);
        result = Lookup();
    }
    return result;
}

bool DocumentCache::holds(std::string_view path, std::string_view key) {
    if (!m_usable)
        return false;
    std::lock_guard lock(m_readerMutex);
    try {
        prepareFinds();
        Statement& find = *m_findDocument;
        find.bindBlob(1, path).bind(2, key);
        const bool found = find.step();
        find.reset();
        return found;
    } catch (const std::exception& failure) {
        if (m_findDocument)
            m_findDocument->reset();
        failed("lookup", failure);
        return false;
    }
}

bool DocumentCache::holdsUnder(std::string_view folder) {
    if (!m_usable)
        return false;
    if (folder.empty())
        return true;
    // The paths that start with the folder sort between it and it with its last byte raised.
    std::string after(folder);
    after.back() = static_cast<char>(after.back() + 1);
    std::lock_guard lock(m_readerMutex);
    try {
        Statement find(m_reader->handle(),
                       "SELECT 1 FROM documents WHERE path >= ?1 AND path < ?2 LIMIT 1");
        find.bindBlob(1, folder).bindBlob(2, after);
        return find.step();
    } catch (const std::exception& failure) {
        failed("lookup", failure);
        return true;
    }
}

void DocumentCache::store(const Identity& identity, std::string_view key, Extract extract) {
    if (!m_usable)
        return;
    const std::size_t bytes = textBytes(extract);
    if (bytes > kMaxDocumentText) {
        log("not kept, " + std::to_string(bytes >> 20) + " MB of text: " + identity.path);
        return;
    }
    std::unique_lock lock(m_queueMutex);
    m_queueChanged.wait(
        lock, [&] { return m_pendingBytes < kMaxPendingBytes || m_stopping || !m_usable; });
    m_pendingBytes += bytes + identity.path.size();
    m_pending->items.push_back({identity, std::string(key), std::move(extract)});
    ++m_queued;
    lock.unlock();
    m_queueChanged.notify_all();
}

void DocumentCache::clear() {
    if (!m_usable)
        return;
    {
        std::lock_guard lock(m_queueMutex);
        m_pending->items.clear();
        m_pendingBytes = 0;
        m_pending->clear = true;
        ++m_queued;
    }
    m_queueChanged.notify_all();
    flush();
}

void DocumentCache::queueTouched() {
    {
        std::lock_guard lock(m_readerMutex);
        if (m_touched.empty())
            return;
        std::lock_guard queue(m_queueMutex);
        m_pending->touched.insert(m_pending->touched.end(), m_touched.begin(), m_touched.end());
        m_touched.clear();
        ++m_queued;
    }
    m_queueChanged.notify_all();
}

void DocumentCache::flush() {
    while (!flushFor(std::chrono::hours(1))) {
    }
}

bool DocumentCache::flushFor(std::chrono::milliseconds wait) {
    queueTouched();
    std::unique_lock lock(m_queueMutex);
    const std::uint64_t wanted = m_queued;
    m_flushWanted = true;
    m_queueChanged.notify_all();
    return m_queueChanged.wait_for(lock, wait,
                                   [&] { return m_written >= wanted || !m_writer.joinable(); });
}

DocumentCache::Stats DocumentCache::stats() {
    Stats stats;
    if (!m_usable)
        return stats;
    flush();
    std::lock_guard lock(m_readerMutex);
    try {
        Statement totals(m_reader->handle(), "SELECT count(*), total(text_bytes) FROM documents");
        if (totals.step()) {
            stats.documents = totals.integer(0);
            stats.textBytes = totals.integer(1);
            totals.reset();
        }
        stats.fileBytes = fileSize(m_file) + fileSize(withSuffix(m_file, "-wal"));
    } catch (const std::exception& failure) {
        failed("statistics", failure);
    }
    return stats;
}

void DocumentCache::writerLoop() {
    // Storing may lag behind; the search itself must not. On Linux a thread has its own
    // niceness.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWriterNiceness);
    std::unique_ptr<Database> db;
    bool storing = true;
    for (;;) {
        std::unique_lock lock(m_queueMutex);
        m_queueChanged.wait(lock, [&] { return m_stopping || m_written < m_queued; });
        if (m_written >= m_queued)
            return;  // stopping with nothing left
        // Documents come one by one; written together they make one transaction and one
        // piece of index instead of many small ones.
        m_queueChanged.wait_for(lock, kGatherTime, [&] {
            return m_stopping || m_flushWanted || m_pendingBytes >= kBatchBytes;
        });
        m_flushWanted = false;
        auto batch = std::exchange(m_pending, std::make_unique<Pending>());
        m_pendingBytes = 0;
        const std::uint64_t stamp = m_queued;
        lock.unlock();
        m_queueChanged.notify_all();

        if (storing && m_usable) {
            try {
                if (!db) {
                    db = std::make_unique<Database>(m_file, kWriterBusyMs);
                    db->exec("PRAGMA synchronous = NORMAL");
                    db->exec("PRAGMA cache_size = -16384");  // 16 MB for the index's merges
                }
                write(*db, *batch);
            } catch (const SqliteError& failure) {
                if (failure.broken()) {
                    failed("store", failure);
                } else if (failure.busy()) {
                    log(std::string("documents not stored, the database stayed locked: ") +
                        failure.what());
                } else {
                    // A full disk, a folder made read-only: reading what is there still works.
                    storing = false;
                    log(std::string("storing stopped for this search: ") + failure.what());
                }
            }
        }
        lock.lock();
        m_written = stamp;
        lock.unlock();
        m_queueChanged.notify_all();
    }
}

void DocumentCache::write(Database& db, Pending& batch) {
    // The heavy part (folding, compressing) happens before the write lock is taken.
    struct Prepared {
        const Pending::Item* item;
        std::string record;
        IndexForms forms;
        std::int64_t storedBytes;
    };
    std::vector<Prepared> prepared;
    prepared.reserve(batch.items.size());
    for (const auto& item : batch.items) {
        std::string record = encodeExtract(item.extract);
        if (record.empty())
            continue;
        IndexForms forms = indexForms(item.extract);
        // What the document costs on disk, roughly: its record and its share of the index,
        // which is about as large as the folded text it was made from.
        const auto storedBytes =
            static_cast<std::int64_t>(record.size() + forms.folded.size() + forms.roundTrip.size() +
                                      item.identity.path.size() + item.key.size());
        prepared.push_back({&item, std::move(record), std::move(forms), storedBytes});
    }
    inTransaction(db, [&] {
        // The use clock counts written batches: later use, higher number, in every process.
        const std::int64_t now =
            db.integer("SELECT coalesce(max(last_used), 0) + 1 FROM documents");
        if (batch.clear) {
            db.exec("DELETE FROM documents");
            db.exec("INSERT INTO folded(folded) VALUES('delete-all')");
        }
        Statement existing(db.handle(),
                           "SELECT id, units FROM documents WHERE path = ?1 AND key = ?2");
        Statement insert(db.handle(),
                         "INSERT INTO documents(path, key, size, mtime_ns, ctime_ns, inode, "
                         "units, outcome, text_bytes, stored_bytes, last_used) VALUES(?1, ?2, "
                         "?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
        Statement index(db.handle(),
                        "INSERT INTO folded(rowid, text, round_trip) VALUES(?1, ?2, ?3)");
        for (const Prepared& document : prepared) {
            const Pending::Item& item = *document.item;
            existing.bindBlob(1, item.identity.path).bind(2, item.key);
            if (existing.step()) {
                const std::int64_t old = existing.integer(0);
                const std::string record(existing.text(1));
                existing.reset();
                deleteDocument(db, old, record);
            }
            insert.bindBlob(1, item.identity.path)
                .bind(2, item.key)
                .bind(3, item.identity.size)
                .bind(4, item.identity.mtimeNs)
                .bind(5, item.identity.ctimeNs)
                .bind(6, static_cast<std::int64_t>(item.identity.inode))
                .bindBlob(7, document.record)
                .bind(8, static_cast<std::int64_t>(item.extract.outcome))
                .bind(9, static_cast<std::int64_t>(textBytes(item.extract)))
                .bind(10, document.storedBytes)
                .bind(11, now)
                .run();
            index.bind(1, sqlite3_last_insert_rowid(db.handle()))
                .bind(2, document.forms.folded)
                .bind(3, document.forms.roundTrip)
                .run();
            m_grownSinceCheck += document.storedBytes;
        }
        Statement touch(db.handle(), "UPDATE documents SET last_used = ?1 WHERE id = ?2");
        for (const std::int64_t id : batch.touched)
            touch.bind(1, now).bind(2, id).run();
    });
    if (batch.clear || m_grownSinceCheck > m_options.sizeLimit / 32) {
        m_grownSinceCheck = 0;
        enforceLimit(db);
    }
}

void DocumentCache::enforceLimit(Database& db) {
    inTransaction(db, [&] {
        std::int64_t total = db.integer("SELECT coalesce(sum(stored_bytes), 0) FROM documents");
        if (total > m_options.sizeLimit) {
            const std::int64_t target = m_options.sizeLimit / 100 * kEvictToPercent;
            Statement oldest(
                db.handle(),
                "SELECT id, units, stored_bytes FROM documents ORDER BY last_used, id");
            std::vector<std::pair<std::int64_t, std::string>> victims;
            while (total > target && oldest.step()) {
                victims.emplace_back(oldest.integer(0), std::string(oldest.text(1)));
                total -= oldest.integer(2);
            }
            oldest.reset();
            for (const auto& [id, record] : victims)
                deleteDocument(db, id, record);
            log("size limit: " + std::to_string(victims.size()) +
                " least recently used documents dropped");
            // Fold the deletions into the index a step at a time rather than rewriting it whole.
            db.exec("INSERT INTO folded(folded, rank) VALUES('merge', 2000)");
        }
        db.exec("PRAGMA incremental_vacuum");
    });
}

}  // namespace ferretta::cache
