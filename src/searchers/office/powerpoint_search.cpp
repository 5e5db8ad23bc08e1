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

// Runs one step whose failure is to be passed over; answers whether it succeeded. The failure
// is written to the debug log, as nobody else hears of it.
template <class Step>
bool skipping(Step&& step) {
    try {
        step();
        return true;
    } catch (const Error& failure) {
        app::logWrite(kSearchPlace, failure.what());
        return false;
    }
}

std::string withoutNewlines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\r' && c != '\n')
            out += c;
    }
    return out;
}

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

PowerPointSearcher::PowerPointSearcher(OfficeSession& session, const search::SearchContext& context)
    : m_session(session),
      m_host(context.host),
      m_matcher(context.matcher),
      m_flags(context.flags) {}

void PowerPointSearcher::readShape(po::Shape& shape, std::int32_t slide,
                                   std::vector<cache::Unit>& texts) {
    std::string text;
    bool hasText = false;
    skipping([&] { hasText = shape.hasTextFrame(); });
    if (!hasText || !skipping([&] { text = shape.text(); }) || text.empty())
        return;
    texts.push_back({slide, 0, 0, withoutNewlines(text), ""});
}

bool PowerPointSearcher::matchSlide(const std::string& path, const std::string& name,
                                    std::span<const cache::Unit> texts) {
    for (const cache::Unit& text : texts) {
        if (m_matcher.smartFind(text.text) != 0)
            search::addResult(m_host, app::FileType::PowerPoint, name, text.text, path,
                              std::to_string(text.place));
    }
    return !abortRequested(m_host, m_flags);
}

bool PowerPointSearcher::find_ppt(const std::string& path) {
    std::optional<cache::SearchCache::Entry> entry;
    if (m_cache.cache != nullptr) {
        entry = m_cache.cache->lookup(path, officeKey("powerpoint"));
        if (entry->state != cache::Lookup::State::Miss) {
            m_host.noteFromCache();
            m_host.setCaptionOnSearching(path);
            return entry->state == cache::Lookup::State::CannotMatch ||
                   matchKept(path, entry->extract);
        }
        if (!m_cache.startApplication(app::FileType::PowerPoint))
            return false;
    }
    m_host.setCaptionOnSearching(path);
    if (!m_session.powerPoint.app)
        throw Error(Error::Kind::Automation, "PowerPoint is not running", kNoObjectError);
    // A presentation that cannot be opened (damaged, protected by a password) is one failed
    // file, told as the Word and Excel searchers tell theirs; the search goes on with the next.
    std::unique_ptr<po::Presentation> presentation;
    try {
        presentation = m_session.powerPoint.app->open(path, po::OpenOptions{true, false});
    } catch (const Error& failure) {
        if (failure.kind() != Error::Kind::Automation)
            throw;
        if (failure.code() == po::stoppedCallError) {
            abortRequested(m_host, m_flags);
            return false;
        }
        m_host.showMessage(searchErrorText(0, failure.code(), path),
                           app::MessageStyle::Exclamation);
        app::logWrite(kSearchPlace, "エラー発生 Pos=0 ErrNo=" + std::to_string(failure.code()) +
                                        " ファイル名=" + path);
        return false;
    }

    const std::string name = search::fileNameOf(path);
    bool aborted = false;
    std::int32_t slides = 0;
    cache::Extract kept;
    skipping([&] { slides = presentation->slideCount(); });
    for (std::int32_t s = 1; s <= slides && !aborted; ++s) {
        std::unique_ptr<po::Slide> slide;
        std::int32_t shapes = 0;
        std::vector<cache::Unit> texts;
        if (skipping([&] { slide = presentation->slide(s); }))
            skipping([&] { shapes = slide->shapeCount(); });
        for (std::int32_t i = 1; i <= shapes; ++i) {
            std::unique_ptr<po::Shape> shape;
            if (!skipping([&] { shape = slide->shape(i); }))
                continue;
            readShape(*shape, s, texts);
            std::int32_t members = 0;
            try {
                members = shape->groupItemCount();
            } catch (const Error&) {
                continue;  // not a group: the usual case, not worth a log line
            }
            for (std::int32_t j = 1; j <= members; ++j) {
                std::unique_ptr<po::Shape> member;
                // A group inside the group is matched for its own text only, never descended.
                if (skipping([&] { member = shape->groupItem(j); }))
                    readShape(*member, s, texts);
            }
        }
        aborted = !matchSlide(path, name, texts);
        kept.units.insert(kept.units.end(), texts.begin(), texts.end());
    }
    skipping([&] { presentation->close(); });
    // A presentation read to its end is kept, with its slide count.
    if (entry && !aborted) {
        kept.count = slides;
        m_cache.cache->store(*entry, officeKey("powerpoint"), std::move(kept));
    }
    return !aborted;
}

bool PowerPointSearcher::matchKept(const std::string& path, const cache::Extract& kept) {
    const std::string name = search::fileNameOf(path);
    std::span<const cache::Unit> rest(kept.units);
    for (std::int32_t s = 1; s <= kept.count; ++s) {
        std::size_t onSlide = 0;
        while (onSlide < rest.size() && rest[onSlide].place == s)
            ++onSlide;
        if (!matchSlide(path, name, rest.first(onSlide)))
            return false;
        rest = rest.subspan(onSlide);
    }
    return true;
}

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
