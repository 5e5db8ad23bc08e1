#include "hits/text_editor.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/recording_host.h"
#include "support/temp_tree.h"
#include "support/wait.h"

namespace ferretta::hits {
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
        {"gedit +%2:%3 %1", "/d/b.txt", "", Words{"gedit", "+0:0", "/d/b.txt"}},
        // Blanks in a path never split it, quoted in the template or not.
        {"xdg-open %1", "/d/my notes.txt", "1,1", Words{"xdg-open", "/d/my notes.txt"}},
        {"'/opt/my editor/ed' '+%2' '%1'", "/d/a.txt", "3,4",
         Words{"/opt/my editor/ed", "+3", "/d/a.txt"}},
        // A placeholder inside the inserted path is not replaced again.
        {"ed %1 +%2:%3", "/d/a%2b%3.txt", "12,5", Words{"ed", "/d/a%2b%3.txt", "+12:5"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(editorCommand(c.editorTemplate, c.path, c.position), c.argv) << c.editorTemplate;
}

// The desktop's default text editor in its own syntax for line and column; anything unknown or
// not installed (a Flatpak's entry) opens with the desktop's opener, without a line.
TEST(EditorForDesktopEntryTest, KnowsTheCommonEditors) {
    const std::pair<const char*, Words> cases[] = {
        {"org.gnome.gedit.desktop", {"gedit", "+12:5", "/d/a b.txt"}},
        {"org.kde.kate.desktop", {"kate", "--line", "12", "--column", "5", "/d/a b.txt"}},
        {"code.desktop", {"code", "-g", "/d/a b.txt:12:5"}},
        {"libreoffice-writer.desktop", {"xdg-open", "/d/a b.txt"}},
    };
    for (const auto& [entry, argv] : cases) {
        const std::string editor =
            editorForDesktopEntry(entry, [](std::string_view) { return true; });
        EXPECT_EQ(editorCommand(editor, "/d/a b.txt", "12,5"), argv) << entry;
    }
    EXPECT_EQ(editorForDesktopEntry("gedit", [](std::string_view) { return false; }),
              "xdg-open %1");
}

class OpenInEditorTest : public ::testing::Test {
  protected:
    test::TempTree m_tree;
    fs::path m_folder = m_tree.root();
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
        SCOPED_TRACE(editorTemplate);
        test::expectOneMessage(host, kCannotOpen, app::MessageStyle::Information);
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

    ASSERT_TRUE(test::waitUntil([&] { return fs::exists(out); }, std::chrono::seconds(10)))
        << "the editor did not run";
    std::ifstream in(out);
    std::vector<std::string> received;
    for (std::string line; std::getline(in, line);)
        received.push_back(line);
    EXPECT_EQ(received, (Words{path, "+12", "5"}));
    EXPECT_FALSE(fs::exists(victim));
    EXPECT_FALSE(fs::exists(victim.string() + ".txt"));
}

}  // namespace
}  // namespace ferretta::hits
