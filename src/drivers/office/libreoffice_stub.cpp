// A build without LibreOffice: no application can be started.
#include "drivers/office/libreoffice.h"
#include "platform/error.h"

namespace ferretta::platform::office {
namespace {

[[noreturn]] void noOffice() {
    throw Error(Error::Kind::Automation, "LibreOffice is not part of this build", 429);
}

class NoOffice final : public Automation {
  public:
    std::unique_ptr<WordApplication> createWord(Purpose) override { noOffice(); }
    std::unique_ptr<WordApplication> runningWord(Purpose) override { return nullptr; }
    std::unique_ptr<ExcelApplication> createExcel(Purpose) override { noOffice(); }
    std::unique_ptr<ExcelApplication> runningExcel(Purpose) override { return nullptr; }
    std::unique_ptr<PowerPointApplication> createPowerPoint(Purpose) override { noOffice(); }
    std::unique_ptr<PowerPointApplication> runningPowerPoint(Purpose) override { return nullptr; }
};

}  // namespace

std::unique_ptr<Automation> makeLibreOfficeAutomation(const LibreOfficeConfig&) {
    return std::make_unique<NoOffice>();
}

}  // namespace ferretta::platform::office
