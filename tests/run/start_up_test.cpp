#include "run/start_up.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/recording_host.h"
#include "support/temp_tree.h"

namespace ferretta::run {
namespace {

namespace fs = std::filesystem;
using test::RecordingHost;

// The argument a second instance hands over is untrusted text: only an existing folder (or a
// link to one) is taken, and a NUL inside, which would cut the path the system sees, makes
// none of "<folder>\0junk".
TEST(FolderTest, AcceptFolderArgument) {
    const test::TempTree tree;
    const fs::path root = tree.root();
    const std::string dir = (root / "folder").string();
    const std::string file = tree.write("file.txt", "text");
    fs::create_directory(dir);
    fs::create_directory_symlink(dir, root / "link-to-folder");
    fs::create_symlink(root / "gone", root / "dangling");
    const std::string link = (root / "link-to-folder").string();
    fs::create_directory(root / "with blank");
    fs::create_directory(root / "in\"side");
    const std::string blank = (root / "with blank").string();
    const std::string inner = (root / "in\"side").string();
    const std::string set = "検索対象フォルダを設定しました\r";
    const std::string notFolder = "渡された文字列はフォルダ名ではありません\r";

    struct Case {
        std::string argument;
        std::string folder;  // the new search folder; empty: not a folder
        std::string message;
    };
    std::vector<Case> cases = {
        {dir, dir, set + dir},
        {'"' + dir + '"', dir, set + dir},
        {'"' + blank + '"', blank, set + blank},
        {dir + "/", dir + "/", set + dir + "/"},
        {'"' + inner + '"', inner, set + inner},  // one pair only; the inner quote stays
        {link, link, set + link},
        {'"' + dir, "", notFolder + '"' + dir},
        {dir + '"', "", notFolder + dir + '"'},
        {"\"\"" + dir + "\"\"", "", notFolder + '"' + dir + '"'},
        {"", "", notFolder},
        {"\"", "", notFolder + "\""},
        {"\"\"", "", notFolder},
    };
    for (const std::string& none :
         {file, file + "/", (root / "missing").string(), (root / "dangling").string(),
          dir + std::string("\0junk", 5), std::string(5000, 'a')})
        cases.push_back({none, "", notFolder + none});
    for (const Case& c : cases) {
        RecordingHost host;
        app::Settings settings;
        settings.dir = "/previous";
        settings.dirList = {"/previous", dir};
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
        const Strings history = !accepted         ? Strings{"/previous", dir, ""}
                                : c.folder == dir ? Strings{dir, "/previous", ""}
                                                  : Strings{c.folder, "/previous", dir};
        EXPECT_EQ(settings.dir, accepted ? c.folder : "/previous") << c.argument;
        EXPECT_EQ(Strings(settings.dirList.begin(), settings.dirList.begin() + 3), history)
            << c.argument;
    }
    // The window callback may be left out.
    RecordingHost host;
    app::Settings settings;
    acceptFolderArgument(host, settings, dir);
    EXPECT_EQ(settings.dir, dir);
    ASSERT_EQ(host.messages.size(), 1u);
}

}  // namespace
}  // namespace ferretta::run
