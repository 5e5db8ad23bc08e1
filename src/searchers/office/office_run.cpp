#include "searchers/office/office_run.h"

#include "app/file_types.h"

namespace ferretta::searchers::office {

using app::FileType;
namespace po = platform::office;

bool startOfficeRun(OfficeSession& session, app::Host& host, const app::Settings& settings) {
    const auto& types = settings.fileTypes;
    if (types.isTarget(FileType::Word) && !startWordRun(session)) {
        host.showMessage(
            "Wordに関する操作が行えませんでした。\r設定でWordファイルを検索しない設定に変更して下さ"
            "い",
            app::MessageStyle::Critical);
    }
    if (types.isTarget(FileType::Excel) &&
        !excelStartRun(session.automation, session.excel, po::Purpose::Search)) {
        host.showMessage(
            "Excelに関する操作が行えませんでした。\r設定でExcelファイルを検索しない設定に変更して下"
            "さい",
            app::MessageStyle::Critical);
        return false;
    }
    if (types.isTarget(FileType::PowerPoint) &&
        !startPowerPoint(session.automation, session.powerPoint, po::Purpose::Search)) {
        host.showMessage(
            "PowerPointに関する操作が行えませんでした。\r"
            "設定でPowerPointファイルを検索しない設定に変更して下さい",
            app::MessageStyle::Critical);
        return false;
    }
    return true;
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

OfficeSearchers::OfficeSearchers(OfficeSession& session, const search::SearchContext& context)
    : m_session(session),
      m_settings(context.settings),
      m_word(session, context),
      m_excel(session, context),
      m_powerPoint(session, context) {}

void OfficeSearchers::install(search::SearcherRegistry& registry) {
    // The searchers are this object's, bound to the search's own context.
    auto bind = [](auto fileSearch) {
        return [fileSearch](const search::SearchContext&) -> search::SearcherRegistry::FileSearch {
            return fileSearch;
        };
    };
    if (m_session.wordApp) {
        registry.setFileSearcher(FileType::Word, bind([this](const std::string& path) {
                                     return m_settings.wordFast ? m_word.find_docFast(path)
                                                                : m_word.find_doc(path);
                                 }));
    }
    if (m_session.excel.app) {
        registry.setFileSearcher(FileType::Excel, bind([this](const std::string& path) {
                                     return m_excel.find_exl(path);
                                 }));
    }
    if (m_session.powerPoint.app) {
        registry.setFileSearcher(FileType::PowerPoint, bind([this](const std::string& path) {
                                     return m_powerPoint.find_ppt(path);
                                 }));
    }
}

}  // namespace ferretta::searchers::office
