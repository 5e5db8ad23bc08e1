#pragma once
// Excel over LibreOffice Calc.
#include <memory>

#include "platform/office/automation.h"

namespace ferretta::platform::office::lo {

class Office;

// An Excel application working in `office` (which it keeps until quit or destroyed).
std::unique_ptr<ExcelApplication> makeCalcApplication(std::shared_ptr<Office> office);

}  // namespace ferretta::platform::office::lo
