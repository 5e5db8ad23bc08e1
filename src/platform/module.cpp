#include "platform/module.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/data_folder.h"

namespace ferretta::platform {
namespace fs = std::filesystem;

ModuleEntry loadModuleEntry(const char* variable, const std::string& fileName,
                            const std::string& installed, const char* entryName) {
    std::vector<fs::path> candidates;
    if (const char* named = std::getenv(variable); named && *named)
        candidates.emplace_back(named);
    const fs::path folder = executableFolder();
    candidates.push_back(folder / fileName);
    candidates.push_back((folder / installed).lexically_normal());
    ModuleEntry loaded;
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        if (!fs::exists(candidate, error))
            continue;
        // Never closed: what the module makes lives until the program ends.
        void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            const char* why = ::dlerror();
            loaded.failure = candidate.string() + ": " + (why ? why : "cannot be loaded");
            continue;
        }
        if (void* entry = ::dlsym(module, entryName)) {
            loaded.entry = entry;
            return loaded;
        }
        loaded.failure = candidate.string() + ": no " + entryName;
    }
    if (loaded.failure.empty())
        loaded.failure = fileName + " not found beside " + folder.string();
    return loaded;
}

}  // namespace ferretta::platform
