#include "platform/work_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "support/temp_tree.h"

namespace ferretta::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Only a folder that no process holds and that has not changed for a minute is a dead run's.
TEST(WorkFolderTest, OnlyDeadRunsFoldersAreClearedAway) {
    const test::TempTree tree;
    const fs::path parent = tree.root() / "work";
    auto live = WorkFolder::make(parent);
    ASSERT_TRUE(live);
    struct stat info {};
    ASSERT_EQ(::stat(live->path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    test::writeFile(live->path() / "sub" / "x.txt", "x");
    const fs::path dead = parent / "run-dead01";
    const fs::path young = parent / "run-young1";
    const fs::path other = parent / "someone-else";
    for (const fs::path& folder : {dead, young, other})
        test::writeFile(folder / "x.txt", "x");
    const auto longAgo = fs::file_time_type::clock::now() - 2min;
    for (const fs::path& folder : {live->path(), dead, other})
        fs::last_write_time(folder, longAgo);

    removeStaleWorkFolders(parent);
    EXPECT_TRUE(fs::exists(live->path() / "sub" / "x.txt"));
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(young));
    EXPECT_TRUE(fs::exists(other));

    EXPECT_TRUE(live->clear());
    EXPECT_TRUE(fs::is_empty(live->path()));
    const fs::path made = live->path();
    live.reset();
    EXPECT_FALSE(fs::exists(made));
    removeStaleWorkFolders(tree.root() / "missing");
}

}  // namespace
}  // namespace ferretta::platform
