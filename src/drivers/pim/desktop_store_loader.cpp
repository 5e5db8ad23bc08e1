#include "drivers/pim/desktop_store_loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/data_folder.h"

namespace ferretta::platform::pim {
namespace fs = std::filesystem;

namespace {

class UnconnectedStore final : public ItemStore {
  public:
    std::unique_ptr<ItemFolder> openFolder(FolderKind, const std::string&) override {
        return nullptr;
    }
    DisplayResult display(FolderKind, const ItemRef&) override {
        return DisplayResult::NotConnected;
    }
    void disconnect() override {}
};

struct LoadedEntry {
    MakeStoreEntry entry = nullptr;
    std::string failure;  // why there is no entry
};

LoadedEntry loadEntry() {
    std::vector<fs::path> candidates;
    if (const char* named = std::getenv("FERRETTA_PIM_MODULE"); named && *named)
        candidates.emplace_back(named);
    const fs::path folder = executableFolder();
    candidates.push_back(folder / "ferretta-pim.so");
    candidates.push_back((folder / FERRETTA_PIM_MODULE_INSTALLED).lexically_normal());
    LoadedEntry loaded;
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        if (!fs::exists(candidate, error))
            continue;
        // Never closed: the stores it makes live until the program ends.
        void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            const char* why = ::dlerror();
            loaded.failure = candidate.string() + ": " + (why ? why : "cannot be loaded");
            continue;
        }
        if (void* entry = ::dlsym(module, makeStoreEntryName)) {
            loaded.entry = reinterpret_cast<MakeStoreEntry>(entry);
            return loaded;
        }
        loaded.failure = candidate.string() + ": no " + makeStoreEntryName;
    }
    if (loaded.failure.empty())
        loaded.failure = "ferretta-pim.so not found beside " + folder.string();
    return loaded;
}

}  // namespace

std::unique_ptr<ItemStore> loadDesktopItemStore(const fs::path& dataFolder, PimLog log) {
    static std::once_flag once;
    static LoadedEntry loaded;
    std::call_once(once, [] { loaded = loadEntry(); });
    if (loaded.entry) {
        if (ItemStore* store = loaded.entry(dataFolder, log))
            return std::unique_ptr<ItemStore>(store);
        log("loadDesktopItemStore", "the module made no store");
    } else {
        log("loadDesktopItemStore", loaded.failure);
    }
    return std::make_unique<UnconnectedStore>();
}

}  // namespace ferretta::platform::pim
