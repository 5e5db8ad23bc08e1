#include "platform/data_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace ferretta::platform {

namespace fs = std::filesystem;

namespace {

// An environment variable, or empty when it is unset or empty.
std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

bool existsQuietly(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

void createFolder(const fs::path& folder) {
    // A failure shows up, with a useful message, when the first file is written there.
    std::error_code ignored;
    fs::create_directories(folder, ignored);
}

}  // namespace

fs::path homeFolder() {
    const std::string home = environmentValue("HOME");
    if (!home.empty())
        return home;
    // HOME may be missing under some service managers; the password database still knows.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr) {
        return result->pw_dir;
    }
    return {};
}

fs::path executableFolder() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error && executable.is_absolute())
        return executable.parent_path();
    fs::path current = fs::current_path(error);
    return error ? fs::path(".") : current;
}

fs::path findDataFile(const fs::path& name) {
    const fs::path folder = executableFolder();
    const fs::path beside = folder / name;
    if (existsQuietly(beside))
        return beside;
    // The installed layout: bin/ferretta and share/ferretta/<file>.
    const fs::path shared = (folder / ".." / "share" / "ferretta" / name).lexically_normal();
    if (existsQuietly(shared))
        return shared;
    return beside;
}

bool isSystemProgramFolder(const fs::path& folder) {
    const fs::path normal = folder.lexically_normal();
    for (const fs::path prefix : {"/usr", "/opt"}) {
        if (std::mismatch(prefix.begin(), prefix.end(), normal.begin(), normal.end()).first ==
            prefix.end())
            return true;
    }
    return false;
}

fs::path dataFolder() {
    const std::string homeOverride = environmentValue("FERRETTA_HOME");
    if (!homeOverride.empty()) {
        std::error_code error;
        fs::path folder = fs::absolute(homeOverride, error);
        if (error)
            folder = homeOverride;
        createFolder(folder);
        return folder;
    }

    // A portable install (an unpacked archive) keeps its settings beside the program. A system
    // folder is writable for root only, and root's settings belong in root's home like anyone's.
    const fs::path exeFolder = executableFolder();
    if (!isSystemProgramFolder(exeFolder) && access(exeFolder.c_str(), W_OK) == 0)
        return exeFolder;

    fs::path configHome = environmentValue("XDG_CONFIG_HOME");
    if (!configHome.is_absolute()) {
        const fs::path home = homeFolder();
        // Without any home the executable's folder is the only place left; writes will fail
        // there with a message naming it.
        if (home.empty())
            return exeFolder;
        configHome = home / ".config";
    }
    const fs::path folder = configHome / "ferretta";
    createFolder(folder);
    return folder;
}

}  // namespace ferretta::platform
