#pragma once
// PowerPoint over LibreOffice Impress.
#include <memory>

#include "platform/office/automation.h"

namespace ferretta::platform::office::lo {

class Office;

// A PowerPoint application working in `office` (which it keeps until quit or destroyed).
std::unique_ptr<PowerPointApplication> makeImpressApplication(std::shared_ptr<Office> office);

}  // namespace ferretta::platform::office::lo
