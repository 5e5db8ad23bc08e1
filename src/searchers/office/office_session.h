#pragma once
// The Office applications that the Word, Excel and PowerPoint searchers share during a search
// run, and the readers of the formats read without them. The front end owns one for the life
// of the process; the searchers and the start and end of a run work on it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "documents/native_reader.h"
#include "pipeline/office_extractors.h"
#include "platform/office/automation.h"

namespace ferretta::searchers::office {

// An application and how it was obtained: `reused` when it was found running (it is then shown
// again at the end of its use and never quit), false when it was created for the purpose.
template <class Application>
struct ApplicationSlot {
    std::unique_ptr<Application> app;
    bool reused = false;
};

using ExcelSlot = ApplicationSlot<platform::office::ExcelApplication>;
using PowerPointSlot = ApplicationSlot<platform::office::PowerPointApplication>;

// The search run's applications (all of Purpose::Search). The openers of hits do not touch
// them: they obtain their own visible applications, so a double-click made while a search runs
// cannot take the search's application away from it. Must not outlive the automation.
struct OfficeSession {
    explicit OfficeSession(platform::office::Automation& automationService)
        : automation(automationService) {}

    platform::office::Automation& automation;
    // The hidden Word of the run; empty outside a run.
    std::unique_ptr<platform::office::WordApplication> wordApp;
    // Word's DisplayAlerts as found when the run's Word was started; restored before it quits.
    std::int32_t savedDisplayAlerts = 0;
    ExcelSlot excel;
    PowerPointSlot powerPoint;
    // The readers of Open XML and OpenDocument files (documents::readDocument).
    pipeline::NativeReader nativeReader = [](const std::string& path, documents::Format format,
                                             documents::Kind kind, documents::UnitSink& sink) {
        return documents::readDocument(path, format, kind, sink);
    };
};

}  // namespace ferretta::searchers::office
