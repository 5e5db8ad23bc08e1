#pragma once
// The Office part of the search command: before the folder walk the applications of the file
// types switched on are started and their searchers installed; after it they are ended.
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
// when it cannot be started, tells the user to switch the type off and answers false.
bool startOfficeApplication(OfficeSession& session, app::Host& host, app::FileType type);

// Starts, in this order, the hidden Word when Word files are searched, Excel when Excel files
// are, and PowerPoint when PowerPoint files are (only when Excel did not fail). When Word cannot
// be started the user is told to switch Word files off and they are skipped; the search still
// runs. When Excel or PowerPoint cannot be started the user is told so (critical) and the
// answer is false: no search may run. endOfficeRun must follow either way.
bool startOfficeRun(OfficeSession& session, app::Host& host, const app::Settings& settings);

// Ends what startOfficeRun started: Word (alert level restored, quit without saving), then
// Excel and PowerPoint (a borrowed one shown again, a created one quit). Excel's end runs
// whenever Excel files are searched, so a failed start is reported a second time, as the end's
// own failure.
void endOfficeRun(OfficeSession& session, app::Host& host, const app::Settings& settings);

// Ends the applications that a run with the document cache started (it starts them only when
// a document has to be read).
void endStartedOffices(OfficeSession& session, app::Host& host);

// The three searchers of one search run, over the session's applications.
class OfficeSearchers {
  public:
    // The session, the context's references and the cache must outlive the object. With a
    // cache the searchers look documents up there first, and an application is started when
    // the first document of its type has to be read.
    OfficeSearchers(OfficeSession& session, const search::SearchContext& context,
                    cache::SearchCache* cache = nullptr);

    // Registers a searcher for each type whose application the session holds (with a cache:
    // each type switched on): Word (fast or
    // normal mode as WordFast says when the file comes), Excel, PowerPoint, all on the thread
    // of the user interface. Files of a type without its application are then not searched.
    // What the registry's searchers make must not outlive this object.
    void install(search::SearcherRegistry& registry);

  private:
    OfficeSession& m_session;
    const app::Settings& m_settings;
    WordSearcher m_word;
    ExcelSearcher m_excel;
    PowerPointSearcher m_powerPoint;
    bool m_lazy;
    std::array<bool, app::fileTypeSlots> m_failedToStart{};
};

}  // namespace ferretta::searchers::office
