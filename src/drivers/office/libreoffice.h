#pragma once
// LibreOffice (Writer, Calc, Impress) as the Office automation server, driven through UNO.
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

// The automation over LibreOffice. Creating it starts nothing: an office process is started
// when an application is first created, and every office it started is ended when it is
// destroyed (also the visible one kept for opening hits, unless the user still has documents
// open in it). In a build without LibreOffice every create* throws ferretta::Error (kind
// Automation) and every running* answers null.
std::unique_ptr<Automation> makeLibreOfficeAutomation(const LibreOfficeConfig& config);

// The LibreOffice part an application needs that is missing from the office's program folder,
// as one sentence naming its Debian package ("LibreOffice Writer がインストールされていません
// (パッケージ libreoffice-writer)"); the office itself first when it is missing. Empty when
// both are there.
std::string missingLibreOfficePart(Application application,
                                   const std::filesystem::path& programFolder);

}  // namespace ferretta::platform::office
