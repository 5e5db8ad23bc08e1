#include "search/finder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/cp932.h"
#include "search/path_helpers.h"
#include "support/recording_host.h"

namespace ferretta::search {
namespace {

namespace fs = std::filesystem;

TEST(IsTextTag, SuffixRuleAndEmptyExtension) {
    struct Case {
        const char* extension;
        const char* tags;
        bool expected;
    } cases[] = {
        {"TXT", "TXT", true},     {"XT", "TXT", true},      {"T", "TXT", true},
        {"TX", "TXT", false},     {"", "TXT", true},        {"", "", true},
        {"CSV", "TXT;CSV", true}, {"TXT", "TXT;CSV", true}, {"txt", "TXT", false},
        {"LOG", "TXT", false},    {"V", "TXT;CSV", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isTextTag(c.extension, c.tags), c.expected) << c.extension << " in " << c.tags;
}

TEST(FileTypeOf, Extensions) {
    struct Case {
        const char* extension;
        const char* tags;
        int type;
    } cases[] = {
        {"DOC", "TXT", 2},  {"DOCX", "TXT", 2},  {"DOCM", "TXT", 2}, {"ODT", "TXT", 2},
        {"XLS", "TXT", 3},  {"XLSX", "TXT", 3},  {"XLSM", "TXT", 3}, {"ODS", "TXT", 3},
        {"PPT", "TXT", 16}, {"PPTX", "TXT", 16}, {"ODP", "TXT", 16}, {"MDB", "TXT", 15},
        {"PDF", "TXT", 13}, {"XT", "TXT", 1},    {"DOC", "DOC", 2},  {"DOCX", "DOCX", 2},
        {"LOG", "TXT", 0},  {"PPTM", "TXT", 0},  {"docx", "TXT", 0}, {"OCX", "DOCX", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fileTypeOf(c.extension, c.tags), c.type) << c.extension << " in " << c.tags;
}

TEST(PathHelpers, Table) {
    EXPECT_EQ(fileNameOf("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(fileNameOf("c.txt"), "c.txt");
    EXPECT_EQ(fileNameOf("/a/b/"), "");
    EXPECT_EQ(extensionOf("c.txt"), "TXT");
    EXPECT_EQ(extensionOf("archive.tar.gz"), "GZ");
    EXPECT_EQ(extensionOf("README"), "");
    EXPECT_EQ(extensionOf("/home/a.b/README"), "B/README");  // a dot in a folder counts
    EXPECT_EQ(extensionOf("メモ.ｔｘｔ"), "ＴＸＴ");         // upper case keeps the width
    EXPECT_EQ(folderOf("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(baseNameOf("/a/b/c.d.txt"), "c.d");
}

class FinderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() /
                 ("ferretta-finder-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }

    void write(const std::string& relative, const std::string& utf8Text) {
        fs::path file = m_root / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << platform::utf8ToCp932(utf8Text);
    }

    std::int64_t run(const std::string& query, std::string folder = {}) {
        matcher = Matcher(settings.regular, settings.strict);
        matcher.targetStrsSplit(query);
        Finder finder(host, settings, matcher, flags);
        if (folder.empty())
            folder = m_root.string();
        m_folderAfter = folder;
        return finder.findInDir(m_folderAfter);
    }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& row : host.rows)
            out.push_back(row.name + "|" + row.content + "|" + row.position);
        return out;
    }

    fs::path m_root;
    std::string m_folderAfter;
    app::Settings settings;
    Matcher matcher{false, false};
    SearchFlags flags;
    test::RecordingHost host;
};

TEST_F(FinderTest, WalksFilesBeforeSubFoldersAndAppendsSeparator) {
    write("b.txt", "foo");
    write("a.txt", "no\nfoo here");
    write("sub/c.txt", "foo");
    write("sub/deeper/d.txt", "foo");
    write("x.log", "foo");
    EXPECT_EQ(run("foo"), 4);
    EXPECT_EQ(m_folderAfter, m_root.string() + "/");
    std::vector<std::string> expected = {"a.txt|foo here|2,1", "b.txt|foo|1,1", "c.txt|foo|1,1",
                                         "d.txt|foo|1,1"};
    EXPECT_EQ(names(), expected);
}

TEST_F(FinderTest, NoSubFoldersWhenTheSettingSaysSo) {
    write("a.txt", "foo");
    write("sub/c.txt", "foo");
    settings.subFolder = false;
    EXPECT_EQ(run("foo"), 1);
    EXPECT_EQ(host.rows.size(), 1u);
}

TEST_F(FinderTest, FileNameHitsAreBlueAndCarryTheirType) {
    write("foo.log", "nothing");
    write("foo.pdf", "");
    write("report.txt", "nothing");
    run("foo");
    ASSERT_EQ(host.rows.size(), 2u);
    EXPECT_EQ(host.rows[0].name, "foo.log");
    EXPECT_EQ(host.rows[0].content, "(ファイル名にヒット)");
    EXPECT_EQ(host.rows[0].fileType, 0);
    EXPECT_EQ(host.rows[0].position, "");
    EXPECT_EQ(host.rows[1].fileType, 13);
    EXPECT_EQ(host.colors[0], app::rgb(0, 0, 255));
}

TEST_F(FinderTest, NameOnlyCountsEveryFileAndOpensNone) {
    write("foo.txt", "foo inside");
    write("bar.txt", "foo inside");
    settings.fileNameOnly = true;
    EXPECT_EQ(run("foo"), 2);
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_EQ(host.rows[0].content, "(ファイル名にヒット)");
    EXPECT_EQ(host.doEventsCalls, 0);
}

TEST_F(FinderTest, TextTagRules) {
    write("readme.xt", "foo");
    write("readme.tx", "foo");
    write("noextension", "foo");
    settings.textTags = "TXT";
    EXPECT_EQ(run("foo"), 2);
    std::vector<std::string> expected = {"noextension|foo|1,1", "readme.xt|foo|1,1"};
    EXPECT_EQ(names(), expected);
}

TEST_F(FinderTest, TypeSwitchedOffIsNotSearched) {
    write("a.txt", "foo");
    settings.fileTypes.targetFileType[1] = false;
    EXPECT_EQ(run("foo"), 0);
    EXPECT_TRUE(host.rows.empty());
}

TEST_F(FinderTest, OfficeDocumentOfATypeSwitchedOffIsNotReadAsText) {
    write("a.docx", "foo");
    write("b.ods", "foo");
    settings.textTags = "DOCX;ODS";
    EXPECT_EQ(run("foo"), 0);
    EXPECT_TRUE(host.rows.empty());
}

TEST_F(FinderTest, EmptyAndInvalidFoldersStopTheSearch) {
    matcher.targetStrsSplit("foo");
    Finder finder(host, settings, matcher, flags);
    std::string empty;
    EXPECT_EQ(finder.findInDir(empty), 0);
    EXPECT_TRUE(flags.isAbort);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "検索対象フォルダを指定してください");
    EXPECT_EQ(host.messages[0].style, app::MessageStyle::Information);

    flags = {};
    host.messages.clear();
    std::string missing = (m_root / "missing").string();
    EXPECT_EQ(finder.findInDir(missing), 0);
    EXPECT_TRUE(flags.isAbort);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "検索フォルダが無効です\r正しいフォルダを指定してください");
}

TEST_F(FinderTest, LinksToFoldersAreNotFollowedAndPipesAreSkipped) {
    write("sub/a.txt", "foo");
    fs::create_directory_symlink(m_root, m_root / "sub" / "loop");
    fs::create_symlink(m_root / "sub" / "a.txt", m_root / "link.txt");
    ASSERT_EQ(::mkfifo((m_root / "pipe.txt").c_str(), 0600), 0);
    EXPECT_EQ(run("foo"), 2);
    EXPECT_EQ(host.rows.size(), 2u);  // the file and the link to it, once each
}

TEST_F(FinderTest, StopBetweenFilesEndsTheWalk) {
    for (int i = 0; i < 5; ++i)
        write("f" + std::to_string(i) + ".txt", "foo");
    write("sub/z.txt", "foo");
    host.onDoEvents = [&] { flags.isAbort = true; };
    EXPECT_EQ(run("foo"), 1);
    EXPECT_EQ(host.rows.size(), 1u);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(FinderTest, TreeDeeperThanAPathCanNameEndsWithAMessage) {
    // 3,000 levels: deeper than the longest path the system accepts, so it is made level by
    // level relative to the one before.
    write("top.txt", "foo");
    int fd = ::open(m_root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(::mkdirat(fd, "d", 0700), 0);
        int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    ::close(fd);
    EXPECT_EQ(run("foo"), 1);
    ASSERT_EQ(host.rows.size(), 1u);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "検索フォルダが無効です\r正しいフォルダを指定してください");
    EXPECT_TRUE(flags.isAbort);
    // remove_all cannot delete what no path can name; rm walks relative to each level.
    EXPECT_EQ(std::system(("rm -rf '" + (m_root / "d").string() + "'").c_str()), 0);
}

TEST_F(FinderTest, InstalledSearcherRunsForItsType) {
    write("a.pdf", "");
    settings.fileTypes.targetFileType[13] = true;
    matcher.targetStrsSplit("zzz");
    Finder finder(host, settings, matcher, flags);
    int calls = 0;
    finder.setSearcher(13, [&](const std::string&) { return ++calls > 0; });
    std::string folder = m_root.string();
    EXPECT_EQ(finder.findInDir(folder), 1);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace ferretta::search
