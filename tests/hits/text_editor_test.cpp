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
        const EditorTemplate editor =
            editorForDesktopEntry(entry, [](std::string_view) { return true; });
        EXPECT_EQ(editorCommand(editor.command, "/d/a b.txt", "12,5"), argv) << entry;
    }
    EXPECT_EQ(editorForDesktopEntry("gedit", [](std::string_view) { return false; }).command,
              "xdg-open %1");
}

// The search reports the byte of the line's CP932 form; each editor is told its own count.
TEST(EditorColumnTest, TheHitsByteColumnInEachEditorsCount) {
    struct Case {
        const char* line;
        std::int64_t ansiColumn;
        std::int64_t characters, columnsFromZero, utf8BytesFromZero;
    };
    const Case cases[] = {
        {"abc ferretta", 5, 5, 4, 4},
        {"日本語 ferretta", 8, 5, 4, 10},  // three double-byte characters and a blank
        {"ｱｲｳ ferretta", 5, 5, 4, 10},     // half-width katakana: one CP932 byte each
        {"\t\tx", 3, 3, 16, 2},            // mousepad expands tabs to the next multiple of 8
        {"a😀b", 3, 3, 2, 5},               // no CP932 form: one '?' byte
        {"日本", 99, 3, 2, 6},             // past the end: the end
        {"日本", 0, 1, 0, 0},
    };
    for (const Case& c : cases) {
        const std::pair<ColumnCount, std::int64_t> counts[] = {
            {ColumnCount::Characters, c.characters},
            {ColumnCount::ColumnsFromZero, c.columnsFromZero},
            {ColumnCount::Utf8BytesFromZero, c.utf8BytesFromZero},
            {ColumnCount::AnsiBytes, c.ansiColumn}};
        for (const auto& [count, expected] : counts)
            EXPECT_EQ(editorColumn(c.line, c.ansiColumn, count), expected)
                << c.line << ", count " << static_cast<int>(count);
    }
}

TEST(EditorArgumentsTest, AKnownEditorGetsItsColumnAndTheEncodingOfACp932File) {
    const auto mousepad =
        editorForDesktopEntry("org.xfce.mousepad.desktop", [](std::string_view) { return true; });
    const auto kate = editorForDesktopEntry("org.kde.kate", [](std::string_view) { return true; });
    struct Case {
        const EditorTemplate& editor;
        const char* position;
        bool cp932;
        Words argv;
    };
    const EditorTemplate user{"ed +%2:%3 %1", ColumnCount::AnsiBytes, ""};
    const Case cases[] = {
        // clang-format off
        {mousepad, "2,13", true,
         {"mousepad", "--encoding=SHIFT_JIS", "--line", "2", "--column", "6", "/d/a.txt"}},
        {mousepad, "2,13", false, {"mousepad", "--line", "2", "--column", "6", "/d/a.txt"}},
        {kate, "2,13", true,
         {"kate", "--encoding", "Shift_JIS", "--line", "2", "--column", "7", "/d/a.txt"}},
        // A user's own template keeps the byte column and gets no option of ours.
        {user, "2,13", true, {"ed", "+2:13", "/d/a.txt"}},
        // A hit on the file name has no position.
        {mousepad, "", false, {"mousepad", "--line", "0", "--column", "0", "/d/a.txt"}},
        // clang-format on
    };
    for (const Case& c : cases) {
        EXPECT_EQ(editorArguments(c.editor, "/d/a.txt", c.position, "見積書の合計が違う", c.cp932),
                  c.argv)
            << c.editor.command << " " << c.position;
    }
}

TEST(Cp932TextFileTest, DecidedByTheFirstNonAsciiBytesAsTheSearchDoes) {
    const test::TempTree tree;
    const std::pair<std::string, bool> cases[] = {
        {"\x8c\xa9\x90\xcf\x8f\x91\r\n", true},  // 見積書 in CP932
        {"見積書\n", false},
        {"\xef\xbb\xbf\x8c\xa9", false},  // a byte-order mark decides
        {"ascii only\n", false},
    };
    for (const auto& [bytes, cp932] : cases) {
        tree.write("f.txt", bytes);
        EXPECT_EQ(isCp932TextFile(tree.root() / "f.txt"), cp932) << bytes;
    }
    EXPECT_FALSE(isCp932TextFile(tree.root() / "missing.txt"));
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
