#pragma once
// The Office part of the search command: the searchers of the file types switched on, the
// applications they start when a document needs one, and the end of those after the walk.
#include <array>

#include "app/host.h"
#include "app/settings.h"
#include "search/search_context.h"
#include "search/searcher_registry.h"
#include "searchers/office/excel_search.h"
#include "searchers/office/office_session.h"
#include "searchers/office/powerpoint_search.h"
#include "searchers/office/word_search.h"

namespace ferretta::searchers::office {

// Starts the run's application of one Office type (Word, Excel or PowerPoint) unless it runs;
// when it cannot be started, tells the user to switch the type off and answers false. A start
// given up because the search was stopped meanwhile is no failure of the office: false, and
// nothing told.
bool startOfficeApplication(OfficeSession& session, app::Host& host, app::FileType type,
                            const search::SearchFlags& flags);

// Ends the applications the run started: Word (alert level restored, quit without saving),
// then Excel and PowerPoint (a borrowed one shown again, a created one quit).
void endStartedOffices(OfficeSession& session, app::Host& host);

// The three searchers of one search run, over the session's applications. Open XML and
// OpenDocument files are read without the office (unless the settings switch that off); the
// office of a type is started when the first document that needs it comes. An office that
// cannot be started is told once: that type's documents are then skipped and the search goes on.
class OfficeSearchers {
  public:
    // The session, the context's references and the cache must outlive the object.
    OfficeSearchers(OfficeSession& session, const search::SearchContext& context,
                    cache::SearchCache* cache = nullptr);

    // Registers a searcher for each Office type switched on: Word (fast or normal mode as
    // WordFast says when the file comes), Excel, PowerPoint. With the native readers on they
    // may search files ahead on worker threads, which hand a file that needs the office to the
    // user-interface thread. What the registry's searchers make must not outlive this object.
    void install(search::SearcherRegistry& registry);

  private:
    bool startApplication(app::FileType type);
    template <class Searcher, bool (Searcher::*find)(const std::string&)>
    search::SearcherRegistry::MakeFileSearch perContext();

    OfficeSession& m_session;
    const search::SearchContext m_context;
    const OfficeReading m_reading;
    std::array<bool, app::fileTypeSlots> m_failedToStart{};
};

}  // namespace ferretta::searchers::office
