#include "searchers/office/office_run.h"

#include "app/file_types.h"

namespace ferretta::searchers::office {

using app::FileType;
namespace po = platform::office;

namespace {

std::string cannotStartText(const OfficeSession& session, po::Application application,
                            std::string_view name) {
    const std::string typeName(name);
    return session.automation.withMissingPart(
        application, typeName + "に関する操作が行えませんでした。\r設定で" + typeName +
                         "ファイルを検索しない設定に変更して下さい");
}

}  // namespace

bool startOfficeApplication(OfficeSession& session, app::Host& host, FileType type,
                            const search::SearchFlags& flags) {
    bool started = false;
    po::Application application = po::Application::Word;
    switch (type) {
        case FileType::Word:
            started = session.wordApp || startWordRun(session);
            break;
        case FileType::Excel:
            application = po::Application::Excel;
            started = session.excel.app ||
                      excelStartRun(session.automation, session.excel, po::Purpose::Search);
            break;
        case FileType::PowerPoint:
            application = po::Application::PowerPoint;
            started = session.powerPoint.app ||
                      startPowerPoint(session.automation, session.powerPoint, po::Purpose::Search);
            break;
        default:
            return false;
    }
    if (!started && !flags.isAbort) {
        static constexpr std::string_view names[] = {"Word", "Excel", "PowerPoint"};
        host.showMessage(
            cannotStartText(session, application, names[static_cast<std::size_t>(application)]),
            app::MessageStyle::Critical);
    }
    return started;
}

void endStartedOffices(OfficeSession& session, app::Host& host) {
    endWordRun(session);
    if (session.excel.app)
        excelStopRun(host, session.excel);
    stopPowerPoint(session.powerPoint);
}

OfficeSearchers::OfficeSearchers(OfficeSession& session, const search::SearchContext& context,
                                 cache::SearchCache* cache)
    : m_session(session),
      m_context(context),
      m_reading{cache, context.settings.officeNative,
                [this](FileType type) { return startApplication(type); }} {}

bool OfficeSearchers::startApplication(FileType type) {
    // Told once; the type's documents are then skipped.
    bool& failed = m_failedToStart[app::slotOf(type)];
    if (failed)
        return false;
    failed = !startOfficeApplication(m_session, m_context.host, type, m_context.flags);
    return !failed;
}

template <class Searcher, bool (Searcher::*find)(const std::string&)>
search::SearcherRegistry::MakeFileSearch OfficeSearchers::perContext() {
    // A searcher of its own for each context (the search's, each worker's).
    return [this](const search::SearchContext& context) -> search::SearcherRegistry::FileSearch {
        auto searcher = std::make_shared<Searcher>(m_session, context, m_reading);
        return [searcher](const std::string& path) { return ((*searcher).*find)(path); };
    };
}

void OfficeSearchers::install(search::SearcherRegistry& registry) {
    using search::SearcherRegistry;
    // Without the native readers every document needs the office: nothing to gain on workers.
    const auto threads = m_reading.native ? SearcherRegistry::Threads::Any
                                          : SearcherRegistry::Threads::UserInterface;
    const auto& types = m_context.settings.fileTypes;
    if (types.isTarget(FileType::Word))
        registry.setFileSearcher(FileType::Word, perContext<WordSearcher, &WordSearcher::find>(),
                                 threads);
    if (types.isTarget(FileType::Excel)) {
        registry.setFileSearcher(FileType::Excel,
                                 perContext<ExcelSearcher, &ExcelSearcher::find_exl>(), threads);
    }
    if (types.isTarget(FileType::PowerPoint)) {
        registry.setFileSearcher(FileType::PowerPoint,
                                 perContext<PowerPointSearcher, &PowerPointSearcher::find_ppt>(),
                                 threads);
    }
}

}  // namespace ferretta::searchers::office
