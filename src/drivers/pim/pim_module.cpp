// The entry of the ferretta-pim module (see desktop_store_loader.h).
#include <exception>
#include <string>

#include "drivers/pim/desktop_store.h"
#include "drivers/pim/desktop_store_loader.h"

namespace pim = ferretta::platform::pim;

// A failure to make the store is logged and answered with null: the loader then gives the
// caller a store that connects to nothing.
extern "C" __attribute__((visibility("default"))) pim::ItemStore* ferrettaPimMakeDesktopItemStore(
    const std::filesystem::path& dataFolder, const pim::PimLog& log) {
    // The entry's type is the loader's; a changed signature fails to compile here.
    [[maybe_unused]] const pim::MakeStoreEntry checked = &ferrettaPimMakeDesktopItemStore;
    try {
        return pim::makeDesktopItemStore(pim::desktopStoreConfig(dataFolder, log)).release();
    } catch (const std::exception& failure) {
        log("ferrettaPimMakeDesktopItemStore", failure.what());
        return nullptr;
    }
}
