#include "cache/document_cache.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>
#include <random>

#include "cache/search_cache.h"
#include "support/temp_tree.h"

namespace ferretta::cache {
namespace {

namespace fs = std::filesystem;

Extract textExtract(const std::string& text, int units = 1) {
    Extract extract;
    for (int i = 1; i <= units; ++i)
        extract.units.push_back({i, 0, 0, text + " " + std::to_string(i), ""});
    return extract;
}

class DocumentCacheTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const auto& line : m_log)
            std::cerr << "log: " << line << '\n';
        if (m_mounted)
            ::umount2(m_folder.c_str(), MNT_DETACH);
        ::chmod(m_folder.c_str(), 0700);
    }

    CacheOptions options(std::int64_t limit = kDefaultSizeLimit) {
        return {m_folder, limit, [this](std::string_view line) { m_log.emplace_back(line); }};
    }
    std::unique_ptr<DocumentCache> open(std::int64_t limit = kDefaultSizeLimit) {
        return std::make_unique<DocumentCache>(options(limit));
    }
    Identity document(const std::string& name, const std::string& content = "x") {
        return *identityOf(m_tree.write("docs/" + name, content));
    }
    // The cache folder as a file system of its own (root only; false elsewhere).
    bool mountTmpfs(const std::string& options) {
        fs::create_directories(m_folder);
        m_mounted = ::mount("tmpfs", m_folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
        return m_mounted;
    }
    bool logged(std::string_view part) const {
        for (const auto& line : m_log)
            if (line.find(part) != std::string::npos)
                return true;
        return false;
    }

    const test::TempTree m_tree;
    const fs::path m_root = m_tree.root(), m_folder = m_root / "cache";
    bool m_mounted = false;
    std::vector<std::string> m_log;
};

TEST_F(DocumentCacheTest, FindsADocumentOnlyUnderItsIdentityAndKey) {
    const Identity a = document("a.pdf", "one");
    {
        auto cache = open();
        ASSERT_TRUE(cache->usable());
        cache->store(a, "pdf", textExtract("日本語の本文", 3));
    }
    auto cache = open();
    const Candidates all;
    const Lookup found = cache->lookup(a, "pdf", all);
    ASSERT_EQ(found.state, Lookup::State::Found);
    EXPECT_EQ(found.extract, textExtract("日本語の本文", 3));

    Identity touched = a, rewritten = a, grown = a, replaced = a;
    touched.mtimeNs += 1;
    rewritten.ctimeNs += 1;  // its modification time put back
    grown.size += 1;
    replaced.inode += 1;
    for (const Identity& changed : {touched, rewritten, grown, replaced})
        EXPECT_EQ(cache->lookup(changed, "pdf", all).state, Lookup::State::Miss);
    EXPECT_EQ(cache->lookup(a, "pdf-filter", all).state, Lookup::State::Miss);

    // Storing again replaces, index entries included.
    cache->store(touched, "pdf", textExtract("別の本文"));
    cache->flush();
    EXPECT_EQ(cache->lookup(touched, "pdf", all).extract, textExtract("別の本文"));
    EXPECT_EQ(cache->stats().documents, 1);
    const Candidates old = cache->candidates(IndexQuery{{"日本語"}, false});
    EXPECT_EQ(cache->lookup(touched, "pdf", old).state, Lookup::State::CannotMatch);
    // A document of more text than one may hold is not kept at all.
    const Identity huge = document("huge.pdf");
    cache->store(huge, "pdf", textExtract(std::string(kMaxDocumentText, 'x')));
    cache->flush();
    EXPECT_EQ(cache->lookup(huge, "pdf", {}).state, Lookup::State::Miss);
}

