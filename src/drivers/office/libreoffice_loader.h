#pragma once
// LibreOffice from the ferretta-libreoffice module. The UNO libraries the driver needs took a
// share of every start of the programs, also of a search that never starts an office; in a
// module they are loaded at the first office the programs start or look for.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/office/automation.h"

namespace ferretta::platform::office {

struct LibreOfficeConfig {
    // Where the offices keep their own profiles (one folder per office process kind); created
    // when missing. Empty: a folder under the system's temporary folder.
    std::filesystem::path profileRoot;
    // Where the office's own output goes (appended); empty: discarded.
    std::filesystem::path logFile;
    // How long one call may take before the office counts as stuck and is ended.
    int callTimeoutMs = 60000;
    // How long one document may take in a search office, from its opening on, before the office
    // counts as stuck and is ended (the document fails); 0: no limit beyond callTimeoutMs.
    int documentTimeoutMs = 60000;
    // When set, a call runs on a helper thread while the calling thread calls this about every
    // 20 ms (a front end lets its events run in it). Answering false abandons the call: the
    // office is ended at once (the next call starts a new one) and the call throws Error with
    // stoppedCallError. A start of the office is abandoned the same way. Unset: calls run on
    // the calling thread, which waits.
    std::function<bool()> keepWaiting;
    // How long starting an office and connecting to it may take.
    int startTimeoutMs = 60000;
};

// The automation of makeLibreOfficeAutomation (libreoffice.h) with `config`, loaded from the
// module at the first create* or running* call. The module is looked for at
// $FERRETTA_LIBREOFFICE_MODULE, beside the executable, then in the installed layout's library
// folder; it stays loaded for the rest of the process. When it cannot be loaded (missing, or a
// library it needs is not installed), every create* throws ferretta::Error (kind Automation)
// saying why, and every running* answers null, as without LibreOffice.
std::unique_ptr<Automation> loadLibreOfficeAutomation(const LibreOfficeConfig& config);

// The module's entry, looked up by this name: a new automation; null, with `why`, when it
// cannot make one.
using MakeAutomationEntry = Automation* (*)(const LibreOfficeConfig& config, std::string& why);
inline constexpr const char* makeAutomationEntryName = "ferrettaMakeLibreOfficeAutomation";

}  // namespace ferretta::platform::office
