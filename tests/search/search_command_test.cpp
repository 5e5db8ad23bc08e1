#include "search/search_command.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <string>
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
    struct Case {
        std::int64_t files;
        std::int64_t hits;
        std::optional<std::int64_t> elapsedMs;
        const char* text;
    };
    const Case cases[] = {
        {12, 3, 1234, "12ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、3件ヒットしました。(1.234秒)"},
        {1, 0, 999, "1ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、0件ヒットしました。(0.999秒)"},
        {1, 0, 1005, "1ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、0件ヒットしました。(1.005秒)"},
        {1, 0, 1600, "1ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、0件ヒットしました。(1.600秒)"},
        {1, 0, 1, "1ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、0件ヒットしました。(0.001秒)"},
        {1, 0, 60000, "1ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、0件ヒットしました。(60.000秒)"},
        {2, 5, 3723004, "2ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、5件ヒットしました。(3723.004秒)"},
        {0, 0, 0, "0ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、0件ヒットしました。"},
        {0, 0, std::nullopt, "0ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、0件ヒットしました。"},
        {7, 2, -5, "7ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、2件ヒットしました。"},
        {100000, 40000, std::nullopt, "100000ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、40000件ヒットしました。"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(summaryText(c.files, c.hits, c.elapsedMs), c.text);
    }
}

TEST(KeywordHistoryTest, MovesTheTextToTheFront) {
    struct Case {
        Items before;
        const char* text;
        Items after;
    };
    const Case cases[] = {
        {{}, "a", {"a"}},
        {{"b", "a", "c"}, "a", {"a", "b", "c"}},
        {{"a", "b"}, "a", {"a", "b"}},
        {{"a"}, "A", {"A", "a"}},  // exact comparison
        {{"foo"}, "foo ", {"foo ", "foo"}},
        {{"", "b", ""}, "a", {"a", "b"}},  // empty entries dropped
        {{"x", "y"}, "", {"x", "y"}},      // an empty text changes nothing
        {{"a", "b", "a"}, "a", {"a", "b"}},
        {{"検索", "&& foo bar"}, "&& foo bar", {"&& foo bar", "検索"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(updateKeywordHistory(c.before, c.text), c.after) << "text: " << c.text;
    }
    // The same words twice leave one entry.
    Items once = updateKeywordHistory({"old"}, "new");
    EXPECT_EQ(updateKeywordHistory(once, "new"), (Items{"new", "old"}));
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
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_folder, ec);
    }

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
    enable({ft::text});
    EXPECT_EQ(runSearch(m_host, m_settings, m_finder, m_flags), 2);
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
    auto count = runSearch(m_host, m_settings, m_finder, m_flags, [&](int) -> std::int64_t {
        itemsSearched = true;
        return 1;
    });
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(m_flags.isAbort);
    EXPECT_FALSE(itemsSearched);
    ASSERT_EQ(m_host.messages.size(), 1u);
    EXPECT_EQ(m_host.messages[0].text, "検索フォルダが無効です\r正しいフォルダを指定してください");
}

TEST_F(RunSearchTest, ItemTypesRunInTheirOrderAfterTheWalk) {
    struct Case {
        std::vector<int> enabled;
        std::vector<int> calls;
        std::int64_t count;
    };
    const Case cases[] = {
        {{4, 5, 6, 7, 8}, {4, 5, 6, 7, 8}, 4 + 5 + 6 + 7 + 8},
        {{8, 6, 4}, {4, 6, 8}, 4 + 6 + 8},
        {{10, 11}, {}, 0},  // Outlook Express is never searched
        {{}, {}, 0},
    };
    for (const Case& c : cases) {
        m_settings.fileTypes.targetFileType.fill(false);
        for (int type : c.enabled)
            m_settings.fileTypes.targetFileType[type] = true;
        m_settings.dir.clear();  // no folder type is on, so the folder is not looked at
        m_host.messages.clear();
        m_flags = SearchFlags{};
        std::vector<int> calls;
        auto count = runSearch(m_host, m_settings, m_finder, m_flags, [&](int type) {
            calls.push_back(type);
            return std::int64_t{type};
        });
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(count, c.count);
        EXPECT_TRUE(m_host.messages.empty());
        EXPECT_FALSE(m_flags.isAbort);
    }
}

TEST_F(RunSearchTest, WalkAndItemsAddUp) {
    file("a.txt", "x\r\n");
    file("b.txt", "y\r\n");
    enable({ft::text, ft::outlookMail});
    auto count = runSearch(m_host, m_settings, m_finder, m_flags, [](int) { return 10; });
    EXPECT_EQ(count, 12);
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

TEST_F(RunSearchTest, ItemTypesWithoutASearcherCountNothing) {
    enable({4, 8});
    EXPECT_EQ(runSearch(m_host, m_settings, m_finder, m_flags), 0);
    EXPECT_TRUE(m_host.messages.empty());
}

}  // namespace
}  // namespace ferretta::search
