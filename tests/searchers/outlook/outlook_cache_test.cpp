// Mail folders on disk through the document cache: a warm search finds what a live one finds,
// reads no message, and remembers the same items for a double-click; a changed folder is read
// again.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "cache/document_cache.h"
#include "drivers/pim/mailbox.h"
#include "searchers/outlook/outlook_search.h"
#include "support/memory_item_store.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace ferretta::searchers::outlook {
namespace {

namespace fs = std::filesystem;
namespace pim = platform::pim;
using app::FileType;

// The real mailbox readers, counting the messages they read.
class MailboxStore : public test::MemoryItemStore {
  public:
    std::unique_ptr<pim::ItemFolder> openFolder(pim::FolderKind,
                                                const std::string& place) override {
        struct Counting : pim::ItemFolder {
            Counting(std::unique_ptr<pim::ItemFolder> inner, int& reads)
                : m_inner(std::move(inner)), m_reads(reads) {}
            std::size_t count() const override { return m_inner->count(); }
            std::optional<pim::Item> item(std::size_t index) override {
                ++m_reads;
                return m_inner->item(index);
            }
            Sources sources() const override { return m_inner->sources(); }
            std::unique_ptr<pim::ItemFolder> m_inner;
            int& m_reads;
        };
        auto folder = pim::openMailbox(place, {});
        return folder ? std::make_unique<Counting>(std::move(folder), reads) : nullptr;
    }
    int reads = 0;
};

// Sets the time of the files and folders under `path` back by an hour and more: the cache
// keeps no folder that changed moments before it was read.
void age(const fs::path& path, int minutes = 0) {
    const auto then =
        fs::file_time_type::clock::now() - std::chrono::hours(1) + std::chrono::minutes(minutes);
    if (fs::is_directory(path)) {
        for (const auto& entry : fs::recursive_directory_iterator(path))
            fs::last_write_time(entry.path(), then);
    }
    fs::last_write_time(path, then);
}

struct Found {
    std::vector<std::string> rows;
    std::int64_t items = 0;
    int reads = 0;
    int fromCache = 0;
    std::vector<pim::ItemRef> remembered;
};

class OutlookCacheTest : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        place = tree.path(GetParam());
        fs::copy(fs::path(FERRETTA_TEST_DATA) / "pim" / GetParam(), place,
                 fs::copy_options::recursive);
        age(place);
        settings.outlookPlaces[1] = place.string();
    }

    // A message at the end of the folder (an mbox grows, a Maildir gets a file in new/).
    void addMessage(const std::string& subject, int number) {
        const std::string message = "From: a@example.jp\nSubject: " + subject + "\nMessage-ID: <n" +
                                    std::to_string(number) + "@x>\n\nbody\n";
        if (fs::is_directory(place))
            test::writeFile(
                place / "new" / (std::to_string(1800000000 + number) + ".M9P1Q9.desktop"), message);
        else
            test::writeFile(place, test::readFile(place) +
                                       "\nFrom a@example.jp Mon Jan  5 10:00:00 2026\n" + message);
    }

    // `stopAt`: the events call at which a stop is requested (every tenth item), 0 for none.
    Found search(const std::string& words, bool cached, bool regular = false, int stopAt = 0) {
        auto owned = std::make_unique<MailboxStore>();
        MailboxStore& store = *owned;
        OutlookSession session(std::move(owned));
        test::RecordingHost host;
        search::SearchFlags flags;
        host.onDoEvents = [&] { flags.isAbort = host.doEventsCalls == stopAt; };
        search::Matcher matcher(regular, false);
        matcher.targetStrsSplit(words);
        std::optional<cache::SearchCache> searchCache;
        if (cached)
            searchCache.emplace(documents, std::nullopt, std::nullopt);
        OutlookSearcher searcher(session, {host, settings, matcher, flags},
                                 searchCache ? &*searchCache : nullptr);
        Found found;
        found.items = searcher.findOutlookObjects(FileType::OutlookMail);
        documents.flush();
        found.rows = test::hitRows(host);
        found.reads = store.reads;
        found.fromCache = host.fromCacheNotes;
        for (std::int64_t i = 1; i <= found.items; ++i) {
            const pim::ItemRef* ref = session.remembered(FileType::OutlookMail, i);
            found.remembered.push_back(ref ? *ref : pim::ItemRef{});
        }
        return found;
    }

    // Live, then twice through the cache: the same rows and items; the second reads nothing.
    void expectWarmAsLive(const std::string& words, bool regular = false) {
        SCOPED_TRACE(words);
        const Found live = search(words, false, regular);
        const Found cold = search(words, true, regular);
        const Found warm = search(words, true, regular);
        ASSERT_GT(live.items, 0);
        EXPECT_EQ(cold.rows, live.rows);
        EXPECT_EQ(warm.rows, live.rows);
        EXPECT_EQ(warm.items, live.items);
        EXPECT_EQ(warm.remembered, live.remembered);
        EXPECT_EQ(warm.reads, 0);
        EXPECT_EQ(warm.fromCache, 1);
    }

    test::TempTree tree;
    fs::path place;
    app::Settings settings;
    cache::DocumentCache documents{[this] {
        cache::CacheOptions options;
        options.folder = tree.root() / "cache";
        return options;
    }()};
};

TEST_P(OutlookCacheTest, WarmSearchesFindWhatLiveOnesFind) {
    for (const char* words :
         {"会議", "&& 会議 第２", "example 田中 山田", "ｶｲｷﾞ", "見つからない語"})
        expectWarmAsLive(words);
    expectWarmAsLive("^来週", true);
}

TEST_P(OutlookCacheTest, AChangedFolderIsReadAgain) {
    expectWarmAsLive("会議");
    addMessage("=?UTF-8?B?5paw44GX44GE5Lya6K2w?=", 1);  // 新しい会議
    age(place, 5);
    const Found after = search("会議", true);
    EXPECT_GT(after.reads, 0);
    EXPECT_EQ(after.rows.back(), "5|新しい会議|(件名にヒット)|Outlookメール(" +
                                     std::to_string(after.items) + ")-表題|");
    expectWarmAsLive("会議");
}

// A folder is kept in runs of 500 items: a stop keeps the runs it completed, a later search
// reads only the rest.
TEST_P(OutlookCacheTest, CompleteRunsAreKeptAndAFolderChangedMomentsAgoIsNot) {
    for (int i = 0; i < 520; ++i)
        addMessage("x", i);
    age(place);
    EXPECT_EQ(search("会議", true, false, 51).reads, 509);  // stopped at item 510
    const Found rest = search("会議", true);
    EXPECT_EQ(rest.reads, rest.items - 500);
    EXPECT_EQ(rest.fromCache, 1);
    expectWarmAsLive("会議");

    fs::last_write_time(fs::is_directory(place) ? place / "new" : place,
                        fs::file_time_type::clock::now());
    search("会議", true);
    EXPECT_EQ(search("会議", true).reads, rest.items);
}

INSTANTIATE_TEST_SUITE_P(Mailboxes, OutlookCacheTest, ::testing::Values("Inbox", "Maildir"));

}  // namespace
}  // namespace ferretta::searchers::outlook
