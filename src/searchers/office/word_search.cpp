#include "searchers/office/word_search.h"

#include "app/debug_log.h"
#include "app/file_types.h"
#include "platform/error.h"
#include "search/hit.h"
#include "search/path_helpers.h"
#include "searchers/office/office_common.h"

namespace ferretta::searchers::office {

namespace po = platform::office;

namespace {

constexpr std::string_view kLogPlace = "find_doc";
constexpr std::string_view kRunPlace = "mainForm::Command2_Click";
// Abort checks come after every this-many elements (lines in fast mode).
constexpr std::int32_t kCheckEvery = 500;

// Calls `visit(line)` for each line of the text split at CR, a CR LF pair counting as one CR.
template <class Visit>
void forEachLine(std::string_view text, Visit&& visit) {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find('\r', start);
        std::string_view line =
            text.substr(start, end == std::string_view::npos ? text.npos : end - start);
        visit(line);
        if (end == std::string_view::npos)
            return;
        start = end + 1;
        if (start < text.size() && text[start] == '\n')
            ++start;
    }
}

}  // namespace

bool startWordRun(OfficeSession& session) {
    try {
        session.wordApp = session.automation.createWord(po::Purpose::Search);
        session.wordApp->setVisible(false);
        session.savedDisplayAlerts = session.wordApp->displayAlerts();
        session.wordApp->setDisplayAlerts(0);
        return true;
    } catch (const Error& failure) {
        app::logWrite(kRunPlace, std::string("Word起動失敗 ErrNo=") +
                                     std::to_string(failure.code()) + " " + failure.what());
        session.wordApp.reset();
        return false;
    }
}

void endWordRun(OfficeSession& session) {
    if (!session.wordApp)
        return;
    try {
        session.wordApp->setDisplayAlerts(session.savedDisplayAlerts);
        session.wordApp->quit();
    } catch (const Error& failure) {
        app::logWrite(kRunPlace, std::string("Word終了失敗 ErrNo=") +
                                     std::to_string(failure.code()) + " " + failure.what());
    }
    session.wordApp.reset();
}

// Every line of an element (a sentence or a shape's text; in fast mode a line) is matched and
// reported at the element's index; the stop request is looked at after each element whose index
// is a multiple of 500.
class WordSearcher::Matcher final : public pipeline::DocumentMatcher {
  public:
    using DocumentMatcher::DocumentMatcher;

    bool unit(const documents::UnitView& element) override {
        forEachLine(element.text, [&](std::string_view line) {
            const std::int32_t at = m_context.matcher.smartFind(line);
            if (at != 0) {
                search::addResult(m_context.host, app::FileType::Word, m_name, line, m_path,
                                  std::to_string(element.place) + "," + std::to_string(at));
            }
        });
        return element.place % kCheckEvery != 0 || !abortRequested(m_context.host, m_context.flags);
    }

    bool finish(const pipeline::Extraction& extraction) override {
        if (extraction.failure)
            reportFailure(extraction.failure->position, extraction.failure->errorNumber);
        return DocumentMatcher::finish(extraction);
    }

  private:
    void reportFailure(int position, long errorNumber) {
        if (errorNumber == po::stoppedCallError) {
            // The stop ended the office in the middle of the document: told as any stop.
            abortRequested(m_context.host, m_context.flags);
            return;
        }
        m_context.host.showMessage(searchErrorText(position, errorNumber, m_path),
                                   app::MessageStyle::Exclamation);
        app::logWrite(kLogPlace, "エラー発生 Pos=" + std::to_string(position) + " ErrNo=" +
                                     std::to_string(errorNumber) + " ファイル名=" + m_path);
    }
};

WordSearcher::WordSearcher(OfficeSession& session, const search::SearchContext& context,
                           OfficeReading reading)
    : OfficeSearcher(session, context, std::move(reading), std::make_unique<Matcher>(context)) {}

bool WordSearcher::find_doc(const std::string& path) {
    return search(path, documents::Kind::WordNormal);
}

bool WordSearcher::find_docFast(const std::string& path) {
    return search(path, documents::Kind::WordFast);
}

bool WordSearcher::find(const std::string& path) {
    return m_context.settings.wordFast ? find_docFast(path) : find_doc(path);
}

bool getRunningWord(OfficeSession& session, std::unique_ptr<po::WordApplication>& wordApp) {
    try {
        wordApp = session.automation.runningWord(po::Purpose::Open);
    } catch (const Error& failure) {
        // As when none runs: the caller starts one.
        app::logWrite("getRunningWord", failure.what());
        wordApp.reset();
    }
    return wordApp != nullptr;
}

void openWordFile(OfficeSession& session, app::Host& host, const app::Settings& settings,
                  const std::string& path, const std::string& text) {
    int position = 0;
    std::unique_ptr<po::WordApplication> wordApp;
    try {
        if (!getRunningWord(session, wordApp))
            wordApp = session.automation.createWord(po::Purpose::Open);
        position = 1;
        auto document = wordApp->open(path, po::OpenOptions{false, true});
        wordApp->setVisible(true);
        position = 2;
        if (!settings.noJump) {
            position = 3;
            wordApp->findAndSelect(text);  // not finding it leaves the document at its start
            position = 5;
        }
    } catch (const Error& failure) {
        app::logWrite("openWordFile", std::string("ErrNo=") + std::to_string(failure.code()) + " " +
                                          failure.what());
        host.showMessage(session.automation.withMissingPart(
                             po::Application::Word,
                             "Word文書を開く際にエラーが発生しました\rファイル名:" + path +
                                 "\r文字列:" + text + "\r原因コード=" + std::to_string(position)),
                         app::MessageStyle::Critical);
    }
    // Dropping the reference leaves Word open and visible for the user.
}

}  // namespace ferretta::searchers::office
