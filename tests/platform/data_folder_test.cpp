#include "platform/data_folder.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <utility>

#include "support/temp_tree.h"

namespace ferretta::platform {
namespace {

namespace fs = std::filesystem;

// The test program's environment is its own: the variables are set without being restored.
TEST(DataFolderTest, FerrettaHomeWinsElseWritableExecutableFolderElseXdg) {
    EXPECT_TRUE(executableFolder().is_absolute());
    EXPECT_TRUE(fs::exists(executableFolder() / "data_folder_test"));

    const test::TempTree root;
    const fs::path home = root.root() / "deep" / "settings";
    ::setenv("FERRETTA_HOME", home.c_str(), 1);
    EXPECT_EQ(dataFolder(), home);
    EXPECT_TRUE(fs::is_directory(home));  // created

    // A relative value is taken from the current folder at start-up.
    ::setenv("FERRETTA_HOME", "relative-home", 1);
    EXPECT_EQ(dataFolder(), fs::current_path() / "relative-home");
    fs::remove(fs::current_path() / "relative-home");

    ::setenv("FERRETTA_HOME", "", 1);  // empty counts as unset
    ::setenv("XDG_CONFIG_HOME", root.path("xdg").c_str(), 1);
    // Builds and tests run from a writable tree; an installed copy would use the XDG place.
    const bool writable = ::access(executableFolder().c_str(), W_OK) == 0;
    EXPECT_EQ(dataFolder(), writable ? executableFolder() : root.root() / "xdg" / "ferretta");
}

TEST(DataFolderTest, OnlyAProgramOutsideTheSystemFoldersKeepsItsDataBesideIt) {
    const std::pair<const char*, bool> cases[] = {
        {"/usr/bin", true},
        {"/usr/local/bin", true},
        {"/opt/ferretta/bin", true},
        {"/usr", true},
        {"/usr/../home/a", false},
        {"/usrlocal/bin", false},
        {"/home/a/ferretta", false},
        {"/optical/bin", false},
        {"/tmp/x/../../usr/bin", true},
    };
    for (const auto& [folder, system] : cases)
        EXPECT_EQ(isSystemProgramFolder(folder), system) << folder;
}

TEST(DataFolderTest, DataFilePrefersBesideExecutableThenShare) {
    const std::string name = "ferretta_data_folder_test_" + std::to_string(::getpid()) + ".txt";
    const fs::path beside = executableFolder() / name;
    const fs::path shareFolder =
        (executableFolder() / ".." / "share" / "ferretta").lexically_normal();
    const bool shareExisted = fs::exists(shareFolder);

    EXPECT_EQ(findDataFile(name), beside);  // neither exists: the place beside the program
    fs::create_directories(shareFolder);
    std::ofstream(shareFolder / name) << "share";
    EXPECT_EQ(findDataFile(name), shareFolder / name);
    std::ofstream(beside) << "beside";
    EXPECT_EQ(findDataFile(name), beside);

    fs::remove(beside);
    fs::remove(shareFolder / name);
    if (!shareExisted) {
        std::error_code ignored;  // left in place when something else is there
        fs::remove(shareFolder, ignored);
        fs::remove(shareFolder.parent_path(), ignored);
    }
}

}  // namespace
}  // namespace ferretta::platform
