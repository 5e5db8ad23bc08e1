#pragma once
// LibreOffice (Writer, Calc, Impress) as the Office automation server, driven through UNO.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "drivers/office/libreoffice_loader.h"
#include "platform/office/automation.h"

namespace ferretta::platform::office {

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
