#pragma once
// PowerPoint presentations: one PowerPoint per search run (a running one is borrowed and given
// back), every text of every slide, group members included, passed to the matcher; and the
// opener of a PowerPoint hit.
#include <memory>
#include <string>

#include "app/host.h"
#include "app/settings.h"
#include "search/query.h"
#include "search/search_context.h"
#include "search/search_flags.h"
#include "searchers/office/office_readers.h"
#include "searchers/office/office_session.h"

namespace ferretta::searchers::office {

// Fills the slot with a running PowerPoint (hidden for the time being, `reused` set) or else a
// new one (`reused` cleared). False when neither can be had. Never throws.
bool startPowerPoint(platform::office::Automation& automation, PowerPointSlot& slot,
                     platform::office::Purpose purpose);

// Ends the slot's use: a borrowed PowerPoint is shown again and left running, a created one
// quits. Nothing happens when none is held. A PowerPoint that refuses is logged and dropped.
void stopPowerPoint(PowerPointSlot& slot);

class PowerPointSearcher : public OfficeSearcher {
  public:
    // The session and the context's references must outlive the searcher.
    PowerPointSearcher(OfficeSession& session, const search::SearchContext& context,
                       OfficeReading reading = {});

    // Matches the text of every shape with a text frame, and of the members of groups (not of
    // groups inside groups), with CR and LF removed; a hit's position is the slide number.
    // Failures after the presentation was opened skip that piece silently; one that cannot be
    // opened is told with its error number. Answers false when a stop was requested (looked at
    // after every slide) or the presentation could not be opened.
    bool find_ppt(const std::string& path) { return search(path, documents::Kind::PowerPoint); }

  private:
    class Matcher;
};

// Opens the presentation in the user's PowerPoint, visible, and unless NoJump is set (or the
// hit has no slide: a hit on the file name) selects the slide of the position. PowerPoint stays
// open. When none can be had: "PowerPointの操作が行えませんでした"; any other failure ends a
// PowerPoint started for this (a borrowed one is shown again) and shows
// "PowerPoint文書を開く際にエラーが発生しました" with the file and the step reached (0 to 4).
void openPowerPointFile(OfficeSession& session, app::Host& host, const app::Settings& settings,
                        const std::string& path, const std::string& position);

}  // namespace ferretta::searchers::office
