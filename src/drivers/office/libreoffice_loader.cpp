#include "drivers/office/libreoffice_loader.h"

#include <mutex>
#include <string>

#include "platform/error.h"
#include "platform/module.h"

namespace ferretta::platform::office {

namespace {

// Stands for the module's automation until the first call that needs it.
class LazyAutomation final : public Automation {
  public:
    explicit LazyAutomation(LibreOfficeConfig config) : m_config(std::move(config)) {}

    std::unique_ptr<WordApplication> createWord(Purpose purpose) override {
        return real().createWord(purpose);
    }
    std::unique_ptr<WordApplication> runningWord(Purpose purpose) override {
        return loaded() ? m_real->runningWord(purpose) : nullptr;
    }
    std::unique_ptr<ExcelApplication> createExcel(Purpose purpose) override {
        return real().createExcel(purpose);
    }
    std::unique_ptr<ExcelApplication> runningExcel(Purpose purpose) override {
        return loaded() ? m_real->runningExcel(purpose) : nullptr;
    }
    std::unique_ptr<PowerPointApplication> createPowerPoint(Purpose purpose) override {
        return real().createPowerPoint(purpose);
    }
    std::unique_ptr<PowerPointApplication> runningPowerPoint(Purpose purpose) override {
        return loaded() ? m_real->runningPowerPoint(purpose) : nullptr;
    }
    std::string missingPart(Application application) const override {
        return m_real ? m_real->missingPart(application) : std::string();
    }

  private:
    bool loaded() {
        if (m_real || !m_failure.empty())
            return m_real != nullptr;
        static std::once_flag once;
        static ModuleEntry entry;
        std::call_once(once, [] {
            entry = loadModuleEntry("FERRETTA_LIBREOFFICE_MODULE", "ferretta-libreoffice.so",
                                    FERRETTA_LIBREOFFICE_MODULE_INSTALLED, makeAutomationEntryName);
        });
        if (entry.entry != nullptr) {
            std::string why;
            m_real.reset(reinterpret_cast<MakeAutomationEntry>(entry.entry)(m_config, why));
            if (!m_real)
                m_failure = why.empty() ? "the module made no automation" : why;
        } else {
            m_failure = entry.failure;
        }
        return m_real != nullptr;
    }
    Automation& real() {
        if (!loaded())
            throw Error(Error::Kind::Automation, "LibreOffice cannot be used: " + m_failure, 429);
        return *m_real;
    }

    const LibreOfficeConfig m_config;
    std::unique_ptr<Automation> m_real;
    std::string m_failure;
};

}  // namespace

std::unique_ptr<Automation> loadLibreOfficeAutomation(const LibreOfficeConfig& config) {
    return std::make_unique<LazyAutomation>(config);
}

}  // namespace ferretta::platform::office
