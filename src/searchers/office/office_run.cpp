#include "searchers/office/office_run.h"

#include "app/file_types.h"

namespace ferretta::searchers::office {

namespace ft = app::fileType;
namespace po = platform::office;

bool startOfficeRun(OfficeSession& session, app::Host& host, const app::Settings& settings) {
    const auto& types = settings.fileTypes;
    if (types.isTarget(ft::word) && !startWordRun(session)) {
        host.showMessage(
            "Wordに関する操作が行えませんでした。\r設定でWordファイルを検索しない設定に変更して下さ"
            "い",
            app::MessageStyle::Critical);
    }
    if (types.isTarget(ft::excel) &&
        !excelStartRun(session.automation, session.excel, po::Purpose::Search)) {
        host.showMessage(
            "Excelに関する操作が行えませんでした。\r設定でExcelファイルを検索しない設定に変更して下"
            "さい",
            app::MessageStyle::Critical);
        return false;
    }
    if (types.isTarget(ft::powerPoint) &&
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
    if (types.isTarget(ft::excel) || session.excel.app)
        excelStopRun(host, session.excel);
    stopPowerPoint(session.powerPoint);
}

OfficeSearchers::OfficeSearchers(OfficeSession& session, app::Host& host,
                                 const app::Settings& settings, const search::Matcher& matcher,
                                 const search::SearchFlags& flags)
    : m_session(session),
      m_settings(settings),
      m_word(session, host, matcher, flags),
      m_excel(session, host, matcher),
      m_powerPoint(session, host, matcher, flags) {}

void OfficeSearchers::install(search::Finder& finder) {
    if (m_session.wordApp) {
        finder.setSearcher(ft::word, [this](const std::string& path) {
            return m_settings.wordFast ? m_word.find_docFast(path) : m_word.find_doc(path);
        });
    }
    if (m_session.excel.app) {
        finder.setSearcher(ft::excel,
                           [this](const std::string& path) { return m_excel.find_exl(path); });
    }
    if (m_session.powerPoint.app) {
        finder.setSearcher(ft::powerPoint,
                           [this](const std::string& path) { return m_powerPoint.find_ppt(path); });
    }
}

}  // namespace ferretta::searchers::office
