#include "platform/data_folder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace ferretta::platform {
namespace {

namespace fs = std::filesystem;

// Sets or unsets (nullptr) an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        set(value);
    }
    ~ScopedEnv() { set(m_old ? m_old->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void set(const char* value) { value ? setenv(m_name, value, 1) : unsetenv(m_name); }
    const char* m_name;
    std::optional<std::string> m_old;
};

fs::path uniqueTempFolder(const std::string& tag) {
    return fs::temp_directory_path() /
           ("ferretta_data_folder_test_" + tag + "_" + std::to_string(getpid()));
}

TEST(DataFolderTest, FerrettaHomeWinsElseWritableExecutableFolderElseXdg) {
    EXPECT_TRUE(executableFolder().is_absolute());
    EXPECT_TRUE(fs::exists(executableFolder() / "data_folder_test"));

    const fs::path root = uniqueTempFolder("home");
    fs::remove_all(root);
    const fs::path home = root / "deep" / "settings";
    {
        ScopedEnv env("FERRETTA_HOME", home.c_str());
        EXPECT_EQ(dataFolder(), home);
        EXPECT_TRUE(fs::is_directory(home));  // created
    }
    {
        // A relative value is taken from the current folder at start-up.
        ScopedEnv env("FERRETTA_HOME", "relative-home");
        EXPECT_EQ(dataFolder(), fs::current_path() / "relative-home");
        fs::remove(fs::current_path() / "relative-home");
    }
    ScopedEnv empty("FERRETTA_HOME", "");  // empty counts as unset
    ScopedEnv config("XDG_CONFIG_HOME", (root / "xdg").c_str());
    // Builds and tests run from a writable tree; an installed copy would use the XDG place.
    const bool writable = access(executableFolder().c_str(), W_OK) == 0;
    EXPECT_EQ(dataFolder(), writable ? executableFolder() : root / "xdg" / "ferretta");
    fs::remove_all(root);
}

TEST(DataFolderTest, DataFilePrefersBesideExecutableThenShare) {
    const std::string name = "ferretta_data_folder_test_" + std::to_string(getpid()) + ".txt";
    const fs::path beside = executableFolder() / name;
    const fs::path shareFolder =
        (executableFolder() / ".." / "share" / "ferretta").lexically_normal();
    const fs::path shared = shareFolder / name;
    const bool shareExisted = fs::exists(shareFolder);

    EXPECT_EQ(findDataFile(name), beside);  // neither exists: the place beside the program

    fs::create_directories(shareFolder);
    std::ofstream(shared) << "share";
    EXPECT_EQ(findDataFile(name), shared);

    std::ofstream(beside) << "beside";
    EXPECT_EQ(findDataFile(name), beside);

    fs::remove(beside);
    fs::remove(shared);
    if (!shareExisted) {
        std::error_code ignored;  // left in place when something else is there
        fs::remove(shareFolder, ignored);
        fs::remove(shareFolder.parent_path(), ignored);
    }
}

}  // namespace
}  // namespace ferretta::platform
