#pragma once
// The desktop's item store, from the ferretta-pim module. The mail and desktop-store libraries
// (GMime, Evolution Data Server, libical and what they pull in) take most of a start-up to
// load; in a module they are loaded by the first search of mail or personal items only.
#include <filesystem>
#include <memory>

#include "drivers/pim/pim_log.h"
#include "platform/pim/item_store.h"

namespace ferretta::platform::pim {

// The store of makeDesktopItemStore with the configuration of desktopStoreConfig(dataFolder,
// log). The module is looked for at $FERRETTA_PIM_MODULE, beside the executable, then in the
// installed layout's library folder; it stays loaded for the rest of the process. When it
// cannot be loaded (missing, or a library it needs is not installed) the answer is a store
// that connects to nothing, as on a desktop without these stores, and the reason is logged.
std::unique_ptr<ItemStore> loadDesktopItemStore(const std::filesystem::path& dataFolder,
                                                PimLog log);

// The module's entry, looked up by this name.
using MakeStoreEntry = ItemStore* (*)(const std::filesystem::path& dataFolder, const PimLog& log);
inline constexpr const char* makeStoreEntryName = "ferrettaPimMakeDesktopItemStore";

}  // namespace ferretta::platform::pim
