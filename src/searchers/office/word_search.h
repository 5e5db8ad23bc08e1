#pragma once
// Word documents: the search run's hidden Word, the two document searchers (normal mode with
// text boxes and shapes, fast mode over the main text only) and the opener of a Word hit.
#include <memory>
#include <string>
#include <string_view>

#include "app/host.h"
#include "app/settings.h"
#include "search/query.h"
#include "search/search_context.h"
#include "search/search_flags.h"
#include "searchers/office/office_readers.h"
#include "searchers/office/office_session.h"

namespace ferretta::searchers::office {

// Starts the run's Word: always a new instance, hidden, its alert level kept in the session and
// alerts switched off. False when Word cannot be started; the session then holds no Word.
bool startWordRun(OfficeSession& session);

// Ends the run's Word: the alert level put back, Quit without saving, the reference dropped.
// Does nothing when no Word is held; a Word that refuses is logged and dropped all the same.
void endWordRun(OfficeSession& session);

class WordSearcher : public OfficeSearcher {
  public:
    // The session and the context's references must outlive the searcher.
    WordSearcher(OfficeSession& session, const search::SearchContext& context,
                 OfficeReading reading = {});

    // Normal mode: the document's sentences, then the texts of its shapes, each split into
    // lines; a hit's position is the element index (sentences 1..n, shape j as n + j), a comma
    // and the match position. True when the document was searched to its end; false after a
    // failure (reported to the user and the log with the step reached; the walk goes on) or a
    // stop request.
    bool find_doc(const std::string& path);

    // Fast mode: the main text only, split at CR; a hit's position is the 0-based line index,
    // a comma and the match position. Same answers as find_doc; a document that Word opened
    // under another name counts as a failure at step 2.
    bool find_docFast(const std::string& path);

    // find_docFast or find_doc, as WordFast says when the file comes.
    bool find(const std::string& path);

  private:
    class Matcher;
};

// Attaches `wordApp` to the Word that is already open for the user (Purpose::Open). False,
// with `wordApp` left empty, when none runs or asking fails.
bool getRunningWord(OfficeSession& session,
                    std::unique_ptr<platform::office::WordApplication>& wordApp);

// Opens the document in the user's Word (a running one, else a new one), makes Word visible
// and, unless NoJump is set, selects the first occurrence of `text` (the hit's listed line).
// Word stays open. A failure shows "Word文書を開く際にエラーが発生しました" with the file, the
// text and the step reached (0 starting Word, 1 opening, 2 preparing, 3 finding); what was
// opened stays open.
void openWordFile(OfficeSession& session, app::Host& host, const app::Settings& settings,
                  const std::string& path, const std::string& text);

}  // namespace ferretta::searchers::office
