// ferretta-cli end to end: the program is run on folders made here.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/cli/cli_options.h"
#include "platform/cp932.h"

namespace ferretta::app::cli {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() /
                 ("ferretta-cli-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root / "data");
        fs::create_directories(m_root / "home");
    }
    void TearDown() override { fs::remove_all(m_root); }

    void write(const std::string& relative, const std::string& bytes) {
        fs::path file = m_root / "data" / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
    }

    CliRun run(const std::string& arguments) {
        CliRun result;
        const std::string command = "FERRETTA_HOME=" + quote((m_root / "home").string()) +
                                    " " FERRETTA_CLI_PATH " " + arguments + " >" +
                                    quote((m_root / "out").string()) + " 2>" +
                                    quote((m_root / "err").string());
        int status = std::system(command.c_str());
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = slurp(m_root / "out");
        result.err = slurp(m_root / "err");
        return result;
    }

    std::string folder() const { return quote((m_root / "data").string()); }
    std::string path(const std::string& relative) const {
        return (m_root / "data" / relative).string();
    }

    fs::path m_root;
};

TEST_F(CliTest, AndQueryReportsPositionOfFirstWord) {
    write("a.txt", "bar foo\nfoo\n");
    CliRun r = run(folder() + " '&& foo bar'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\"a.txt\",\"bar foo\",\"" + path("a.txt") + "\",\"1,5\"\n");
    EXPECT_NE(r.err.find("1ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、1件ヒットしました。"), std::string::npos) << r.err;
}

TEST_F(CliTest, ColumnsCountShiftJisBytes) {
    write("k.txt", platform::utf8ToCp932("漢字列abc\r\n"));
    CliRun r = run(folder() + " abc");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\"k.txt\",\"漢字列abc\",\"" + path("k.txt") + "\",\"1,7\"\n");
}

TEST_F(CliTest, SuffixExtensionAndFileNameHit) {
    write("readme.xt", "needle\n");
    write("readme.tx", "needle\n");
    write("needle.dat", "");
    CliRun r = run(folder() + " needle");
    EXPECT_EQ(r.status, 0);
    const std::string expected = "\"needle.dat\",\"(ファイル名にヒット)\",\"" + path("needle.dat") +
                                 "\",\"\"\n" + "\"readme.xt\",\"needle\",\"" + path("readme.xt") +
                                 "\",\"1,1\"\n";
    EXPECT_EQ(r.out, expected);
}

TEST_F(CliTest, AnsiOutputIsTheSavedFileForm) {
    write("a.txt", platform::utf8ToCp932("全角ＡＢＣ\r\n"));
    CliRun r = run("--ansi " + folder() + " abc");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              platform::utf8ToCp932("\"a.txt\",\"全角ＡＢＣ\",\"" + path("a.txt") + "\",\"1,5\"") +
                  "\r\n");
}

TEST_F(CliTest, OptionsOverrideSettings) {
    write("a.txt", "ABC\n");
    write("b.csv", "abc\n");
    write("sub/c.txt", "abc\n");
    EXPECT_EQ(run("--strict " + folder() + " abc").out.find("a.txt"), std::string::npos);
    CliRun tags = run("--text-tags=csv --no-subfolders " + folder() + " abc");
    EXPECT_EQ(tags.out, "\"b.csv\",\"abc\",\"" + path("b.csv") + "\",\"1,1\"\n");
    CliRun regex = run("--regex " + folder() + " " + quote("^a.C$"));
    EXPECT_NE(regex.out.find("a.txt"), std::string::npos);
    CliRun names = run("--name-only " + folder() + " b");
    EXPECT_EQ(names.out, "\"b.csv\",\"(ファイル名にヒット)\",\"" + path("b.csv") + "\",\"\"\n");
}

TEST_F(CliTest, SettingsFileIsRead) {
    write("a.log", "needle\n");
    std::ofstream(m_root / "home" / "frtta.ini")
        << "[Search]\r\ntextTags=LOG\r\ntargetFileType1=True\r\n";
    CliRun r = run(folder() + " needle");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("a.log"), std::string::npos);
    // The command-line tool never writes the settings file.
    EXPECT_EQ(slurp(m_root / "home" / "frtta.ini"),
              "[Search]\r\ntextTags=LOG\r\ntargetFileType1=True\r\n");
}

TEST_F(CliTest, ExitStatus) {
    write("a.txt", "x\n");
    EXPECT_EQ(run(folder() + " nothing").status, 1);
    CliRun missing = run(quote((m_root / "nope").string()) + " x");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("検索フォルダが無効です"), std::string::npos);
    CliRun badRegex = run("--regex " + folder() + " '('");
    EXPECT_EQ(badRegex.status, 2);
    EXPECT_NE(badRegex.err.find("invalid regular expression"), std::string::npos);
    EXPECT_EQ(run(folder() + " ''").status, 2);
    EXPECT_EQ(run("--bogus " + folder() + " x").status, 2);
    EXPECT_EQ(run("--types=nonsense " + folder() + " x").status, 2);
    EXPECT_EQ(run("--help").status, 0);
}

TEST(CliOptions, Parse) {
    auto ok =
        parseCliOptions({"--strict", "--types=text,pdf", "--text-tags=txt;ｃｓｖ", "dir", "q w"});
    ASSERT_TRUE(ok.options);
    EXPECT_TRUE(ok.options->strict);
    EXPECT_EQ(ok.options->folder, "dir");
    EXPECT_EQ(ok.options->query, "q w");
    ASSERT_TRUE(ok.options->types);
    EXPECT_EQ(*ok.options->types, (std::vector<int>{1, 13}));
    Settings settings;
    applyCliOptions(*ok.options, settings);
    EXPECT_EQ(settings.textTags, "TXT;CSV");
    EXPECT_TRUE(settings.fileTypes.targetFileType[13]);
    EXPECT_FALSE(settings.fileTypes.targetFileType[2]);

    EXPECT_FALSE(parseCliOptions({"only-one"}).options);
    EXPECT_FALSE(parseCliOptions({"a", "b", "c"}).options);
    auto dashed = parseCliOptions({"--", "--strict", "q"});
    ASSERT_TRUE(dashed.options);
    EXPECT_EQ(dashed.options->folder, "--strict");
}

}  // namespace
}  // namespace ferretta::app::cli
