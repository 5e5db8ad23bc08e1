#include "search/finder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "search/path_helpers.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace ferretta::search {
namespace {

namespace fs = std::filesystem;
using app::FileType;

TEST(FileTypeOf, ExtensionsAndTextTags) {
    // isTextTag: the extension and ";" anywhere in the list and ";" (so tails of listed ones
    // and the empty extension count, case-sensitive).
    const std::tuple<const char*, const char*, FileType> cases[] = {
        {"DOCM", "TXT", FileType::Word},
        {"ODS", "TXT", FileType::Excel},
        {"PPTX", "TXT", FileType::PowerPoint},
        {"MDB", "TXT", FileType::Access},
        {"PDF", "TXT", FileType::Pdf},
        {"DOCX", "DOCX", FileType::Word},
        {"TXT", "TXT", FileType::Text},
        {"XT", "TXT", FileType::Text},
        {"", "", FileType::Text},
        {"V", "TXT;CSV", FileType::Text},
        {"OCX", "DOCX", FileType::Text},
        {"TX", "TXT", FileType::Unknown},
        {"txt", "TXT", FileType::Unknown},
        {"PPTM", "TXT", FileType::Unknown},
    };
    for (const auto& [extension, tags, type] : cases)
        EXPECT_EQ(fileTypeOf(extension, tags), type) << extension << " in " << tags;
    // The extension of the file name, not of the path.
    EXPECT_EQ(fileTypeOfPath("/home/a.b/README", "TXT"), FileType::Text);
    EXPECT_EQ(fileTypeOfPath("./docs.d/x.pdf", "TXT"), FileType::Pdf);
}

TEST(PathHelpers, Table) {
    EXPECT_EQ(fileNameOf("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(fileNameOf("c.txt"), "c.txt");
    EXPECT_EQ(fileNameOf("/a/b/"), "");
    EXPECT_EQ(extensionOf("archive.tar.gz"), "GZ");
    EXPECT_EQ(extensionOf("README"), "");
    EXPECT_EQ(extensionOf("メモ.ｔｘｔ"), "ＴＸＴ");  // upper case keeps the width
    EXPECT_EQ(folderOf("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(baseNameOf("/a/b/c.d.txt"), "c.d");
}

class FinderTest : public ::testing::Test {
  protected:
    void SetUp() override { registerTextSearcher(registry); }

    std::int64_t run(const std::string& query, std::optional<std::string> folder = {}) {
        matcher = Matcher(settings.regular, settings.strict);
        matcher.targetStrsSplit(query);
        finder.emplace(SearchContext{host, settings, matcher, flags}, registry);
        std::string top = folder.value_or(tree.path());
        return finder->findInDir(top);
    }

    // "name|content|position" of every row.
    std::vector<std::string> rows() const {
        std::vector<std::string> out;
        for (const auto& row : host.rows)
            out.push_back(row.name + "|" + row.content + "|" + row.position);
        return out;
    }

    test::TempTree tree;
    app::Settings settings;
    SearcherRegistry registry;
    Matcher matcher{false, false};
    SearchFlags flags;
    test::RecordingHost host;
    std::optional<Finder> finder;
};

TEST_F(FinderTest, DispatchFollowsTheTypeTable) {
    tree.write("foo.log", "nothing");         // unknown type: only its name hits (icon 0)
    tree.write("foo.pdf", "");                // name hit with the PDF icon; no searcher
    tree.write("readme.xt", "foo");           // a tail of TXT counts
    tree.write("readme.tx", "foo");           // a head does not
    tree.write("a.docx", "foo");              // Word is off: not read as text either
    tree.write("dots.d/noextension", "foo");  // no extension, below a folder with a dot
    settings.textTags = "TXT;DOCX";
    EXPECT_EQ(run("foo"), 2);
    EXPECT_EQ(rows(), (std::vector<std::string>{"foo.log|(ファイル名にヒット)|",
                                                "foo.pdf|(ファイル名にヒット)|",
                                                "readme.xt|foo|1,1", "noextension|foo|1,1"}));
    EXPECT_EQ(host.rows[0].fileType, FileType::Unknown);
    EXPECT_EQ(host.rows[1].fileType, FileType::Pdf);
    EXPECT_EQ(host.colors[0], app::rgb(0, 0, 255));

    // Text switched off; a searcher registered for PDF runs for its files.
    settings.fileTypes.setTarget(FileType::Text, false);
    settings.fileTypes.setTarget(FileType::Pdf, true);
    int pdfs = 0;
    registry.setFileSearcher(FileType::Pdf, [&](const SearchContext&) {
        return [&](const std::string&) { return ++pdfs > 0; };
    });
    host = {};
    EXPECT_EQ(run("zzz"), 1);
    EXPECT_EQ(pdfs, 1);
    EXPECT_TRUE(host.rows.empty());
}

TEST_F(FinderTest, EmptyAndUnusableTopFoldersStopTheSearch) {
    for (const std::string& folder : {std::string(), tree.path("missing"), tree.write("f", "")}) {
        flags = {};
        host = {};
        EXPECT_EQ(run("foo", folder), 0);
        EXPECT_TRUE(flags.isAbort);
        EXPECT_TRUE(finder->folderUnusable());
        test::expectOneMessage(host,
                               folder.empty()
                                   ? "検索対象フォルダを指定してください"
                                   : "検索フォルダが無効です\r正しいフォルダを指定してください",
                               app::MessageStyle::Information);
    }
}

TEST_F(FinderTest, LinksToFoldersAreNotFollowedAndPipesAreSkipped) {
    tree.write("sub/a.txt", "foo");
    fs::create_directory_symlink(tree.root(), tree.root() / "sub" / "loop");
    fs::create_symlink(tree.root() / "sub" / "a.txt", tree.root() / "link.txt");
    ASSERT_EQ(::mkfifo(tree.path("pipe.txt").c_str(), 0600), 0);
    EXPECT_EQ(run("foo"), 2);
    EXPECT_EQ(host.rows.size(), 2u);  // the file and the link to it, once each
}

// Hidden entries, the program's own folders (data and cache) and files that are no text are
// left out unless the settings ask for them; they are not counted as searched either.
TEST_F(FinderTest, HiddenOwnAndBinaryEntriesOnlyWhenAskedFor) {
    tree.write("a.txt", "foo");
    tree.write(".b.txt", "foo");
    tree.write(".hid/c.txt", "foo");
    tree.write("data/d.txt", "foo");
    tree.write("cache/ferretta/e.txt", "foo");
    tree.write("f.txt", std::string("x\0\nfoo\n", 6));
    tree.write("g.txt", std::string("\xFF\xFE"
                                    "f\0o\0o\0",
                                    8));  // UTF-16: text
    const std::string home = std::getenv("FERRETTA_HOME") ? std::getenv("FERRETTA_HOME") : "";
    const std::string cache = std::getenv("XDG_CACHE_HOME") ? std::getenv("XDG_CACHE_HOME") : "";
    ::setenv("FERRETTA_HOME", tree.path("data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", tree.path("cache").c_str(), 1);
    const std::pair<bool, std::vector<std::string>> cases[] = {
        {false, {"a.txt|foo|1,1", "g.txt|foo|1,1"}},
        {true,
         {".b.txt|foo|1,1", "a.txt|foo|1,1", "f.txt|foo|2,1", "g.txt|foo|1,1", "c.txt|foo|1,1",
          "e.txt|foo|1,1", "d.txt|foo|1,1"}},
    };
    for (const auto& [all, expected] : cases) {
        settings.hiddenFiles = settings.binaryFiles = all;
        host = {};
        EXPECT_EQ(run("foo"), static_cast<std::int64_t>(expected.size())) << all;
        EXPECT_EQ(rows(), expected) << all;
    }
    home.empty() ? ::unsetenv("FERRETTA_HOME") : ::setenv("FERRETTA_HOME", home.c_str(), 1);
    cache.empty() ? ::unsetenv("XDG_CACHE_HOME") : ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
}

// The kernel's pseudo file systems and the folders of devices and run-time state are never
// walked: not from the root, not as the top folder.
TEST(FolderWalk, PseudoFileSystemsAreNotWalked) {
    for (const char* top : {"/proc/", "/sys/", "/proc/self/"}) {
        FolderWalk walk(top, WalkRules{});
        WalkStep step;
        std::vector<std::string> kinds;
        while (walk.next(step))
            kinds.push_back(std::to_string(static_cast<int>(step.kind)) + step.path);
        EXPECT_EQ(kinds,
                  (std::vector<std::string>{"1" + std::string(top), "5" + std::string(top)}));
    }
    std::size_t expected = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator("/")) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory() && !entry.is_symlink() && name.front() != '.' && name != "proc" &&
            name != "sys" && name != "dev" && name != "run")
            ++expected;
    }
    FolderWalk root("/", WalkRules{});
    WalkStep step;
    ASSERT_TRUE(root.next(step));
    EXPECT_EQ(step.kind, WalkStep::Kind::Folder);
    EXPECT_EQ(step.subFolders, expected);
}

TEST_F(FinderTest, StopEndsTheWalkAndUnwindsAsNestedLoopsWould) {
    // A stop after file k: the folders on the way up that still have sub-folders let events run
    // once more each, then nothing more is searched.
    tree.write("a.txt", "foo");
    tree.write("s1/b.txt", "foo");
    tree.write("s1/t/c.txt", "foo");
    tree.write("s1/u/d.txt", "foo");
    tree.write("s2/e.txt", "foo");
    // Events run after each file and before each sub-folder: a, [s1], b, [t], c, [u], d, [s2], e.
    const std::tuple<int, std::int64_t, int> cases[] = {
        {1, 1, 2},  // after a: the top still has s1, s2
        {2, 1, 2},  // before s1: the top's loop ends there
        {3, 2, 5},  // after b: s1 has t, u; the top has s2
        {5, 3, 7},  // after c: t has none; s1 has u; top has s2
        {8, 4, 8},  // before s2: nothing left anywhere
    };
    for (const auto& [stopAt, files, doEvents] : cases) {
        host = {};
        flags = {};
        host.onDoEvents = [&, stopAt = stopAt] {
            if (host.doEventsCalls == stopAt)
                flags.isAbort = true;
        };
        EXPECT_EQ(run("foo"), files) << "stop at " << stopAt;
        EXPECT_EQ(host.doEventsCalls, doEvents) << "stop at " << stopAt;
        EXPECT_TRUE(host.messages.empty());
    }
}

TEST_F(FinderTest, VanishedAndTooDeepEntriesAreSkippedAndCounted) {
    tree.write("a.txt", "foo");
    tree.write("b.txt", "foo");
    tree.write("c/d.txt", "foo");
    // Below "deep", 20 levels of 250-byte names: deeper than the longest path the system
    // accepts (4,096 bytes), so it is made level by level relative to the one before.
    const std::string level(250, 'd');
    int fd = ::open(tree.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i <= 20; ++i) {
        const char* name = i == 0 ? "deep" : level.c_str();
        ASSERT_EQ(::mkdirat(fd, name, 0700), 0);
        int next = ::openat(fd, name, O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    ::close(fd);
    // While a.txt is searched, b.txt and the folder c vanish.
    host.onDoEvents = [&] {
        if (host.doEventsCalls == 1) {
            fs::remove(tree.root() / "b.txt");
            fs::remove_all(tree.root() / "c");
        }
    };
    EXPECT_EQ(run("foo"), 1);
    EXPECT_FALSE(flags.isAbort);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(rows(), std::vector<std::string>{"a.txt|foo|1,1"});
    EXPECT_EQ(finder->unreadableCount(), 3);  // b.txt, c, and the level too deep to name
    // remove_all cannot delete what no path can name; rm walks relative to each level.
    EXPECT_EQ(std::system(("rm -rf '" + tree.path("deep") + "'").c_str()), 0);
}

}  // namespace
}  // namespace ferretta::search
