#include "hits/results_file.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace ferretta::hits {
namespace {

namespace fs = std::filesystem;
using app::Hit;
using app::MessageStyle;
using test::RecordingHost;

const std::string kSaved = "検索結果が保存されました";
const std::string kFailed = "検索結果の保存に失敗しました";
const std::string kExists = "は既に存在します。上書きしますか？";

Hit hit(std::string name, std::string content, std::string location, std::string position) {
    return Hit{app::FileType::Text, std::move(name), std::move(content), std::move(location),
               std::move(position)};
}

TEST(ResultLineTest, FourQuotedFieldsInColumnOrder) {
    // Quotes and commas inside a text are written as they are: the line then has more than
    // eight quotes, as saved lists always had.
    const std::pair<Hit, const char*> cases[] = {
        {hit("a.txt", "hello", "/d/a.txt", "12,5"), R"("a.txt","hello","/d/a.txt","12,5")"},
        {hit("", "", "", ""), R"("","","","")"},
        {hit("q.txt", R"(say "hi", then go)", "/d/q.txt", "1,1"),
         R"("q.txt","say "hi", then go","/d/q.txt","1,1")"},
        {hit("book.xls[Sheet1]", "(ファイル名にヒット)", "/d/book.xls", ""),
         R"x("book.xls[Sheet1]","(ファイル名にヒット)","/d/book.xls","")x"},
        // A line break in a name stays inside its line.
        {hit("a\nb\r.txt", "x", "/d/a\nb\r.txt", "1,1"),
         R"("a\nb\r.txt","x","/d/a\nb\r.txt","1,1")"}};
    for (const auto& [row, line] : cases)
        EXPECT_EQ(resultLine(row), line);

    // A name in CP932 itself (no valid UTF-8) keeps its bytes, also inside a UTF-8 path.
    const std::vector<Hit> rows = {hit("メモ.txt", "ｶﾀｶﾅ漢字", "/d", "1,3"),
                                   hit("b", "😀", "", ""),  // no CP932 form: one '?'
                                   hit("\x83\x81.txt", "x", "/d/検索/\x83\x81.txt", "")};
    EXPECT_EQ(resultFileBytes(rows),
              "\"\x83\x81\x83\x82.txt\",\"\xb6\xc0\xb6\xc5\x8a\xbf\x8e\x9a\",\"/d\",\"1,3\"\r\n"
              "\"b\",\"?\",\"\",\"\"\r\n"
              "\"\x83\x81.txt\",\"x\",\"/d/\x8c\x9f\x8d\xf5/\x83\x81.txt\",\"\"\r\n");
    EXPECT_EQ(resultFileBytes({}), "");
}

class SaveResultsTest : public ::testing::Test {
  protected:
    // The names in the folder: a save must leave no temporary file behind.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(m_folder))
            out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    static void expectMessage(const RecordingHost& host, const std::string& text) {
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].text, text);
        EXPECT_EQ(host.messages[0].style,
                  text == kSaved ? MessageStyle::Information : MessageStyle::Exclamation);
    }

    const std::vector<Hit> m_rows = {hit("a.txt", "一行目", "/d/a.txt", "1,1"),
                                     hit("b.txt", "say \"x\"", "/d/b.txt", "2,7")};
    test::TempTree m_tree;
    fs::path m_folder = m_tree.root();
};

// The temporary file must not be named after the target plus a suffix, or a valid name longer
// than 239 bytes (80 Japanese characters in UTF-8) could not be saved at all.
TEST_F(SaveResultsTest, NewFileIsWrittenWithoutAQuestion) {
    const std::string longName = std::string(250, 'a') + ".csv";
    ASSERT_TRUE(std::ofstream(m_folder / longName).good()) << "the file system refuses the name";
    fs::remove(m_folder / longName);
    const std::pair<std::string, std::vector<Hit>> cases[] = {
        {"results.csv", m_rows}, {"empty.csv", {}}, {longName, m_rows}};
    for (const auto& [name, rows] : cases) {
        RecordingHost host;
        EXPECT_TRUE(saveResults(host, m_folder / name, rows));
        EXPECT_TRUE(fs::exists(m_folder / name));
        EXPECT_EQ(test::readFile(m_folder / name), resultFileBytes(rows));
        EXPECT_TRUE(host.questions.empty());
        expectMessage(host, kSaved);
    }
    EXPECT_EQ(names(), (std::vector<std::string>{longName, "empty.csv", "results.csv"}));
}