// A search that refreshes answers nothing from the cache and replaces only what it holds,
// whatever folder it walks (one the cache holds nothing under is not looked up file by file).
TEST_F(DocumentCacheTest, ARefreshingSearchReplacesWhatIsKept) {
    const std::string docs = (m_root / "docs").string() + "/";
    for (const std::string& folder : {std::string(), docs, m_root.string() + "/"}) {
        const Identity kept = document("kept.pdf", "one");
        const Identity other = document("other.pdf", "two");
        auto cache = open();
        cache->clear();
        cache->store(kept, "pdf", textExtract("stale"));
        cache->flush();
        const IndexQuery words{{"stale"}, false};
        {
            SearchCache refresh(*cache, words, words, SearchCache::Mode::Refresh, folder);
            for (const Identity& identity : {kept, other}) {
                const SearchCache::Entry entry = refresh.lookup(identity.path, "pdf");
                EXPECT_EQ(entry.state, Lookup::State::Miss) << identity.path;
                refresh.store(entry, "pdf", textExtract("fresh"));
            }
        }
        cache->flush();
        EXPECT_EQ(cache->lookup(kept, "pdf", Candidates()).extract, textExtract("fresh")) << folder;
        EXPECT_EQ(cache->lookup(other, "pdf", Candidates()).state, Lookup::State::Miss);
        EXPECT_EQ(cache->stats().documents, 1);
        EXPECT_TRUE(cache->holdsUnder(docs));
        EXPECT_FALSE(cache->holdsUnder(docs + "kept.pdf/"));
        EXPECT_FALSE(cache->holdsUnder((m_root / "doc").string() + "/"));
    }
}

TEST_F(DocumentCacheTest, TheIndexLetsThroughOnlyDocumentsThatCanHoldTheWords) {
    auto cache = open();
    const Identity tokyo = document("tokyo.docx"), osaka = document("osaka.docx");
    cache->store(tokyo, "word", textExtract("東京都の会議"));
    cache->store(osaka, "word", textExtract("大阪府の会議"));
    cache->flush();
    const Identity later = document("later.docx");

    const struct {
        IndexQuery query;
        Lookup::State tokyo, osaka;
    } cases[] = {
        {{{"東京都"}, false}, Lookup::State::Found, Lookup::State::CannotMatch},
        {{{"東京都", "大阪府"}, false}, Lookup::State::Found, Lookup::State::Found},
        {{{"東京都", "大阪府"}, true}, Lookup::State::CannotMatch, Lookup::State::CannotMatch},
        {{{"の会議", "東"}, true}, Lookup::State::Found, Lookup::State::Found},
    };
    for (const auto& c : cases) {
        const Candidates candidates = cache->candidates(c.query);
        EXPECT_EQ(cache->lookup(tokyo, "word", candidates).state, c.tokyo);
        EXPECT_EQ(cache->lookup(osaka, "word", candidates).state, c.osaka);
    }
    // A document stored after the candidates were taken is let through.
    const Candidates before = cache->candidates(IndexQuery{{"東京都"}, false});
    cache->store(later, "word", textExtract("名古屋"));
    cache->flush();
    EXPECT_EQ(cache->lookup(later, "word", before).state, Lookup::State::Found);
}

