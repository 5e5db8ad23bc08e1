#pragma once
// Excel workbooks: one Excel per search run (a running one is borrowed and given back), each
// worksheet searched with Excel's own cell find for every word, the AND/OR mode combining the
// answers, and the opener of an Excel hit.
#include <memory>
#include <string>

#include "app/host.h"
#include "app/settings.h"
#include "search/query.h"
#include "search/search_context.h"
#include "searchers/office/office_readers.h"
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

class ExcelSearcher : public OfficeSearcher {
  public:
    // The session and the context's references must outlive the searcher.
    ExcelSearcher(OfficeSession& session, const search::SearchContext& context,
                  OfficeReading reading = {});

    // Searches every worksheet of the workbook and reports one hit per worksheet that satisfies
    // the query: name "book.xls[Sheet]", the found cell's text, "row,column". The hits come
    // when the workbook has been read. True when the workbook was searched to its end; false
    // after a failure, which is reported with the step reached (0 opening, 1 worksheets, 2
    // closing) and the error number.
    bool find_exl(const std::string& path) { return search(path, documents::Kind::Excel); }

  private:
    class Matcher;
};

// Opens the workbook in the user's Excel, visible, and unless NoJump is set activates the sheet
// and selects the cell of the position "row,column" (nothing is selected when the sheet name is
// empty: a hit on the file name). Excel stays open. When no Excel can be had:
// "Excelの操作が行えませんでした"; any other failure shows
// "Excel文書を開く際にエラーが発生しました" with the file, the sheet and the step reached (1 to 5).
void openExcelFile(OfficeSession& session, app::Host& host, const app::Settings& settings,
                   const std::string& path, const std::string& sheet, const std::string& position);

}  // namespace ferretta::searchers::office
