#include "run/start_up.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace ferretta::run {
namespace {

namespace fs = std::filesystem;
using test::RecordingHost;

class FolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_folder = (m_root / "folder").string();
        m_file = (m_root / "file.txt").string();
        fs::create_directory(m_folder);
        std::ofstream(m_file) << "text";
    }

    test::TempTree m_tree;
    fs::path m_root = m_tree.root();
    std::string m_folder;
    std::string m_file;
};

TEST_F(FolderTest, IsFolder) {
    fs::create_directory_symlink(m_folder, m_root / "link-to-folder");
    fs::create_symlink(m_root / "gone", m_root / "dangling");
    // A NUL inside the text would cut the path the file system sees, so "<folder>\0junk" must
    // not count as a folder: a folder name handed over by a second instance is untrusted text.
    const std::pair<std::string, bool> cases[] = {{m_folder, true},
                                                  {m_folder + "/", true},
                                                  {(m_root / "link-to-folder").string(), true},
                                                  {m_file, false},
                                                  {m_file + "/", false},
                                                  {(m_root / "missing").string(), false},
                                                  {"", false},
                                                  {(m_root / "dangling").string(), false},
                                                  {std::string(5000, 'a'), false},
                                                  {m_folder + std::string("\0junk", 5), false}};
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(isFolder(path), expected) << path;
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
        {'"' + inner + '"', inner, set + inner},  // one pair only; the inner quote stays
        {m_file, "", notFolder + m_file},
        {'"' + m_folder, "", notFolder + '"' + m_folder},
        {m_folder + '"', "", notFolder + m_folder + '"'},
        {"\"\"" + m_folder + "\"\"", "", notFolder + '"' + m_folder + '"'},
        {"", "", notFolder},
        {"\"", "", notFolder + "\""},
        {"\"\"", "", notFolder},
    };
    for (const Case& c : cases) {
        RecordingHost host;
        app::Settings settings;
        settings.dir = "/previous";
        settings.dirList = {"/previous", m_folder};
        int shown = 0;
        acceptFolderArgument(host, settings, c.argument, [&] {
            EXPECT_TRUE(host.messages.empty()) << "the window comes before the message";
            ++shown;
        });
        EXPECT_EQ(shown, 1) << c.argument;
        ASSERT_EQ(host.messages.size(), 1u) << c.argument;
        EXPECT_EQ(host.messages[0].text, c.message);
        EXPECT_TRUE(host.rows.empty()) << "no search is started";
        const bool accepted = !c.folder.empty();
        EXPECT_EQ(host.messages[0].style,
                  accepted ? app::MessageStyle::Information : app::MessageStyle::Exclamation);
        // An accepted folder goes to the front of the history, once.
        using Strings = std::vector<std::string>;
        const Strings history = !accepted              ? Strings{"/previous", m_folder, ""}
                                : c.folder == m_folder ? Strings{m_folder, "/previous", ""}
                                                       : Strings{c.folder, "/previous", m_folder};
        EXPECT_EQ(settings.dir, accepted ? c.folder : "/previous") << c.argument;
        EXPECT_EQ(Strings(settings.dirList.begin(), settings.dirList.begin() + 3), history)
            << c.argument;
    }
    // The window callback may be left out.
    RecordingHost host;
    app::Settings settings;
    acceptFolderArgument(host, settings, m_folder);
    EXPECT_EQ(settings.dir, m_folder);
    ASSERT_EQ(host.messages.size(), 1u);
}

}  // namespace
}  // namespace ferretta::run
