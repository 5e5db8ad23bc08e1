#pragma once
// A module of the program's own (a shared object it loads at first use, so that the libraries
// behind it cost nothing until then), found where the programs keep their modules.
#include <string>

namespace ferretta::platform {

struct ModuleEntry {
    void* entry = nullptr;  // the entry's address; null when none was found
    std::string failure;    // why not: each candidate that could not be loaded, or none found
};

// Loads the module `fileName` and looks up `entryName` in it. The candidates, in turn:
// $`variable` when set, the file beside the executable, then `installed` (relative to the
// executable's folder). The first that exists and has the entry is kept loaded for the rest of
// the process.
ModuleEntry loadModuleEntry(const char* variable, const std::string& fileName,
                            const std::string& installed, const char* entryName);

}  // namespace ferretta::platform
