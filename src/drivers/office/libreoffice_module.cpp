// The entry of the ferretta-libreoffice module (see libreoffice_loader.h).
#include <exception>
#include <string>

#include "drivers/office/libreoffice.h"
#include "drivers/office/libreoffice_loader.h"

namespace office = ferretta::platform::office;

// A failure to make the automation is answered with null and its reason: the loader then tells
// the caller that LibreOffice cannot be used, and why.
extern "C" __attribute__((visibility("default"))) office::Automation*
ferrettaMakeLibreOfficeAutomation(const office::LibreOfficeConfig& config, std::string& why) {
    // The entry's type is the loader's; a changed signature fails to compile here.
    [[maybe_unused]] const office::MakeAutomationEntry checked = &ferrettaMakeLibreOfficeAutomation;
    try {
        return office::makeLibreOfficeAutomation(config).release();
    } catch (const std::exception& failure) {
        why = failure.what();
        return nullptr;
    }
}
