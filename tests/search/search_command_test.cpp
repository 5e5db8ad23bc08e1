#include "search/search_command.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "app/file_types.h"
#include "platform/error.h"
#include "search/query.h"
#include "support/recording_host.h"

namespace ferretta::search {
namespace {

namespace fs = std::filesystem;
namespace ft = app::fileType;
using Items = std::vector<std::string>;

TEST(SummaryTextTest, FilesHitsAndSeconds) {
    EXPECT_EQ(summaryText(12, 3, 1234), "12ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、3件ヒットしました。(1.234秒)");
    // Without a positive time there is no time.
    EXPECT_EQ(summaryText(0, 0, 0), "0ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、0件ヒットしました。");
    EXPECT_EQ(summaryText(7, 2, -5), "7ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、2件ヒットしました。");
    EXPECT_EQ(summaryText(100000, 40000, std::nullopt),
              "100000ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、40000件ヒットしました。");
    const std::pair<std::int64_t, const char*> seconds[] = {
        {999, "(0.999秒)"}, {1005, "(1.005秒)"},   {1600, "(1.600秒)"},
        {1, "(0.001秒)"},   {60000, "(60.000秒)"}, {3723004, "(3723.004秒)"}};
    for (const auto& [ms, text] : seconds)
        EXPECT_EQ(summaryText(1, 0, ms),
                  std::string("1ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、0件ヒットしました。") + text);
}

TEST(KeywordHistoryTest, MovesTheTextToTheFront) {
    // Exact comparison; empty entries dropped; an empty text changes nothing.
    const std::tuple<Items, const char*, Items> cases[] = {
        {{}, "a", {"a"}},
        {{"b", "a", "c"}, "a", {"a", "b", "c"}},
        {{"a", "b"}, "a", {"a", "b"}},
        {{"a"}, "A", {"A", "a"}},
        {{"foo"}, "foo ", {"foo ", "foo"}},
        {{"", "b", ""}, "a", {"a", "b"}},
        {{"x", "y"}, "", {"x", "y"}},
        {{"a", "b", "a"}, "a", {"a", "b"}},
        {{"検索", "&& foo bar"}, "&& foo bar", {"&& foo bar", "検索"}}};
    for (const auto& [before, text, after] : cases)
        EXPECT_EQ(updateKeywordHistory(before, text), after) << "text: " << text;
}

// A search over a real folder, with the text searcher and stand-in searchers for the rest.
class RunSearchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ferretta-run-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        m_settings.dir = m_folder.string();
        m_settings.fileTypes.targetFileType.fill(false);
        m_settings.textTags = "TXT";
        m_matcher.targetStrsSplit("needle");
    }
    void TearDown() override { fs::remove_all(m_folder); }

    void file(const std::string& name, const std::string& text) {
        std::ofstream(m_folder / name, std::ios::binary) << text;
    }
    void enable(std::initializer_list<int> types) {
        for (int type : types)
            m_settings.fileTypes.targetFileType[type] = true;
    }
    std::vector<std::string> rowNames() const {
        std::vector<std::string> names;
        for (const auto& row : m_host.rows)
            names.push_back(row.name);
        return names;
    }
    void expectSearchError() {
        EXPECT_TRUE(m_flags.isAbort);
        ASSERT_EQ(m_host.messages.size(), 1u);
        EXPECT_EQ(m_host.messages[0].text, "検索中にエラーが発生しました.");
        EXPECT_EQ(m_host.messages[0].style, app::MessageStyle::Critical);
    }

    fs::path m_folder;
    test::RecordingHost m_host;
    app::Settings m_settings;
    Matcher m_matcher{false, false};
    SearchFlags m_flags;
    Finder m_finder{m_host, m_settings, m_matcher, m_flags};
};

TEST_F(RunSearchTest, SearchesTheFolderAndCountsTheFiles) {
    file("a.txt", "one\r\nneedle here\r\n");
    file("b.txt", "nothing\r\n");
    file("c.dat", "needle in an unsearched type\r\n");
    enable({ft::text, ft::outlookMail});
    // The walk's files and the items add up.
    EXPECT_EQ(runSearch(m_host, m_settings, m_finder, m_flags, [](int) { return 10; }), 12);
    EXPECT_FALSE(m_flags.isAbort);
    EXPECT_TRUE(m_host.messages.empty());
    ASSERT_EQ(m_host.rows.size(), 1u);
    EXPECT_EQ(m_host.rows[0].name, "a.txt");
    EXPECT_EQ(m_host.rows[0].position, "2,1");
    // The walk adds the separator to the caller's folder, and it stays there.
    EXPECT_EQ(m_settings.dir, m_folder.string() + "/");
}

