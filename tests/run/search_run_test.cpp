#include "run/search_run.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "cache/document_cache.h"
#include "pdf/engine/fonts/cid_map.h"
#include "pdf/frontends/pdf_filter_search.h"
#include "platform/error.h"
#include "searchers/office/office_session.h"
#include "support/fake_office.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace ferretta::run {
namespace {

using Items = std::vector<std::string>;

TEST(SummaryTextTest, FilesHitsSecondsAndSkippedFiles) {
    const std::string head = "12ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、3件ヒットしました。";
    const std::tuple<std::optional<std::int64_t>, std::int64_t, std::string> cases[] = {
        {1234, 0, "(1.234秒)"},
        {999, 0, "(0.999秒)"},
        {1005, 0, "(1.005秒)"},
        {1600, 0, "(1.600秒)"},
        {3723004, 0, "(3723.004秒)"},
        {0, 0, ""},  // without a positive time there is no time
        {-5, 0, ""},
        {std::nullopt, 0, ""},
        {1, 3, "(0.001秒)（読めないファイル3件）"},
        {std::nullopt, 1, "（読めないファイル1件）"}};
    for (const auto& [ms, unreadable, tail] : cases)
        EXPECT_EQ(summaryText(12, 3, ms, unreadable), head + tail);
    EXPECT_EQ(summaryText(12, 3, 1, 2, 5),
              head + "(0.001秒)（読めないファイル2件）（キャッシュから5ﾌｧｲﾙ）");
    EXPECT_EQ(summaryText(12, 3, 1234, 0, 0, true),
              "12ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、3件ヒットしたところで中止しました。(1.234秒)");
}

TEST(KeywordHistoryTest, MovesTheTextToTheFront) {
    // Exact comparison; empty entries dropped; an empty text changes nothing.
    const std::tuple<Items, const char*, Items> cases[] = {{{}, "a", {"a"}},
                                                           {{"b", "a", "c"}, "a", {"a", "b", "c"}},
                                                           {{"a"}, "A", {"A", "a"}},
                                                           {{"", "b", ""}, "a", {"a", "b"}},
                                                           {{"x", "y"}, "", {"x", "y"}},
                                                           {{"a", "b", "a"}, "a", {"a", "b"}}};
    for (const auto& [before, text, after] : cases)
        EXPECT_EQ(updateKeywordHistory(before, text), after) << "text: " << text;
}

// A search over a real folder through the one search command of both front ends.
class SearchRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings.dir = tree.path();
        settings.textTags = "TXT";
    }

    SearchOutcome search(const std::string& query = "needle") {
        SearchRunHooks hooks;
        hooks.officeSession = [this]() -> searchers::office::OfficeSession& { return session; };
        hooks.searchFinished = [this] { finishedWhileSearching = flags.isSearching; };
        hooks.hitCount = [this] { return static_cast<std::int64_t>(host.rows.size()); };
        return runSearchCommand(host, settings, flags, query, hooks);
    }

    // runSearch alone, with the text searcher and the given item searcher for types 4..8.
    std::int64_t runWithItems(const std::function<std::int64_t(app::FileType)>& items,
                              bool* failed = nullptr) {
        search::Matcher matcher(false, false);
        matcher.targetStrsSplit("needle");
        search::SearcherRegistry registry;
        search::registerTextSearcher(registry);
        for (app::FileType type : app::outlookItemTypes)
            registry.setItemSearcher(type, [items, type] { return items(type); });
        search::Finder finder({host, settings, matcher, flags}, registry);
        return runSearch(host, settings, finder, registry, flags, failed);
    }

    std::vector<std::string> rowNames() const {
        std::vector<std::string> names;
        for (const auto& row : host.rows)
            names.push_back(row.name);
        return names;
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> texts;
        for (const auto& message : host.messages)
            texts.push_back(message.text);
        return texts;
    }

    test::TempTree tree;
    test::RecordingHost host;
    app::Settings settings;
    search::SearchFlags flags;
    test::FakeOffice office;
    searchers::office::OfficeSession session{office};
    bool finishedWhileSearching = true;
};

TEST_F(SearchRunTest, SearchesCountsAndSummarises) {
    tree.write("a.txt", "one\r\nneedle here\r\n");
    tree.write("b.txt", "nothing\r\n");
    tree.write("c.dat", "needle in an unsearched type\r\n");
    const SearchOutcome outcome = search();
    EXPECT_EQ(outcome.files, 2);
    EXPECT_EQ(outcome.hits, 1);
    EXPECT_EQ(rowNames(), Items{"a.txt"});
    EXPECT_EQ(host.rows[0].position, "2,1");
    EXPECT_FALSE(flags.isSearching || finishedWhileSearching);
    EXPECT_EQ(host.statusTexts.back(), outcome.summary);
    EXPECT_EQ(outcome.summary.rfind("2ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、1件ヒットしました。", 0), 0u);
    // The walk adds the separator to the caller's folder, and it stays there.
    EXPECT_EQ(settings.dir, tree.path() + "/");
    EXPECT_TRUE(office.calls.empty());
}