TEST_F(DocumentCacheTest, FolderAndFilesArePrivate) {
    fs::create_directories(m_folder);
    ::chmod(m_folder.c_str(), 0755);
    auto cache = open();
    cache->store(document("a.pdf"), "pdf", textExtract("x"));
    cache->flush();
    struct stat status {};
    ASSERT_EQ(::stat(m_folder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    for (const char* name : {"cache.db", "cache.db-wal"}) {
        ASSERT_EQ(::stat((m_folder / name).c_str(), &status), 0) << name;
        EXPECT_EQ(status.st_mode & 0777, 0600u) << name;
    }
}

TEST_F(DocumentCacheTest, ClearAndTheSizeLimitDropDocuments) {
    auto cache = open(30'000);
    std::mt19937 random(7);
    std::vector<Identity> documents;
    for (int i = 0; i < 30; ++i) {
        std::string text;
        for (int j = 0; j < 1000; ++j)
            text += static_cast<char>('a' + random() % 26);
        documents.push_back(document("d" + std::to_string(i) + ".pdf"));
        cache->store(documents.back(), "pdf", textExtract(text));
        // The first document stays in use; the others are used once.
        cache->lookup(documents.front(), "pdf", {});
        cache->flush();
    }
    EXPECT_TRUE(logged("size limit"));
    EXPECT_EQ(cache->lookup(documents.front(), "pdf", {}).state, Lookup::State::Found);
    EXPECT_EQ(cache->lookup(documents[1], "pdf", {}).state, Lookup::State::Miss);
    EXPECT_EQ(cache->lookup(documents.back(), "pdf", {}).state, Lookup::State::Found);
    EXPECT_LT(cache->stats().documents, 30);

    cache->clear();
    EXPECT_EQ(cache->stats().documents, 0);
    EXPECT_EQ(cache->lookup(documents.back(), "pdf", {}).state, Lookup::State::Miss);
}

// ---- Faults: never a crash, never a wrong answer, at most a search without the cache ---------

TEST_F(DocumentCacheTest, ADamagedDatabaseIsSetAsideAndMadeAnew) {
    std::vector<Identity> documents;
    {
        auto cache = open();
        for (int i = 0; i < 200; ++i) {
            documents.push_back(document(std::to_string(i) + ".pdf"));
            cache->store(documents.back(), "pdf", textExtract("本文" + std::to_string(i), 20));
        }
    }
    const fs::path file = m_folder / "cache.db";
    for (const std::uintmax_t size : {fs::file_size(file) / 2, std::uintmax_t{100}}) {
        fs::resize_file(file, size);
        {
            auto cache = open();
            const Candidates candidates = cache->candidates(IndexQuery{{"本文1"}, false});
            for (std::size_t i = 0; i < documents.size(); ++i) {
                const Lookup lookup = cache->lookup(documents[i], "pdf", candidates);
                if (lookup.state == Lookup::State::Found) {
                    EXPECT_EQ(lookup.extract, textExtract("本文" + std::to_string(i), 20));
                }
            }
        }
        EXPECT_TRUE(logged("damaged")) << size;
        EXPECT_TRUE(fs::exists(m_folder / "cache.db.broken")) << size;
        auto fresh = open();
        EXPECT_TRUE(fresh->usable());
        EXPECT_EQ(fresh->stats().documents, 0);
        fresh->store(documents[0], "pdf", textExtract("新"));
        fresh.reset();
        EXPECT_EQ(open()->lookup(documents[0], "pdf", {}).state, Lookup::State::Found);
        m_log.clear();
    }
}

TEST_F(DocumentCacheTest, AReadOnlyFolderIsLeftAlone) {
    const Identity a = document("a.pdf");
    if (::geteuid() == 0) {
        if (!mountTmpfs("size=1m,mode=0700"))
            GTEST_SKIP() << "cannot mount a tmpfs";
        open()->store(a, "pdf", textExtract("既存"));
        ASSERT_EQ(::mount(nullptr, m_folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    } else {
        open()->store(a, "pdf", textExtract("既存"));
        ::chmod(m_folder.c_str(), 0500);
        ::chmod((m_folder / "cache.db").c_str(), 0400);
    }
    auto cache = open();
    // Whether what is there can still be read or not: never a wrong answer, never a failure.
    const Lookup lookup = cache->lookup(a, "pdf", {});
    if (lookup.state == Lookup::State::Found) {
        EXPECT_EQ(lookup.extract, textExtract("既存"));
    }
    cache->store(document("b.pdf"), "pdf", textExtract("新"));
    cache->flush();
    EXPECT_FALSE(m_log.empty());
    EXPECT_FALSE(fs::exists(m_folder / "cache.db.broken"));
}

TEST_F(DocumentCacheTest, ADatabaseLockedByAnotherProcessIsSkippedNotSetAside) {
    const Identity a = document("a.pdf");
    open()->store(a, "pdf", textExtract("本文"));
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        sqlite3* db = nullptr;
        sqlite3_open((m_folder / "cache.db").c_str(), &db);
        const int status = sqlite3_exec(db,
                                        "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; "
                                        "UPDATE documents SET last_used = last_used;",
                                        nullptr, nullptr, nullptr);
        char byte = status == SQLITE_OK ? 'y' : 'n';
        (void)!::write(ready[1], &byte, 1);
        (void)!::read(done[0], &byte, 1);
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'y');
    {
        auto cache = open();
        EXPECT_EQ(cache->lookup(a, "pdf", {}).state, Lookup::State::Miss);
        cache->store(document("b.pdf"), "pdf", textExtract("新"));
    }
    EXPECT_TRUE(logged("lock")) << (m_log.empty() ? "" : m_log.front());
    (void)!::write(done[1], "x", 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_FALSE(fs::exists(m_folder / "cache.db.broken"));
    EXPECT_EQ(open()->lookup(a, "pdf", {}).state, Lookup::State::Found);
}

TEST_F(DocumentCacheTest, AFullDiskStopsStoringButKeepsWhatIsThere) {
    if (!mountTmpfs("size=256k,mode=0700"))
        GTEST_SKIP() << "cannot mount a tmpfs (needs root)";
    auto cache = open();
    const Identity first = document("first.pdf");
    cache->store(first, "pdf", textExtract("最初"));
    cache->flush();
    std::mt19937 random(3);
    for (int i = 0; i < 40; ++i) {
        std::string noise;
        // Sixteen letters: compresses to about half, yet few trigrams to index.
        for (int j = 0; j < 20000; ++j)
            noise += static_cast<char>('a' + random() % 16);
        cache->store(document(std::to_string(i) + ".pdf"), "pdf", textExtract(noise));
    }
    cache->flush();
    EXPECT_TRUE(logged("storing stopped"));
    EXPECT_EQ(cache->lookup(first, "pdf", {}).extract, textExtract("最初"));
}

TEST_F(DocumentCacheTest, TwoProcessesShareOneCache) {
    std::vector<Identity> documents;
    for (int i = 0; i < 60; ++i)
        documents.push_back(document(std::to_string(i) + ".xlsx"));
    // Both store every document (the same paths) and read each other's, at once.
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = ::fork();
        if (children[p] == 0) {
            DocumentCache cache(options());
            int wrong = cache.usable() ? 0 : 1;
            for (const Identity& d : documents) {
                cache.store(d, "excel", textExtract(d.path, 5));
                const Lookup lookup =
                    cache.lookup(d, "excel", cache.candidates({{{"xlsx"}, false}}));
                wrong += lookup.state == Lookup::State::Found &&
                         lookup.extract != textExtract(d.path, 5);
                wrong += lookup.state == Lookup::State::CannotMatch;
            }
            cache.flush();
            for (const auto& line : m_log)  // why, when it went wrong
                std::cerr << "process " << p << ": " << line << '\n';
            ::_exit(wrong == 0 ? 0 : 1);
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto cache = open();
    EXPECT_EQ(cache->stats().documents, 60);
    const Candidates candidates = cache->candidates(IndexQuery{{"59.xlsx"}, false});
    EXPECT_EQ(cache->lookup(documents[59], "excel", candidates).state, Lookup::State::Found);
    EXPECT_EQ(cache->lookup(documents[58], "excel", candidates).state, Lookup::State::CannotMatch);
}

TEST_F(DocumentCacheTest, ADatabaseOfAnotherFormatIsReplaced) {
    const Identity a = document("a.pdf");
    open()->store(a, "pdf", textExtract("本文"));
    sqlite3* db = nullptr;
    sqlite3_open((m_folder / "cache.db").c_str(), &db);
    sqlite3_exec(db, "UPDATE meta SET value = 'other' WHERE name = 'conversions'", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);
    auto cache = open();
    EXPECT_TRUE(cache->usable());
    EXPECT_TRUE(logged("conversions changed"));
    EXPECT_EQ(cache->lookup(a, "pdf", {}).state, Lookup::State::Miss);
}

}  // namespace
}  // namespace ferretta::cache
