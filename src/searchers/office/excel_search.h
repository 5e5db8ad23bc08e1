#pragma once
// Excel workbooks: one Excel per search run (a running one is borrowed and given back), each
// worksheet searched with Excel's own cell find for every word, the AND/OR mode combining the
// answers, and the opener of an Excel hit.
#include <optional>
#include <span>
#include <string>

#include "app/host.h"
#include "app/settings.h"
#include "search/query.h"
#include "search/search_context.h"
#include "searchers/office/office_cache.h"
#include "searchers/office/office_session.h"

namespace ferretta::searchers::office {

// Fills the slot with a running Excel (hidden for the time being, `reused` set) or else a new
// one (`reused` cleared). False when neither can be had. Never throws.
bool excelStartRun(platform::office::Automation& automation, ExcelSlot& slot,
                   platform::office::Purpose purpose);

// Ends the slot's use: a borrowed Excel is shown again and left running, a created one quits
// without alerts; the reference is dropped either way. When that fails, also when no Excel is
// held at all (its start failed), the user is told "Excelプロセスの終了に失敗しました". Never
// throws.
void excelStopRun(app::Host& host, ExcelSlot& slot);

class ExcelSearcher {
  public:
    // The session and the context's references must outlive the searcher.
    ExcelSearcher(OfficeSession& session, const search::SearchContext& context);

    // Searches every worksheet of the workbook in the run's Excel and reports one hit per
    // worksheet that satisfies the query: name "book.xls[Sheet]", the found cell's text,
    // "row,column". True when the workbook was searched to its end; false after a failure,
    // which is reported with the step reached (0 opening, 1 worksheets, 2 closing) and the
    // error number; the workbook is closed then when it was opened.
    bool find_exl(const std::string& path);

    // Whether the worksheet satisfies the query: every word (AND) or any word (OR), looked up
    // in order; the found-cell record then names the cell of the last word looked up.
    bool find_exl2(platform::office::Worksheet& sheet);

    // Whether the word occurs in a cell (case and width ignored, containment); on true the
    // found-cell record holds that cell. A failing find answers false.
    bool isExistStrInSheet(platform::office::Worksheet& sheet, const std::string& word);

    // With a cache, workbooks are looked up there first; the cells read from any other workbook
    // are kept and searched with Excel's cell find done here.
    void useCache(OfficeCacheUse use) { m_cache = std::move(use); }

  private:
    void reportSheet(const std::string& path, const std::string& name, const std::string& sheet);
    // Every sheet's name and cells; nullopt when a sheet cannot be read whole.
    std::optional<cache::Extract> readCells(platform::office::Workbook& workbook);
    // find_exl2 and isExistStrInSheet over kept cells (place: sheet, shown: a formula's value).
    void matchKept(const std::string& path, const cache::Extract& kept);
    bool findKept(std::span<const cache::Unit> cells, const std::string& word);

    OfficeSession& m_session;
    app::Host& m_host;
    const search::Matcher& m_matcher;
    OfficeCacheUse m_cache;
};

// Opens the workbook in the user's Excel, visible, and unless NoJump is set activates the sheet
// and selects the cell of the position "row,column" (nothing is selected when the sheet name is
// empty: a hit on the file name). Excel stays open. When no Excel can be had:
// "Excelの操作が行えませんでした"; any other failure shows
// "Excel文書を開く際にエラーが発生しました" with the file, the sheet and the step reached (1 to 5).
void openExcelFile(OfficeSession& session, app::Host& host, const app::Settings& settings,
                   const std::string& path, const std::string& sheet, const std::string& position);

}  // namespace ferretta::searchers::office
