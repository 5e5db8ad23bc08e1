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

bool startOfficeApplication(OfficeSession& session, app::Host& host, FileType type) {
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
    if (!started) {
        static constexpr std::string_view names[] = {"Word", "Excel", "PowerPoint"};
        host.showMessage(
            cannotStartText(session, application, names[static_cast<std::size_t>(application)]),
            app::MessageStyle::Critical);
    }
    return started;
}

bool startOfficeRun(OfficeSession& session, app::Host& host, const app::Settings& settings) {
    const auto& types = settings.fileTypes;
    // Without Word its files are skipped; without Excel or PowerPoint no search runs.
    if (types.isTarget(FileType::Word))
        startOfficeApplication(session, host, FileType::Word);
    if (types.isTarget(FileType::Excel) && !startOfficeApplication(session, host, FileType::Excel))
        return false;
    return !types.isTarget(FileType::PowerPoint) ||
           startOfficeApplication(session, host, FileType::PowerPoint);
}

void endStartedOffices(OfficeSession& session, app::Host& host) {
    endWordRun(session);
    if (session.excel.app)
        excelStopRun(host, session.excel);
    stopPowerPoint(session.powerPoint);
}

void endOfficeRun(OfficeSession& session, app::Host& host, const app::Settings& settings) {
    const auto& types = settings.fileTypes;
    // An application still held is ended even when its type was switched off meanwhile, so
    // that no hidden office outlives its run.
    endWordRun(session);
    if (types.isTarget(FileType::Excel) || session.excel.app)
        excelStopRun(host, session.excel);
    stopPowerPoint(session.powerPoint);
}

OfficeSearchers::OfficeSearchers(OfficeSession& session, const search::SearchContext& context,
                                 cache::SearchCache* cache)
    : m_session(session),
      m_settings(context.settings),
      m_word(session, context),
      m_excel(session, context),
      m_powerPoint(session, context),
      m_lazy(cache != nullptr) {
    if (cache == nullptr)
        return;
    // An application that cannot be started is told once; Word's files are then skipped, and
    // the search stops as it would not have started without Excel or PowerPoint.
    OfficeCacheUse use{cache, [this, &context](FileType type) {
                           if (m_failedToStart[static_cast<std::size_t>(type)])
                               return false;
                           if (startOfficeApplication(m_session, context.host, type))
                               return true;
                           m_failedToStart[static_cast<std::size_t>(type)] = true;
                           if (type != FileType::Word)
                               search::requestStop(context.flags);
                           return false;
                       }};
    m_word.useCache(use);
    m_excel.useCache(use);
    m_powerPoint.useCache(std::move(use));
}

void OfficeSearchers::install(search::SearcherRegistry& registry) {
    // The searchers are this object's, bound to the search's own context.
    auto bind = [](auto fileSearch) {
        return [fileSearch](const search::SearchContext&) -> search::SearcherRegistry::FileSearch {
            return fileSearch;
        };
    };
    // With the cache the applications start at the first document read live.
    const auto& types = m_settings.fileTypes;
    if (m_session.wordApp || (m_lazy && types.isTarget(FileType::Word))) {
        registry.setFileSearcher(FileType::Word, bind([this](const std::string& path) {
                                     return m_settings.wordFast ? m_word.find_docFast(path)
                                                                : m_word.find_doc(path);
                                 }));
    }
    if (m_session.excel.app || (m_lazy && types.isTarget(FileType::Excel))) {
        registry.setFileSearcher(FileType::Excel, bind([this](const std::string& path) {
                                     return m_excel.find_exl(path);
                                 }));
    }
    if (m_session.powerPoint.app || (m_lazy && types.isTarget(FileType::PowerPoint))) {
        registry.setFileSearcher(FileType::PowerPoint, bind([this](const std::string& path) {
                                     return m_powerPoint.find_ppt(path);
                                 }));
    }
}

}  // namespace ferretta::searchers::office