TEST_F(SearchRunTest, StopRequestEndsTheTimeAndAVanishedFileIsCounted) {
    tree.write("a.txt", "needle\r\n");
    tree.write("b.txt", "needle\r\n");
    tree.write("c.txt", "needle\r\n");
    // After a.txt, b.txt vanishes; after b.txt the user presses stop "five seconds later".
    settings.workers = 1;  // workers would have read b.txt already
    host.onDoEvents = [&] {
        const std::string& file = host.captions.back();
        if (file.ends_with("a.txt"))
            std::filesystem::remove(tree.root() / "b.txt");
        if (file.ends_with("b.txt") && !flags.isAbort) {
            search::requestStop(flags);
            *flags.stopRequestedAt += 5000;
        }
    };
    const SearchOutcome outcome = search();
    EXPECT_EQ(rowNames(), Items{"a.txt"});
    EXPECT_EQ(outcome.unreadable, 1);
    EXPECT_TRUE(outcome.summary.find("ところで中止しました。") != std::string::npos)
        << outcome.summary;
    ASSERT_TRUE(outcome.elapsedMs);
    EXPECT_GE(*outcome.elapsedMs, 5000);
    EXPECT_NE(outcome.summary.find("（読めないファイル1件）"), std::string::npos);
    EXPECT_NE(outcome.summary.find("ヒットしたところで中止しました。"), std::string::npos);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(SearchRunTest, PdfFilterWithoutCommandIsReportedOncePerSearch) {
    tree.write("a.pdf", "%PDF-1.4");
    tree.write("b.pdf", "%PDF-1.4");
    settings.fileTypes.setTarget(app::FileType::Pdf, true);
    settings.pdfOwnEngine = false;
    settings.pdfFilterPath.clear();
    for (int round = 0; round < 2; ++round) {
        host = {};
        EXPECT_EQ(search().files, 0);
        EXPECT_EQ(messages(), Items{std::string(pdf::filterStartErrorText)});
        EXPECT_EQ(host.messages[0].style, app::MessageStyle::Exclamation);
    }
}

TEST_F(SearchRunTest, UnhandledFailureEndsTheSearchKeepingTheRows) {
    tree.write("a.txt", "needle\r\n");
    settings.fileTypes.setTarget(app::FileType::OutlookTask, true);
    settings.fileTypes.setTarget(app::FileType::OutlookMail, true);
    bool failed = false;
    const std::int64_t count = runWithItems(
        [](app::FileType type) -> std::int64_t {
            if (type == app::FileType::OutlookMail)
                throw std::bad_alloc();
            return 10;
        },
        &failed);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(flags.isAbort);
    EXPECT_EQ(count, 11);
    EXPECT_EQ(rowNames(), Items{"a.txt"});
    EXPECT_EQ(messages(), Items{"検索中にエラーが発生しました."});
    EXPECT_EQ(host.messages[0].style, app::MessageStyle::Critical);
}

// A file the stop cut short was looked at: it counts, its hits are listed.
TEST_F(SearchRunTest, AFileTheStopCutShortIsCounted) {
    tree.write("a.txt", "needle\r\n");
    search::Matcher matcher(false, false);
    matcher.targetStrsSplit("needle");
    search::SearcherRegistry registry;
    registry.setFileSearcher(app::FileType::Text, [this](const search::SearchContext&) {
        return [this](const std::string&) {
            search::requestStop(flags);
            return false;  // a searcher's answer when it was stopped
        };
    });
    search::Finder finder({host, settings, matcher, flags}, registry);
    EXPECT_EQ(runSearch(host, settings, finder, registry, flags), 1);
}

// A damaged PDF is searched as far as it can be read, and counted.
TEST_F(SearchRunTest, ADamagedPdfIsCounted) {
    tree.write("bad.pdf", "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    settings.fileTypes.targetFileType.fill(false);
    settings.fileTypes.setTarget(app::FileType::Pdf, true);
    settings.pdfOwnEngine = true;
    ASSERT_TRUE(pdf::cidTable().loaded() ||
                pdf::cidTable().p2tCIDInit(FERRETTA_SOURCE_DIR "/resources/AdobeCID.dat"));
    EXPECT_EQ(search().files, 1);
}

// What the search read is in the cache's database when the search ends (another process
// finds it there), not written behind a summary that says the search is over.
TEST_F(SearchRunTest, WhatTheSearchReadIsWrittenBeforeItEnds) {
    tree.write("doc.pdf", "alpha\n");
    settings.fileTypes.targetFileType.fill(false);
    settings.fileTypes.setTarget(app::FileType::Pdf, true);
    settings.pdfFilterPath = "cp %1 %2";
    settings.textCache = true;
    ASSERT_EQ(search("alpha").hits, 1);
    const std::string path = tree.path("doc.pdf");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2((cache::defaultCacheFolder() / cache::kDatabaseName).c_str(), &db,
                              SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM documents WHERE path = ?", -1, &query,
                                 nullptr),
              SQLITE_OK);
    sqlite3_bind_blob(query, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(query, 0), 1);
    sqlite3_finalize(query);
    sqlite3_close(db);
}

}  // namespace
}  // namespace ferretta::run
