#include "searchers/office/word_search.h"

#include <algorithm>

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
constexpr std::int64_t kCheckEvery = 500;

// Calls `visit(line)` for each line of the text split at CR, a CR LF pair counting as one CR.
template <class Visit>
void forEachLine(std::string_view text, bool crLfIsOneBreak, Visit&& visit) {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find('\r', start);
        std::string_view line =
            text.substr(start, end == std::string_view::npos ? text.npos : end - start);
        visit(line);
        if (end == std::string_view::npos)
            return;
        start = end + 1;
        if (crLfIsOneBreak && start < text.size() && text[start] == '\n')
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

WordSearcher::WordSearcher(OfficeSession& session, const search::SearchContext& context)
    : m_session(session),
      m_host(context.host),
      m_matcher(context.matcher),
      m_flags(context.flags) {}

std::unique_ptr<po::WordDocument> WordSearcher::openForSearch(const std::string& path,
                                                              int& position) {
    m_host.setCaptionOnSearching(path);
    position = 0;
    if (!m_session.wordApp)
        throw Error(Error::Kind::Automation, "Word is not running", kNoObjectError);
    m_session.wordApp->setVisible(false);
    auto document = m_session.wordApp->open(path, po::OpenOptions{true, true});
    position = 1;
    return document;
}

void WordSearcher::reportFailure(const std::string& path, int position, long errorNumber) {
    if (errorNumber == po::stoppedCallError) {
        // The stop ended the office in the middle of the document: told as any stop.
        abortRequested(m_host, m_flags);
        return;
    }
    m_host.showMessage(searchErrorText(position, errorNumber, path),
                       app::MessageStyle::Exclamation);
    app::logWrite(kLogPlace, "エラー発生 Pos=" + std::to_string(position) +
                                 " ErrNo=" + std::to_string(errorNumber) + " ファイル名=" + path);
}

void WordSearcher::matchLine(const std::string& path, const std::string& name,
                             std::string_view line, std::int64_t index) {
    const std::int32_t at = m_matcher.smartFind(line);
    if (at != 0) {
        search::addResult(m_host, app::FileType::Word, name, line, path,
                          std::to_string(index) + "," + std::to_string(at));
    }
}

std::optional<cache::SearchCache::Entry> WordSearcher::lookUp(const std::string& path,
                                                              std::string_view kind) {
    if (m_cache.cache == nullptr)
        return std::nullopt;
    return m_cache.cache->lookup(path, officeKey(kind));
}

bool WordSearcher::find_doc(const std::string& path) {
    auto entry = lookUp(path, "word");
    if (entry && entry->state != cache::Lookup::State::Miss) {
        m_host.noteFromCache();
        m_host.setCaptionOnSearching(path);
        return entry->state == cache::Lookup::State::CannotMatch ||
               matchElements(path, entry->extract.units);
    }
    if (entry && !m_cache.startApplication(app::FileType::Word))
        return false;
    int position = 0;
    std::vector<std::string> sentences;
    std::vector<std::string> shapes;
    std::int64_t sentenceCount = 0;
    try {
        auto document = openForSearch(path, position);
        sentenceCount = std::max<std::int32_t>(document->sentenceCount(), 0);
        app::logWrite(kLogPlace, "sNum=" + std::to_string(sentenceCount));
        position = 2;
        const std::int32_t shapeCount = std::max<std::int32_t>(document->shapeCount(), 0);
        app::logWrite(kLogPlace, "aNum=" + std::to_string(shapeCount));
        position = 3;
        // Sizing the element list; a count a damaged file makes huge must not reserve memory.
        shapes.reserve(static_cast<std::size_t>(std::min<std::int32_t>(shapeCount, 4096)));
        position = 4;
        sentences = document->sentenceTexts();
        // Sentences past the count are not Word's; missing ones are empty elements.
        if (static_cast<std::int64_t>(sentences.size()) > sentenceCount)
            sentences.resize(static_cast<std::size_t>(sentenceCount));
        position = 5;
        for (std::int32_t j = 1; j <= shapeCount; ++j) {
            // A shape without text (a picture, a line) leaves its element empty.
            try {
                shapes.push_back(document->shapeText(j));
            } catch (const Error&) {
                shapes.emplace_back();
            }
        }
        position = 7;
        document->close();
    } catch (const Error& failure) {
        reportFailure(path, position, failure.code());
        return false;
    }

    // The elements that are not empty, with their indexes: sentences 1..n, shape j as n + j.
    std::vector<cache::Unit> elements;
    for (std::size_t i = 0; i < sentences.size(); ++i) {
        if (!sentences[i].empty())
            elements.push_back({static_cast<std::int32_t>(i + 1), 0, 0, sentences[i], ""});
    }
    for (std::size_t j = 0; j < shapes.size(); ++j) {
        if (!shapes[j].empty()) {
            elements.push_back(
                {static_cast<std::int32_t>(sentenceCount + static_cast<std::int64_t>(j) + 1), 0, 0,
                 shapes[j], ""});
        }
    }
    if (entry)
        m_cache.cache->store(*entry, officeKey("word"), cache::Extract{{}, elements, 0, "", 0});
    return matchElements(path, elements);
}

bool WordSearcher::matchElements(const std::string& path, std::span<const cache::Unit> elements) {
    const std::string name = search::fileNameOf(path);
    // Every line of an element shares the element's index; the stop request is looked at
    // after each non-empty element whose index is a multiple of 500.
    for (const cache::Unit& element : elements) {
        forEachLine(element.text, true,
                    [&](std::string_view line) { matchLine(path, name, line, element.place); });
        if (element.place % kCheckEvery == 0 && abortRequested(m_host, m_flags))
            return false;
    }
    return true;
}

bool WordSearcher::find_docFast(const std::string& path) {
    auto entry = lookUp(path, "word-fast");
    if (entry && entry->state != cache::Lookup::State::Miss) {
        m_host.noteFromCache();
        m_host.setCaptionOnSearching(path);
        return entry->state == cache::Lookup::State::CannotMatch ||
               matchLines(path, entry->extract.units);
    }
    if (entry && !m_cache.startApplication(app::FileType::Word))
        return false;
    int position = 0;
    std::string text;
    try {
        auto opened = openForSearch(path, position);
        // The document is looked up again among the open ones by its full name, as Word knows
        // it; the handle that Open gave is not used further.
        opened.reset();
        std::unique_ptr<po::WordDocument> document;
        const std::int32_t count = m_session.wordApp->documentCount();
        for (std::int32_t i = 1; i <= count && !document; ++i) {
            auto candidate = m_session.wordApp->document(i);
            if (candidate->fullName() == path)
                document = std::move(candidate);
        }
        position = 2;
        if (!document) {
            // Not an automation failure: the message carries no error number.
            reportFailure(path, position, 0);
            return false;
        }
        position = 3;
        const std::int32_t characters = document->characterCount();
        document->selectRange(0, characters);
        position = 4;
        text = m_session.wordApp->selectionText();
        position = 5;
        document->close();
        position = 6;
    } catch (const Error& failure) {
        reportFailure(path, position, failure.code());
        return false;
    }

    // The lines that are not empty, with their 0-based indexes.
    std::vector<cache::Unit> lines;
    std::int32_t index = 0;
    forEachLine(text, false, [&](std::string_view line) {
        if (!line.empty())
            lines.push_back({index, 0, 0, std::string(line), ""});
        ++index;
    });
    if (entry)
        m_cache.cache->store(*entry, officeKey("word-fast"), cache::Extract{{}, lines, 0, "", 0});
    return matchLines(path, lines);
}

bool WordSearcher::matchLines(const std::string& path, std::span<const cache::Unit> lines) {
    const std::string name = search::fileNameOf(path);
    // The stop request is looked at after each non-empty line whose index is a multiple of 500.
    for (const cache::Unit& line : lines) {
        matchLine(path, name, line.text, line.place);
        if (line.place % kCheckEvery == 0 && abortRequested(m_host, m_flags))
            return false;
    }
    return true;
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
