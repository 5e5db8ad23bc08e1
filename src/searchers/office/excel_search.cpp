#include "searchers/office/excel_search.h"

#include "app/debug_log.h"
#include "app/file_types.h"
#include "platform/error.h"
#include "platform/office/cell_pattern.h"
#include "platform/unicode.h"
#include "search/hit.h"
#include "search/path_helpers.h"
#include "searchers/office/office_common.h"

namespace ferretta::searchers::office {

namespace po = platform::office;

namespace {

constexpr std::string_view kStartPlace = "excelStartRun";
constexpr std::string_view kStopPlace = "excelStopRun";

}  // namespace

bool excelStartRun(po::Automation& automation, ExcelSlot& slot, po::Purpose purpose) {
    try {
        slot.app = automation.runningExcel(purpose);
    } catch (const Error& failure) {
        app::logWrite(kStartPlace, failure.what());
        slot.app.reset();
    }
    if (slot.app) {
        slot.reused = true;
        try {
            slot.app->setVisible(false);
        } catch (const Error& failure) {
            // The user's Excel then stays visible during the search; nothing else changes.
            app::logWrite(kStartPlace, failure.what());
        }
        app::logWrite(kStartPlace, "Excel既存プロセス取得");
        return true;
    }
    slot.reused = false;
    try {
        slot.app = automation.createExcel(purpose);
    } catch (const Error& failure) {
        app::logWrite(kStartPlace, failure.what());
        slot.app.reset();
    }
    if (slot.app) {
        app::logWrite(kStartPlace, "Excelプロセス生成成功");
        return true;
    }
    app::logWrite(kStartPlace, "Excelプロセス生成失敗");
    return false;
}

void excelStopRun(app::Host& host, ExcelSlot& slot) {
    int position = 0;
    try {
        if (slot.reused) {
            position = 1;
            slot.reused = false;
            if (!slot.app)
                throw Error(Error::Kind::Automation, "Excel is not held", kNoObjectError);
            slot.app->setVisible(true);
        } else {
            position = 2;
            if (!slot.app)
                throw Error(Error::Kind::Automation, "Excel is not held", kNoObjectError);
            slot.app->setDisplayAlerts(false);
            slot.app->quit();
        }
        slot.app.reset();
        app::logWrite(kStopPlace, "Excelプロセス 正常終了 position=" + std::to_string(position));
    } catch (const Error& failure) {
        host.showMessage("Excelプロセスの終了に失敗しました", app::MessageStyle::Critical);
        app::logWrite(kStopPlace, "Excel終了失敗 position=" + std::to_string(position));
        slot.app.reset();
    }
}

ExcelSearcher::ExcelSearcher(OfficeSession& session, const search::SearchContext& context)
    : m_session(session), m_host(context.host), m_matcher(context.matcher) {}

bool ExcelSearcher::find_exl(const std::string& path) {
    std::optional<cache::SearchCache::Entry> entry;
    if (m_cache.cache != nullptr) {
        // The Excel search looks its words up as they are, in every mode.
        entry = m_cache.cache->lookup(path, officeKey("excel"), true);
        if (entry->state != cache::Lookup::State::Miss) {
            m_host.noteFromCache();
            m_host.setCaptionOnSearching(path);
            if (entry->state == cache::Lookup::State::Found)
                matchKept(path, entry->extract);
            return true;
        }
        if (!m_cache.startApplication(app::FileType::Excel))
            return false;
    }
    // The same progress text as the other searchers.
    m_host.setCaptionOnSearching(path);
    int position = 0;
    std::unique_ptr<po::Workbook> workbook;
    try {
        if (!m_session.excel.app)
            throw Error(Error::Kind::Automation, "Excel is not running", kNoObjectError);
        workbook = m_session.excel.app->open(path, po::OpenOptions{true, false});
        position = 1;
        std::optional<cache::Extract> kept;
        if (entry)
            kept = readCells(*workbook);
        if (kept) {
            matchKept(path, *kept);
        } else {
            const std::string name = search::fileNameOf(path);
            const std::int32_t sheets = workbook->worksheetCount();
            for (std::int32_t i = 1; i <= sheets; ++i) {
                auto sheet = workbook->worksheet(i);
                m_session.foundCell.text.clear();
                if (find_exl2(*sheet))
                    reportSheet(path, name, sheet->name());
            }
        }
        position = 2;
        auto closing = std::move(workbook);
        closing->close();
        if (kept)
            m_cache.cache->store(*entry, officeKey("excel"), std::move(*kept));
        return true;
    } catch (const Error& failure) {
        if (workbook) {
            try {
                workbook->close();
            } catch (const Error& closeFailure) {
                // The workbook stays open in the run's Excel, which discards it when it quits.
                app::logWrite("find_exl", closeFailure.what());
            }
        }
        // A stop that ended the office in the middle of the workbook is no failure to tell.
        if (failure.code() != po::stoppedCallError) {
            m_host.showMessage(searchErrorText(position, failure.code(), path),
                               app::MessageStyle::Exclamation);
        }
        return false;
    }
}

void ExcelSearcher::reportSheet(const std::string& path, const std::string& name,
                                const std::string& sheet) {
    const auto& cell = m_session.foundCell;
    search::addResult(m_host, app::FileType::Excel, name + "[" + sheet + "]", cell.text, path,
                      std::to_string(cell.row) + "," + std::to_string(cell.column));
}

std::optional<cache::Extract> ExcelSearcher::readCells(po::Workbook& workbook) {
    cache::Extract kept;
    const std::int32_t sheets = workbook.worksheetCount();
    for (std::int32_t i = 1; i <= sheets; ++i) {
        auto sheet = workbook.worksheet(i);
        kept.names.push_back(sheet->name());
        std::vector<po::SheetCell> cells;
        try {
            cells = sheet->cells();
        } catch (const Error& failure) {
            // A sheet too large to read whole: the workbook is searched as without a cache.
            app::logWrite("find_exl", failure.what());
            return std::nullopt;
        }
        for (auto& cell : cells)
            kept.units.push_back(
                {i, cell.row, cell.column, std::move(cell.text), std::move(cell.value)});
    }
    return kept;
}

void ExcelSearcher::matchKept(const std::string& path, const cache::Extract& kept) {
    const std::string name = search::fileNameOf(path);
    std::span<const cache::Unit> rest(kept.units);
    for (std::size_t i = 0; i < kept.names.size(); ++i) {
        std::size_t onSheet = 0;
        while (onSheet < rest.size() && rest[onSheet].place == static_cast<std::int32_t>(i + 1))
            ++onSheet;
        const auto cells = rest.first(onSheet);
        rest = rest.subspan(onSheet);
        m_session.foundCell.text.clear();
        const auto found = [&](int word) { return findKept(cells, m_matcher.targetStr(word)); };
        bool satisfied = false;
        if (m_matcher.isAndCondition()) {
            satisfied = true;
            for (int w = 0; w < m_matcher.targetStrsNumber() && satisfied; ++w)
                satisfied = found(w);
        } else {
            for (int w = 0; w < m_matcher.targetStrsNumber() && !satisfied; ++w)
                satisfied = found(w);
        }
        if (satisfied)
            reportSheet(path, name, kept.names[i]);
    }
}

bool ExcelSearcher::findKept(std::span<const cache::Unit> cells, const std::string& word) {
    const po::CellPattern pattern(platform::utf8ToUtf16(word));
    if (pattern.empty())
        return false;
    // Excel's order: by rows from the cell after A1, A1 last.
    const cache::Unit* found = nullptr;
    for (const cache::Unit& cell : cells) {
        if (!pattern.foundIn(platform::utf8ToUtf16(cell.text)))
            continue;
        found = &cell;
        if (cell.row != 1 || cell.column != 1)
            break;
    }
    if (found == nullptr)
        return false;
    // For a formula the find reports its value.
    const bool formula = !found->text.empty() && found->text.front() == '=';
    m_session.foundCell = {formula ? found->shown : found->text, found->row, found->column};
    return true;
}

bool ExcelSearcher::find_exl2(po::Worksheet& sheet) {
    const int words = m_matcher.targetStrsNumber();
    if (m_matcher.isAndCondition()) {
        for (int i = 0; i < words; ++i) {
            if (!isExistStrInSheet(sheet, m_matcher.targetStr(i)))
                return false;
        }
        return true;
    }
    for (int i = 0; i < words; ++i) {
        if (isExistStrInSheet(sheet, m_matcher.targetStr(i)))
            return true;
    }
    return false;
}

bool ExcelSearcher::isExistStrInSheet(po::Worksheet& sheet, const std::string& word) {
    try {
        auto cell = sheet.findCell(word);
        if (!cell)
            return false;
        m_session.foundCell = std::move(*cell);
        return true;
    } catch (const Error& failure) {
        app::logWrite("isExistStrInSheet", failure.what());
        return false;
    }
}

void openExcelFile(OfficeSession& session, app::Host& host, const app::Settings& settings,
                   const std::string& path, const std::string& sheet, const std::string& position) {
    int step = 1;
    ExcelSlot slot;
    if (!excelStartRun(session.automation, slot, po::Purpose::Open)) {
        host.showMessage(session.automation.withMissingPart(po::Application::Excel,
                                                            "Excelの操作が行えませんでした"),
                         app::MessageStyle::Critical);
        return;
    }
    try {
        step = 2;
        slot.app->setVisible(true);
        auto workbook = slot.app->open(path, po::OpenOptions{false, true});
        step = 3;
        if (!settings.noJump && !sheet.empty()) {
            auto worksheet = workbook->worksheetNamed(sheet);
            worksheet->activate();
            step = 4;
            const std::size_t comma = position.find(',');
            if (comma == std::string::npos)
                throw Error(Error::Kind::Automation, "position without a column", kSubscriptError);
            const std::string_view text(position);
            const std::int16_t row = toInteger16(text.substr(0, comma));
            std::string_view column = text.substr(comma + 1);
            column = column.substr(0, column.find(','));
            worksheet->selectCell(row, toInteger16(column));
            step = 5;
        }
    } catch (const Error& failure) {
        app::logWrite("openExcelFile", std::string("ErrNo=") + std::to_string(failure.code()) +
                                           " " + failure.what());
        host.showMessage("Excel文書を開く際にエラーが発生しました\rファイル名:" + path +
                             "\rシート名:" + sheet + "\r原因コード:" + std::to_string(step),
                         app::MessageStyle::Critical);
    }
    // Dropping the references leaves Excel open and visible for the user.
}

}  // namespace ferretta::searchers::office
