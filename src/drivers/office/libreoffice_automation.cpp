// The automation over LibreOffice: which office process serves which application. A search
// works in a hidden office shared by the Word, Excel and PowerPoint applications of its run
// (started by the first, ended when the last quits); hits are opened in a visible office that
// is kept and reused while it runs.
#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "drivers/office/libreoffice.h"
#include "drivers/office/libreoffice_calc.h"
#include "drivers/office/libreoffice_connection.h"
#include "drivers/office/libreoffice_impress.h"
#include "drivers/office/libreoffice_writer.h"
#include "platform/error.h"

namespace ferretta::platform::office {
namespace {

class LibreOfficeAutomation final : public Automation {
  public:
    explicit LibreOfficeAutomation(LibreOfficeConfig config) : m_config(std::move(config)) {
        static std::atomic<int> instances = 0;
        m_pipeName = lo::pipeNamePrefix() + std::to_string(instances++);
    }
    ~LibreOfficeAutomation() override {
        if (m_search)
            m_search->shutDown(false);
        if (m_open)
            m_open->shutDown(true);
    }
    LibreOfficeAutomation(const LibreOfficeAutomation&) = delete;
    LibreOfficeAutomation& operator=(const LibreOfficeAutomation&) = delete;

    std::string missingPart(Application application) const override {
        return missingLibreOfficePart(application, FERRETTA_LIBREOFFICE_PROGRAM_DIR);
    }

    std::unique_ptr<WordApplication> createWord(Purpose purpose) override {
        return lo::makeWriterApplication(started(purpose, Application::Word));
    }
    std::unique_ptr<WordApplication> runningWord(Purpose purpose) override {
        auto office = running(purpose);
        return office ? lo::makeWriterApplication(std::move(office)) : nullptr;
    }
    std::unique_ptr<ExcelApplication> createExcel(Purpose purpose) override {
        return lo::makeCalcApplication(started(purpose, Application::Excel));
    }
    std::unique_ptr<ExcelApplication> runningExcel(Purpose purpose) override {
        auto office = running(purpose);
        return office ? lo::makeCalcApplication(std::move(office)) : nullptr;
    }
    std::unique_ptr<PowerPointApplication> createPowerPoint(Purpose purpose) override {
        return lo::makeImpressApplication(started(purpose, Application::PowerPoint));
    }
    std::unique_ptr<PowerPointApplication> runningPowerPoint(Purpose purpose) override {
        auto office = running(purpose);
        return office ? lo::makeImpressApplication(std::move(office)) : nullptr;
    }

  private:
    // An office without the part an application needs starts, but then fails on every
    // document of its type with a code that says nothing: such an application cannot start.
    std::shared_ptr<lo::Office> started(Purpose purpose, Application application) {
        if (const std::string missing = missingPart(application); !missing.empty())
            throw Error(Error::Kind::Automation, missing, 429);
        auto& office = purpose == Purpose::Search ? m_search : m_open;
        if (!office) {
            office = std::make_shared<lo::Office>(
                m_config, purpose, m_pipeName + (purpose == Purpose::Search ? "_search" : "_open"));
        }
        office->ensureRunning();
        return office;
    }

    std::shared_ptr<lo::Office> running(Purpose purpose) {
        if (purpose == Purpose::Search || !m_open || !m_open->isRunning())
            return nullptr;
        return m_open;
    }

    LibreOfficeConfig m_config;
    std::string m_pipeName;
    std::shared_ptr<lo::Office> m_search;
    std::shared_ptr<lo::Office> m_open;
};

}  // namespace

std::unique_ptr<Automation> makeLibreOfficeAutomation(const LibreOfficeConfig& config) {
    return std::make_unique<LibreOfficeAutomation>(config);
}

}  // namespace ferretta::platform::office