TEST_F(SaveResultsTest, ExistingFileIsReplacedOnlyWhenAnsweredYes) {
    const fs::path path = m_folder / "results.csv";
    test::writeFile(path,
                    std::string(10000, 'x'));  // longer than the new content: nothing may remain
    ::chmod(path.c_str(), 0600);
    RecordingHost host;
    host.answers = {false, true};
    EXPECT_FALSE(saveResults(host, path, m_rows));
    EXPECT_EQ(test::readFile(path), std::string(10000, 'x'));
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.questions[0].text, path.string() + "\r" + kExists);
    EXPECT_EQ(host.questions[0].style, MessageStyle::Information);
    EXPECT_TRUE(host.messages.empty());

    EXPECT_TRUE(saveResults(host, path, m_rows));
    EXPECT_EQ(test::readFile(path), resultFileBytes(m_rows));
    EXPECT_EQ(host.questions.size(), 2u);
    expectMessage(host, kSaved);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0600));
    EXPECT_EQ(names(), std::vector<std::string>{"results.csv"});
}

TEST_F(SaveResultsTest, SymbolicLinkIsWrittenThrough) {
    fs::create_directory(m_folder / "real");
    test::writeFile(m_folder / "real" / "target.csv", "old");
    // A relative link, resolved from the link's folder, not from the current one.
    fs::create_symlink("real/target.csv", m_folder / "link.csv");
    RecordingHost host;
    host.answers = {true};
    EXPECT_TRUE(saveResults(host, m_folder / "link.csv", m_rows));
    EXPECT_TRUE(fs::is_symlink(m_folder / "link.csv"));
    EXPECT_EQ(test::readFile(m_folder / "real" / "target.csv"), resultFileBytes(m_rows));
    EXPECT_EQ(names(), (std::vector<std::string>{"link.csv", "real"}));
}

TEST_F(SaveResultsTest, UnwritablePathsReportTheFailure) {
    fs::create_directory(m_folder / "a-folder");
    test::writeFile(m_folder / "a-folder" / "inside", "kept");
    test::writeFile(m_folder / "plain-file", "kept");
    // An existing path is asked about first (and answered Yes).
    const std::pair<fs::path, bool> cases[] = {{m_folder / "missing" / "results.csv", false},
                                               {m_folder / "a-folder", true},
                                               {m_folder / "plain-file" / "results.csv", false},
                                               {"", false}};
    for (const auto& [path, asked] : cases) {
        RecordingHost host;
        host.answers = {true};
        EXPECT_FALSE(saveResults(host, path, m_rows)) << path;
        EXPECT_EQ(host.questions.size(), asked ? 1u : 0u) << path;
        expectMessage(host, kFailed);
    }
    EXPECT_EQ(test::readFile(m_folder / "a-folder" / "inside"), "kept");
    EXPECT_EQ(test::readFile(m_folder / "plain-file"), "kept");
    EXPECT_EQ(names(), (std::vector<std::string>{"a-folder", "plain-file"}));
}

// A write that fails half-way (here: the file-size limit, which binds root too) reports the
// failure and leaves the old file as it was. Run in a child so the limit binds no one else.
TEST_F(SaveResultsTest, FailedWriteLeavesTheOldFile) {
    const fs::path path = m_folder / "results.csv";
    test::writeFile(path, "old content");
    std::vector<Hit> rows(2000, hit("big.txt", std::string(1000, 'x'), "/d/big.txt", "1,1"));

    pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        RecordingHost host;
        host.answers = {true};
        bool saved = saveResults(host, path, rows);
        bool told = host.messages.size() == 1 && host.messages[0].text == kFailed &&
                    host.messages[0].style == MessageStyle::Exclamation;
        ::_exit(saved ? 1 : told ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported as saved; 2: wrong or no message";
    EXPECT_EQ(test::readFile(path), "old content");
    EXPECT_EQ(names(), std::vector<std::string>{"results.csv"});
}

}  // namespace
}  // namespace ferretta::hits
