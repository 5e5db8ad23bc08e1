#include "drivers/pim/desktop_store_loader.h"

#include <mutex>

#include "platform/module.h"

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

}  // namespace

std::unique_ptr<ItemStore> loadDesktopItemStore(const fs::path& dataFolder, PimLog log) {
    static std::once_flag once;
    static ModuleEntry loaded;
    std::call_once(once, [] {
        loaded = loadModuleEntry("FERRETTA_PIM_MODULE", "ferretta-pim.so",
                                 FERRETTA_PIM_MODULE_INSTALLED, makeStoreEntryName);
    });
    if (loaded.entry) {
        if (ItemStore* store = reinterpret_cast<MakeStoreEntry>(loaded.entry)(dataFolder, log))
            return std::unique_ptr<ItemStore>(store);
        log("loadDesktopItemStore", "the module made no store");
    } else {
        log("loadDesktopItemStore", loaded.failure);
    }
    return std::make_unique<UnconnectedStore>();
}

}  // namespace ferretta::platform::pim
