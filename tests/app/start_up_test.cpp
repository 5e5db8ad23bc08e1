#include "app/start_up.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/recording_host.h"

namespace ferretta::app {
namespace {

namespace fs = std::filesystem;
using test::RecordingHost;

TEST(RemoveNewlinesTest, RemovesEveryCarriageReturnAndLineFeed) {
    struct Case {
        std::string_view text;
        std::string_view expected;
    };
    const Case cases[] = {
        {"a\rb\r\nc\nd", "abcd"},
        {"", ""},
        {"abc", "abc"},
        {"\r\n\r\n", ""},
        {"\n\ra\n", "a"},
        {"日本\r\n語", "日本語"},
        {"tab\tand blank stay", "tab\tand blank stay"},
        {std::string_view("nul\0kept\r", 9), std::string_view("nul\0kept", 8)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(removeNewlines(c.text), c.expected);
    }
}

class FolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ferretta-startup-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        m_folder = (m_root / "folder").string();
        m_file = (m_root / "file.txt").string();
        fs::create_directory(m_folder);
        std::ofstream(m_file) << "text";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }

    fs::path m_root;
    std::string m_folder;
    std::string m_file;
};

TEST_F(FolderTest, IsFolder) {
    fs::create_directory_symlink(m_folder, m_root / "link-to-folder");
    fs::create_symlink(m_root / "gone", m_root / "dangling");
    struct Case {
        std::string path;
        bool expected;
    };
    const Case cases[] = {
        {m_folder, true},
        {m_folder + "/", true},
        {m_root.string(), true},
        {"/", true},
        {m_file, false},
        {m_file + "/", false},
        {(m_root / "missing").string(), false},
        {"", false},
        {(m_root / "link-to-folder").string(), true},
        {(m_root / "dangling").string(), false},
        {std::string(5000, 'a'), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isFolder(c.path), c.expected) << c.path;
    }
}

// A NUL inside the text would cut the path the file system sees, so "<folder>\0junk" must not
// count as a folder. A folder name handed over by a second instance is untrusted text.
TEST_F(FolderTest, TextWithNulIsNoFolder) {
    std::string withNul = m_folder;
    withNul += '\0';
    withNul += "junk";
    EXPECT_FALSE(isFolder(withNul));
}

TEST_F(FolderTest, AcceptFolderArgument) {
    fs::create_directory(m_root / "with blank");
    fs::create_directory(m_root / "in\"side");
    const std::string blank = (m_root / "with blank").string();
    const std::string inner = (m_root / "in\"side").string();
    const std::string set = "検索対象フォルダを設定しました\r";
    const std::string notFolder = "渡された文字列はフォルダ名ではありません\r";

    struct Case {
        std::string argument;
        std::string folder;  // the new search folder; empty: not a folder
        std::string message;
    };
    const Case cases[] = {
        {m_folder, m_folder, set + m_folder},
        {'"' + m_folder + '"', m_folder, set + m_folder},
        {'"' + blank + '"', blank, set + blank},
        {m_folder + "/", m_folder + "/", set + m_folder + "/"},
        {inner, inner, set + inner},
        {'"' + inner + '"', inner, set + inner},  // one pair only; the inner quote stays
        {m_file, "", notFolder + m_file},
        {'"' + m_file + '"', "", notFolder + m_file},
        {'"' + m_folder, "", notFolder + '"' + m_folder},
        {m_folder + '"', "", notFolder + m_folder + '"'},
        {"\"\"" + m_folder + "\"\"", "", notFolder + '"' + m_folder + '"'},
        {"", "", notFolder},
        {"\"", "", notFolder + "\""},
        {"\"\"", "", notFolder},
        {(m_root / "missing").string(), "", notFolder + (m_root / "missing").string()},
    };
    for (const Case& c : cases) {
        RecordingHost host;
        Settings settings;
        settings.dir = "/previous";
        settings.dirList[0] = "/previous";
        settings.dirList[1] = m_folder;
        int shown = 0;
        acceptFolderArgument(host, settings, c.argument, [&] {
            EXPECT_TRUE(host.messages.empty()) << "the window comes before the message";
            ++shown;
        });

        EXPECT_EQ(shown, 1) << c.argument;
        ASSERT_EQ(host.messages.size(), 1u) << c.argument;
        EXPECT_EQ(host.messages[0].text, c.message);
        if (c.folder.empty()) {
            EXPECT_EQ(host.messages[0].style, MessageStyle::Exclamation) << c.argument;
            EXPECT_EQ(settings.dir, "/previous");
            EXPECT_EQ(settings.dirList[0], "/previous");
            EXPECT_EQ(settings.dirList[1], m_folder);
        } else {
            EXPECT_EQ(host.messages[0].style, MessageStyle::Information) << c.argument;
            EXPECT_EQ(settings.dir, c.folder);
            EXPECT_EQ(settings.dirList[0], c.folder);
            EXPECT_EQ(settings.dirList[1], "/previous");
        }
        EXPECT_TRUE(host.rows.empty()) << "no search is started";
    }
}

TEST_F(FolderTest, AcceptFolderArgumentWithoutWindowCallback) {
    RecordingHost host;
    Settings settings;
    acceptFolderArgument(host, settings, m_folder);
    EXPECT_EQ(settings.dir, m_folder);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].style, MessageStyle::Information);
}

TEST_F(FolderTest, AcceptingAKnownFolderMovesItToTheFront) {
    RecordingHost host;
    Settings settings;
    settings.dirList = {"/a", m_folder, "/b"};
    acceptFolderArgument(host, settings, '"' + m_folder + '"');
    EXPECT_EQ(settings.dirList[0], m_folder);
    EXPECT_EQ(settings.dirList[1], "/a");
    EXPECT_EQ(settings.dirList[2], "/b");
    EXPECT_EQ(settings.dirList[3], "");
}

}  // namespace
}  // namespace ferretta::app