TEST_F(RunSearchTest, SearcherFailureEndsTheSearchKeepingTheRows) {
    file("a.txt", "needle\r\n");
    file("b.pdf", "%PDF-1.4 needle");
    file("c.txt", "needle\r\n");
    enable({ft::text, ft::pdf, ft::outlookMail});
    std::vector<std::string> pdfs;
    m_finder.setSearcher(ft::pdf, [&](const std::string& path) -> bool {
        pdfs.push_back(path);
        throw Error(Error::Kind::FileRead, path + ": broken");
    });
    bool itemsSearched = false;
    auto count = runSearch(m_host, m_settings, m_finder, m_flags, [&](int) -> std::int64_t {
        itemsSearched = true;
        return 1;
    });
    expectSearchError();
    EXPECT_EQ(pdfs.size(), 1u);
    EXPECT_EQ(rowNames(), std::vector<std::string>{"a.txt"});  // c.txt was never reached
    EXPECT_FALSE(itemsSearched);
    // The walk never answered its count, so none is known (as when the walk fails anywhere).
    EXPECT_EQ(count, 0);
}

TEST_F(RunSearchTest, FileThatVanishesDuringTheWalkEndsTheSearch) {
    file("a.txt", "needle\r\n");
    file("b.txt", "needle\r\n");
    file("c.txt", "needle\r\n");
    enable({ft::text});
    m_host.onDoEvents = [&] { fs::remove(m_folder / "b.txt"); };
    runSearch(m_host, m_settings, m_finder, m_flags);
    expectSearchError();
    EXPECT_EQ(rowNames(), std::vector<std::string>{"a.txt"});
}

TEST_F(RunSearchTest, MissingFolderIsReportedByTheWalkNotAsAnError) {
    m_settings.dir = (m_folder / "missing").string();
    enable({ft::text, ft::outlookTask});
    bool itemsSearched = false;
    EXPECT_EQ(runSearch(m_host, m_settings, m_finder, m_flags,
                        [&](int) { return std::int64_t{itemsSearched = true}; }),
              0);
    EXPECT_TRUE(m_flags.isAbort);
    EXPECT_FALSE(itemsSearched);
    ASSERT_EQ(m_host.messages.size(), 1u);
    EXPECT_EQ(m_host.messages[0].text, "検索フォルダが無効です\r正しいフォルダを指定してください");
}

TEST_F(RunSearchTest, ItemTypesRunInTheirOrderAfterTheWalk) {
    // Outlook Express (10, 11) is never searched.
    const std::tuple<std::vector<int>, std::vector<int>, std::int64_t> cases[] = {
        {{4, 5, 6, 7, 8}, {4, 5, 6, 7, 8}, 4 + 5 + 6 + 7 + 8},
        {{8, 6, 4}, {4, 6, 8}, 4 + 6 + 8},
        {{10, 11}, {}, 0},
        {{}, {}, 0}};
    for (const auto& [enabled, expectedCalls, expectedCount] : cases) {
        m_settings.fileTypes.targetFileType.fill(false);
        for (int type : enabled)
            m_settings.fileTypes.targetFileType[type] = true;
        m_settings.dir.clear();  // no folder type is on, so the folder is not looked at
        m_host.messages.clear();
        m_flags = SearchFlags{};
        std::vector<int> calls;
        auto count = runSearch(m_host, m_settings, m_finder, m_flags, [&](int type) {
            calls.push_back(type);
            return std::int64_t{type};
        });
        EXPECT_EQ(calls, expectedCalls);
        EXPECT_EQ(count, expectedCount);
        EXPECT_TRUE(m_host.messages.empty());
        EXPECT_FALSE(m_flags.isAbort);
    }
    // Item types without a searcher count nothing.
    enable({4, 8});
    EXPECT_EQ(runSearch(m_host, m_settings, m_finder, m_flags), 0);
    EXPECT_TRUE(m_host.messages.empty());
}

TEST_F(RunSearchTest, StopRequestEndsTheItemSearch) {
    enable({4, 5, 6, 7, 8});
    for (int stopAt : {4, 5, 6, 7}) {
        m_flags = SearchFlags{};
        std::vector<int> calls;
        auto count = runSearch(m_host, m_settings, m_finder, m_flags, [&](int type) {
            calls.push_back(type);
            if (type == stopAt)
                m_flags.isAbort = true;
            return std::int64_t{1};
        });
        EXPECT_EQ(calls.back(), stopAt);
        EXPECT_EQ(count, static_cast<std::int64_t>(calls.size()));
        EXPECT_TRUE(m_host.messages.empty());
    }
}

TEST_F(RunSearchTest, ItemSearchFailureKeepsTheCountSoFar) {
    file("a.txt", "needle\r\n");
    enable({ft::text, 4, 5, 6, 7, 8});
    for (int failAt : {4, 6, 8}) {
        m_host = test::RecordingHost{};
        m_flags = SearchFlags{};
        m_settings.dir = m_folder.string();
        auto count = runSearch(m_host, m_settings, m_finder, m_flags, [&](int type) {
            if (type == failAt)
                throw std::bad_alloc();
            return std::int64_t{10};
        });
        expectSearchError();
        EXPECT_EQ(count, 1 + 10 * (failAt - 4)) << "failing at " << failAt;
        EXPECT_EQ(rowNames(), std::vector<std::string>{"a.txt"});
    }
}

}  // namespace
}  // namespace ferretta::search
