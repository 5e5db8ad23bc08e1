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

// Excel's cell find over each worksheet's cells: for every word the first cell, in Excel's
// order (by rows from the cell after A1, A1 last), whose text holds it; the words combined by
// the AND/OR mode. A workbook's hits wait for its end: a reader that gives the workbook up
// midway (to the office) leaves nothing behind.
class ExcelSearcher::Matcher final : public pipeline::DocumentMatcher {
  public:
    using DocumentMatcher::DocumentMatcher;

    void begin(const std::string& path) override {
        DocumentMatcher::begin(path);
        m_words.clear();
        for (int i = 0; i < m_context.matcher.targetStrsNumber(); ++i) {
            po::CellPattern pattern(platform::utf8ToUtf16(m_context.matcher.targetStr(i)));
            std::string plain = platform::utf16ToUtf8(pattern.plainRun());
            m_words.push_back({std::move(pattern), std::move(plain), {}, {}});
        }
        restart();
    }

    void restart() override {
        m_hits.clear();
        m_inSheet = false;
        m_wantsOffice = false;
    }

    void sheet(std::string_view name) override {
        endSheet();
        m_sheet = name;
        m_inSheet = true;
        m_pending = 0;
        for (Word& word : m_words) {
            word.found.reset();
            word.a1.reset();
            m_pending += word.pattern.empty() ? 0 : 1;
        }
    }

    bool unit(const documents::UnitView& cell) override {
        if (m_wantsOffice)
            return false;
        if (m_pending == 0)
            return true;
        // Most cells of a large sheet lack the word's kanji or hiragana: a byte search rules
        // them out before the cell is converted and folded.
        bool converted = false;
        const bool a1 = cell.row == 1 && cell.column == 1;
        for (Word& word : m_words) {
            if (word.found || word.pattern.empty() ||
                (!word.plain.empty() && cell.text.find(word.plain) == std::string_view::npos))
                continue;
            if (!converted) {
                m_text = platform::utf8ToUtf16(cell.text);
                converted = true;
            }
            if (!word.pattern.foundIn(m_text))
                continue;
            // For a formula the find reports its value.
            const bool formula = !cell.text.empty() && cell.text.front() == '=';
            Found found{std::string(formula ? cell.shown : cell.text), cell.row, cell.column,
                        !formula || cell.shownKnown};
            if (a1) {
                word.a1 = std::move(found);
            } else {
                word.found = std::move(found);
                --m_pending;
            }
        }
        return true;
    }

    bool unitsEnded() override {
        endSheet();
        return !m_wantsOffice;
    }

    bool finish(const pipeline::Extraction& extraction) override {
        for (app::Hit& hit : m_hits)
            search::addResult(m_context.host, std::move(hit));
        m_hits.clear();
        // A stop that ended the office in the middle of the workbook is no failure to tell.
        if (extraction.failure && extraction.failure->errorNumber != po::stoppedCallError) {
            m_context.host.showMessage(searchErrorText(extraction.failure->position,
                                                       extraction.failure->errorNumber, m_path),
                                       app::MessageStyle::Exclamation);
        }
        return extraction.outcome == pipeline::Outcome::Complete;
    }

  private:
    struct Found {
        std::string text;  // the cell's value as text
        std::int32_t row = 0;
        std::int32_t column = 0;
        bool known = true;  // false: a formula whose value the reader could not tell
    };
    struct Word {
        po::CellPattern pattern;
        std::string plain;           // the UTF-8 of pattern.plainRun(): every cell found holds it
        std::optional<Found> found;  // the first cell after A1 that holds the word
        std::optional<Found> a1;     // A1, when it holds the word: found last
    };

    // The cell the find gives for one word on the sheet, if any.
    static const Found* isExistStrInSheet(const Word& word) {
        return word.found ? &*word.found : word.a1 ? &*word.a1 : nullptr;
    }

    // Whether the sheet satisfies the query: every word (AND; the last word's cell is
    // reported) or any word (OR; the first word found is reported).
    const Found* find_exl2() const {
        const Found* cell = nullptr;
        for (const Word& word : m_words) {
            cell = isExistStrInSheet(word);
            if (m_context.matcher.isAndCondition() ? cell == nullptr : cell != nullptr)
                return cell;
        }
        return cell;
    }

    void endSheet() {
        if (!m_inSheet)
            return;
        m_inSheet = false;
        const Found* cell = find_exl2();
        if (cell == nullptr)
            return;
        if (!cell->known) {
            app::logWrite("find_exl", "LibreOfficeで読みます " + m_path +
                                          ": the value of a formula cell is not stored");
            m_wantsOffice = true;
            return;
        }
        m_hits.push_back({app::FileType::Excel, m_name + "[" + m_sheet + "]", cell->text, m_path,
                          std::to_string(cell->row) + "," + std::to_string(cell->column)});
    }

    std::vector<Word> m_words;
    std::string m_sheet;
    bool m_inSheet = false;
    std::size_t m_pending = 0;  // words without a cell after A1 yet
    std::u16string m_text;
    std::vector<app::Hit> m_hits;
    bool m_wantsOffice = false;
};

ExcelSearcher::ExcelSearcher(OfficeSession& session, const search::SearchContext& context,
                             OfficeReading reading)
    : OfficeSearcher(session, context, std::move(reading), std::make_unique<Matcher>(context)) {}

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
