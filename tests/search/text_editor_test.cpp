#include "search/text_editor.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/recording_host.h"

namespace ferretta::search {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

TEST(EditorCommandTest, BuildsTheArgumentVector) {
    struct Case {
        const char* editorTemplate;
        const char* path;
        const char* position;
        std::optional<Words> argv;
    };
    const Case cases[] = {
        {"xdg-open %1", "/d/b.txt", "12,5", Words{"xdg-open", "/d/b.txt"}},
        // Without %1 the path is added as the last word.
        {"gedit", "/d/b.txt", "12,5", Words{"gedit", "/d/b.txt"}},
        {"gedit --new-window", "/d/b.txt", "12,5", Words{"gedit", "--new-window", "/d/b.txt"}},
        {"gedit +%2:%3 %1", "/d/b.txt", "12,5", Words{"gedit", "+12:5", "/d/b.txt"}},
        {"kate --line %2 --column %3 %1", "/d/b.txt", "12,5",
         Words{"kate", "--line", "12", "--column", "5", "/d/b.txt"}},
        {"gedit +%2:%3 %1", "/d/b.txt", "", Words{"gedit", "+0:0", "/d/b.txt"}},
        {"vim %1 %1", "/d/b.txt", "1,1", Words{"vim", "/d/b.txt", "/d/b.txt"}},
        // Blanks in a path never split it, quoted in the template or not.
        {"xdg-open %1", "/d/my notes.txt", "1,1", Words{"xdg-open", "/d/my notes.txt"}},
        {"\"/opt/my editor/ed\" \"%1\"", "/d/a b.txt", "1,1",
         Words{"/opt/my editor/ed", "/d/a b.txt"}},
        {"'/opt/my editor/ed' '+%2' '%1'", "/d/a.txt", "3,4",
         Words{"/opt/my editor/ed", "+3", "/d/a.txt"}},
        {"ed --file=%1", "/d/a.txt", "3,4", Words{"ed", "--file=/d/a.txt"}},
        // A placeholder inside the inserted path is not replaced again.
        {"ed %1 +%2:%3", "/d/a%2b%3.txt", "12,5", Words{"ed", "/d/a%2b%3.txt", "+12:5"}},
        {"ed %1", "/d/%1.txt", "12,5", Words{"ed", "/d/%1.txt"}},
        // A file name is never shell text.
        {"xdg-open %1", "/d/$(touch x).txt", "1,1", Words{"xdg-open", "/d/$(touch x).txt"}},
        {"xdg-open %1", "/d/a;b|c`d`'e\".txt", "1,1", Words{"xdg-open", "/d/a;b|c`d`'e\".txt"}},
        {"xdg-open %1", "/d/ファイル.txt", "1,1", Words{"xdg-open", "/d/ファイル.txt"}},
        {"\"unclosed %1", "/d/a.txt", "1,1", std::nullopt},
        {"", "/d/a.txt", "1,1", std::nullopt},
        {"   ", "/d/a.txt", "1,1", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(editorCommand(c.editorTemplate, c.path, c.position), c.argv) << c.editorTemplate;
}

class OpenInEditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ferretta-editor-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
    }
    void TearDown() override { fs::remove_all(m_folder); }

    fs::path m_folder;
};

const std::string kCannotOpen =
    "テキストエディタが開けませんでした。\rオプションでエディタパスの設定を確認してください";

TEST_F(OpenInEditorTest, EditorThatCannotStartIsReported) {
    const std::string notExecutable = (m_folder / "not-executable").string();
    std::ofstream(notExecutable) << "#!/bin/sh\n";
    const std::string templates[] = {"/nonexistent/editor %1", "ferretta-no-such-editor-on-path %1",
                                     notExecutable + " %1",    m_folder.string() + " %1",
                                     "\"unclosed %1",          ""};
    for (const std::string& editorTemplate : templates) {
        test::RecordingHost host;
        openInEditor(host, editorTemplate, "/d/a.txt", "1,1");
        ASSERT_EQ(host.messages.size(), 1u) << editorTemplate;
        EXPECT_EQ(host.messages[0].text, kCannotOpen);
        EXPECT_EQ(host.messages[0].style, app::MessageStyle::Information);
    }
}

// The editor really receives the words, and a file name full of shell syntax reaches it as
// one argument without anything being run.
TEST_F(OpenInEditorTest, EditorReceivesTheArgumentsUnexpanded) {
    const fs::path script = m_folder / "editor.sh";
    const fs::path out = m_folder / "args.txt";
    std::ofstream(script) << "#!/bin/sh\n"
                             "out=\"$1\"; shift\n"
                             "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$out.tmp\"\n"
                             "mv \"$out.tmp\" \"$out\"\n";
    fs::permissions(script, fs::perms::owner_all);
    const fs::path victim = m_folder / "pwned";
    const std::string path = "/d/x $(touch " + victim.string() + ") `touch " + victim.string() +
                             "`; touch " + victim.string() + ".txt";

    test::RecordingHost host;
    openInEditor(host, "'" + script.string() + "' '" + out.string() + "' %1 +%2 %3", path, "12,5");
    EXPECT_TRUE(host.messages.empty());

    for (int i = 0; i < 1000 && !fs::exists(out); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(out)) << "the editor did not run";
    std::ifstream in(out);
    std::vector<std::string> received;
    for (std::string line; std::getline(in, line);)
        received.push_back(line);
    EXPECT_EQ(received, (Words{path, "+12", "5"}));
    EXPECT_FALSE(fs::exists(victim));
    EXPECT_FALSE(fs::exists(victim.string() + ".txt"));
}

}  // namespace
}  // namespace ferretta::search
