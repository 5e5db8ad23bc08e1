#pragma once
// Word over LibreOffice Writer.
#include <memory>

#include "platform/office/automation.h"

namespace ferretta::platform::office::lo {

class Office;

// A Word application working in `office` (which it keeps until quit or destroyed).
std::unique_ptr<WordApplication> makeWriterApplication(std::shared_ptr<Office> office);

}  // namespace ferretta::platform::office::lo
