#include "searchers/office/powerpoint_search.h"

#include "app/debug_log.h"
#include "app/file_types.h"
#include "platform/error.h"
#include "search/hit.h"
#include "search/path_helpers.h"
#include "searchers/office/office_common.h"

namespace ferretta::searchers::office {

namespace po = platform::office;

namespace {

constexpr std::string_view kSearchPlace = "find_ppt";

}  // namespace

bool startPowerPoint(po::Automation& automation, PowerPointSlot& slot, po::Purpose purpose) {
    try {
        slot.app = automation.runningPowerPoint(purpose);
    } catch (const Error& failure) {
        app::logWrite("startPowerPoint", failure.what());
        slot.app.reset();
    }
    if (slot.app) {
        slot.reused = true;
        try {
            slot.app->setVisible(false);
        } catch (const Error& failure) {
            app::logWrite("startPowerPoint", failure.what());
        }
        return true;
    }
    slot.reused = false;
    try {
        slot.app = automation.createPowerPoint(purpose);
    } catch (const Error& failure) {
        app::logWrite("startPowerPoint", failure.what());
        slot.app.reset();
    }
    return slot.app != nullptr;
}

void stopPowerPoint(PowerPointSlot& slot) {
    if (!slot.app)
        return;
    try {
        if (slot.reused)
            slot.app->setVisible(true);
        else
            slot.app->quit();
    } catch (const Error& failure) {
        app::logWrite("stopPowerPoint", failure.what());
    }
    slot.reused = false;
    slot.app.reset();
}

// Every text of a slide is matched and reported with the slide's number; after the last text
// of each slide, also of one without any, events run and a stop request ends the presentation.
class PowerPointSearcher::Matcher final : public pipeline::DocumentMatcher {
  public:
    using DocumentMatcher::DocumentMatcher;

    void begin(const std::string& path) override {
        DocumentMatcher::begin(path);
        m_slide = 0;
        m_stopped = false;
    }

    bool place(std::int32_t slide) override { return endSlidesBefore(slide); }

    bool unit(const documents::UnitView& text) override {
        if (!endSlidesBefore(text.place))
            return false;
        if (m_context.matcher.smartFind(text.text) != 0)
            search::addResult(m_context.host, app::FileType::PowerPoint, m_name, text.text, m_path,
                              std::to_string(text.place));
        return true;
    }

    bool finish(const pipeline::Extraction& extraction) override {
        if (extraction.failure) {
            reportFailure(*extraction.failure);
            return false;
        }
        if (extraction.outcome == pipeline::Outcome::Complete)
            endSlidesBefore(std::max(m_slide, extraction.count) + 1);
        return !m_stopped && DocumentMatcher::finish(extraction);
    }

  private:
    // The slides before `slide` are done: after each, events run and the stop is looked at.
    bool endSlidesBefore(std::int32_t slide) {
        for (; m_slide < slide && !m_stopped; ++m_slide) {
            if (m_slide >= 1)
                m_stopped = abortRequested(m_context.host, m_context.flags);
        }
        return !m_stopped;
    }

    void reportFailure(const pipeline::Failure& failure) {
        if (failure.errorNumber == po::stoppedCallError) {
            abortRequested(m_context.host, m_context.flags);
            return;
        }
        // A presentation that cannot be opened (damaged, protected by a password) is one failed
        // file, told as the Word and Excel searchers tell theirs.
        m_context.host.showMessage(searchErrorText(0, failure.errorNumber, m_path),
                                   app::MessageStyle::Exclamation);
        app::logWrite(kSearchPlace,
                      "エラー発生 Pos=0 ErrNo=" + std::to_string(failure.errorNumber) +
                          " ファイル名=" + m_path);
    }

    std::int32_t m_slide = 0;  // the slide whose texts come now; those before are done
    bool m_stopped = false;
};

PowerPointSearcher::PowerPointSearcher(OfficeSession& session, const search::SearchContext& context,
                                       OfficeReading reading)
    : OfficeSearcher(session, context, std::move(reading), std::make_unique<Matcher>(context)) {}

void openPowerPointFile(OfficeSession& session, app::Host& host, const app::Settings& settings,
                        const std::string& path, const std::string& position) {
    int step = 0;
    PowerPointSlot slot;
    if (!startPowerPoint(session.automation, slot, po::Purpose::Open)) {
        host.showMessage(session.automation.withMissingPart(po::Application::PowerPoint,
                                                            "PowerPointの操作が行えませんでした"),
                         app::MessageStyle::Critical);
        return;
    }
    std::unique_ptr<po::Presentation> presentation;
    try {
        step = 1;
        presentation = slot.app->open(path, po::OpenOptions{false, true});
        step = 2;
        slot.app->setVisible(true);
        step = 3;
        // A hit on the file name has no slide: the presentation opens at its start.
        if (!settings.noJump && !position.empty()) {
            presentation->slide(toInteger16(position))->select();
            step = 4;
        }
    } catch (const Error& failure) {
        presentation.reset();
        stopPowerPoint(slot);
        app::logWrite("openPowerPointFile", std::string("ErrNo=") + std::to_string(failure.code()) +
                                                " " + failure.what());
        host.showMessage("PowerPoint文書を開く際にエラーが発生しました\rファイル名:" + path +
                             "\r原因コード=" + std::to_string(step),
                         app::MessageStyle::Critical);
    }
    // Dropping the references leaves PowerPoint open and visible for the user.
}

}  // namespace ferretta::searchers::office
