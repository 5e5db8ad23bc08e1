// Excel's object model over Calc. A sheet's used area is read in one call (a few for very
// large sheets) and Excel's cell find runs here over those texts. What is searched is each
// cell's formula text, as Excel's Find does by default (LookIn = formulas): the number as
// stored for a number ("1234.5", whatever its display format), the formula for a formula; the
// text reported for a found cell is its value (for a formula cell, the result Calc shows).
#include "drivers/office/libreoffice_calc.h"

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>

#include <algorithm>
#include <span>
#include <utility>

#include "drivers/office/libreoffice_connection.h"
#include "drivers/office/libreoffice_text.h"
#include "platform/unicode.h"

namespace ferretta::platform::office::lo {
namespace {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

// Cells read per call, and kept per sheet between finds: a sheet larger than that is read
// again, block by block, for every word, so memory stays bounded whatever the file holds.
constexpr std::int64_t kCellsPerBlock = 200'000;
constexpr std::int64_t kCellsKept = 1'000'000;

struct UsedArea {
    std::int32_t firstRow = 0;  // 0-based
    std::int32_t firstColumn = 0;
    std::int32_t lastRow = -1;
    std::int32_t lastColumn = -1;
    std::int64_t cells() const {
        return static_cast<std::int64_t>(lastRow - firstRow + 1) * (lastColumn - firstColumn + 1);
    }
};

UsedArea usedAreaOf(const Reference<css::sheet::XSpreadsheet>& sheet) {
    const auto cursor = sheet->createCursor();
    Reference<css::sheet::XUsedAreaCursor> used(cursor, UNO_QUERY_THROW);
    used->gotoStartOfUsedArea(false);
    used->gotoEndOfUsedArea(true);
    Reference<css::sheet::XCellRangeAddressable> addressable(cursor, UNO_QUERY_THROW);
    const css::table::CellRangeAddress address = addressable->getRangeAddress();
    return {address.StartRow, address.StartColumn, address.EndRow, address.EndColumn};
}

CellGrid readBlock(const Reference<css::sheet::XSpreadsheet>& sheet, const UsedArea& area,
                   std::int32_t firstRow, std::int32_t lastRow) {
    Reference<css::table::XCellRange> range(sheet, UNO_QUERY_THROW);
    Reference<css::sheet::XCellRangeFormula> formulas(
        range->getCellRangeByPosition(area.firstColumn, firstRow, area.lastColumn, lastRow),
        UNO_QUERY_THROW);
    const auto rows = formulas->getFormulaArray();
    CellGrid grid;
    grid.originRow = firstRow;
    grid.originColumn = area.firstColumn;
    grid.rows.reserve(static_cast<std::size_t>(rows.getLength()));
    for (const auto& row : rows) {
        auto& cells = grid.rows.emplace_back();
        cells.reserve(static_cast<std::size_t>(row.getLength()));
        for (const auto& cell : row)
            cells.push_back(toU16(cell));
    }
    return grid;
}

class CalcSheet final : public Worksheet {
  public:
    CalcSheet(std::shared_ptr<Office> office, std::uint64_t generation,
              Reference<css::lang::XComponent> document, Reference<css::sheet::XSpreadsheet> sheet)
        : m_office(std::move(office)),
          m_generation(generation),
          m_document(std::move(document)),
          m_sheet(std::move(sheet)) {}

    std::string name() override {
        return m_office->callOn(m_generation, [&] {
            Reference<css::container::XNamed> named(m_sheet, UNO_QUERY_THROW);
            return toUtf8(named->getName());
        });
    }

    std::optional<FoundCell> findCell(const std::string& what) override {
        const std::u16string word = utf8ToUtf16(what);
        return m_office->callOn(m_generation, [&]() -> std::optional<FoundCell> {
            if (!m_area)
                m_area = usedAreaOf(m_sheet);
            const UsedArea& area = *m_area;
            if (area.lastRow < area.firstRow || area.lastColumn < area.firstColumn) {
                return std::nullopt;
            }
            const bool keep = area.cells() <= kCellsKept;
            if (!keep || m_blocks.empty()) {
                m_blocks.clear();
                const std::int64_t width = area.lastColumn - area.firstColumn + 1;
                const auto rowsPerBlock =
                    static_cast<std::int32_t>(std::max<std::int64_t>(1, kCellsPerBlock / width));
                std::optional<GridHit> a1;
                for (std::int32_t row = area.firstRow; row <= area.lastRow; row += rowsPerBlock) {
                    const auto last = static_cast<std::int32_t>(std::min<std::int64_t>(
                        static_cast<std::int64_t>(row) + rowsPerBlock - 1, area.lastRow));
                    CellGrid block = readBlock(m_sheet, area, row, last);
                    if (!keep) {
                        // Too large to keep: searched as read, one block in memory at a time.
                        if (auto found =
                                findInBlocks(std::span<const CellGrid>(&block, 1), word, a1))
                            return toFound(*found);
                        continue;
                    }
                    m_blocks.push_back(std::move(block));
                }
                if (!keep)
                    return a1 ? std::optional<FoundCell>(toFound(*a1)) : std::nullopt;
            }
            std::optional<GridHit> a1;
            if (auto found = findInBlocks(m_blocks, word, a1))
                return toFound(*found);
            return a1 ? std::optional<FoundCell>(toFound(*a1)) : std::nullopt;
        });
    }

    void cells(const std::function<bool(std::vector<SheetCell>& block)>& take) override {
        const UsedArea area = m_office->callOn(m_generation, [&] {
            if (!m_area)
                m_area = usedAreaOf(m_sheet);
            return *m_area;
        });
        if (area.lastRow < area.firstRow || area.lastColumn < area.firstColumn)
            return;
        const std::int64_t width = area.lastColumn - area.firstColumn + 1;
        const auto rowsPerBlock =
            static_cast<std::int32_t>(std::max<std::int64_t>(1, kCellsPerBlock / width));
        for (std::int32_t row = area.firstRow; row <= area.lastRow; row += rowsPerBlock) {
            const auto last = static_cast<std::int32_t>(std::min<std::int64_t>(
                static_cast<std::int64_t>(row) + rowsPerBlock - 1, area.lastRow));
            // One call a block; the caller takes each block on its own thread between calls.
            std::vector<SheetCell> cells =
                m_office->callOn(m_generation, [&] { return readCells(area, row, last); });
            if (!take(cells))
                return;
        }
    }

    void activate() override {
        m_office->callOn(m_generation, [&] {
            Reference<css::frame::XModel> model(m_document, UNO_QUERY_THROW);
            Reference<css::sheet::XSpreadsheetView> view(model->getCurrentController(),
                                                         UNO_QUERY_THROW);
            view->setActiveSheet(m_sheet);
            // Read back: an office that ignored the call must not count as having shown it.
            // Sheets are compared by name: the view may hand out another object for the same one.
            Reference<css::container::XNamed> active(view->getActiveSheet(), UNO_QUERY);
            Reference<css::container::XNamed> wanted(m_sheet, UNO_QUERY_THROW);
            if (!active.is() || active->getName() != wanted->getName())
                throw css::uno::Exception("the sheet did not become the active one", nullptr);
        });
    }

    void selectCell(std::int32_t row, std::int32_t column) override {
        if (row < 1 || column < 1) {
            fail(kBadIndex, "No cell at " + std::to_string(row) + "," + std::to_string(column));
        }
        m_office->callOn(m_generation, [&] {
            Reference<css::table::XCellRange> range(m_sheet, UNO_QUERY_THROW);
            // Throws IndexOutOfBoundsException beyond the sheet's last row or column.
            const auto cell =
                range->getCellRangeByPosition(column - 1, row - 1, column - 1, row - 1);
            Reference<css::frame::XModel> model(m_document, UNO_QUERY_THROW);
            Reference<css::view::XSelectionSupplier> selection(model->getCurrentController(),
                                                               UNO_QUERY_THROW);
            selection->select(css::uno::Any(cell));
            Reference<css::sheet::XCellRangeAddressable> selected(selection->getSelection(),
                                                                  UNO_QUERY);
            const bool there = selected.is() && selected->getRangeAddress().StartRow == row - 1 &&
                               selected->getRangeAddress().StartColumn == column - 1;
            if (!there)
                throw css::uno::Exception("the cell did not become the selection", nullptr);
        });
    }

  private:
    // The cells that are not empty in rows first..last (0-based) of the used area; a formula's
    // value is what the find reports, as findCell does.
    std::vector<SheetCell> readCells(const UsedArea& area, std::int32_t first, std::int32_t last) {
        const CellGrid block = readBlock(m_sheet, area, first, last);
        Reference<css::table::XCellRange> range(m_sheet, UNO_QUERY_THROW);
        std::vector<SheetCell> cells;
        for (std::size_t r = 0; r < block.rows.size(); ++r) {
            for (std::size_t c = 0; c < block.rows[r].size(); ++c) {
                const std::u16string& text = block.rows[r][c];
                if (text.empty())
                    continue;
                SheetCell& cell = cells.emplace_back();
                cell.row = block.originRow + static_cast<std::int32_t>(r) + 1;
                cell.column = block.originColumn + static_cast<std::int32_t>(c) + 1;
                cell.text = utf16ToUtf8(text);
                if (text.front() == u'=') {
                    Reference<css::text::XTextRange> shown(
                        range->getCellByPosition(cell.column - 1, cell.row - 1), UNO_QUERY_THROW);
                    cell.value = toUtf8(shown->getString());
                }
            }
        }
        return cells;
    }

    // The first hit other than A1 in blocks that follow each other by rows; a hit on A1 (which
    // Excel visits last) is left in a1 for the caller to answer when nothing else is found.
    static std::optional<GridHit> findInBlocks(std::span<const CellGrid> blocks,
                                               const std::u16string& word,
                                               std::optional<GridHit>& a1) {
        for (const CellGrid& block : blocks) {
            // Within a block that holds A1, findInGrid already visits it last.
            std::optional<GridHit> hit = findInGrid(block, word);
            if (!hit)
                continue;
            if (hit->row == 1 && hit->column == 1) {
                a1 = std::move(hit);
                continue;
            }
            return hit;
        }
        return std::nullopt;
    }

    FoundCell toFound(const GridHit& hit) {
        FoundCell found{utf16ToUtf8(hit.text), hit.row, hit.column};
        if (!hit.text.empty() && hit.text.front() == u'=') {
            // A formula: the value, not the formula, is what Excel hands back.
            Reference<css::table::XCellRange> range(m_sheet, UNO_QUERY_THROW);
            Reference<css::text::XTextRange> cell(
                range->getCellByPosition(hit.column - 1, hit.row - 1), UNO_QUERY_THROW);
            found.text = toUtf8(cell->getString());
        }
        return found;
    }

    std::shared_ptr<Office> m_office;
    std::uint64_t m_generation;
    Reference<css::lang::XComponent> m_document;
    Reference<css::sheet::XSpreadsheet> m_sheet;
    std::optional<UsedArea> m_area;
    std::vector<CellGrid> m_blocks;
};

class CalcWorkbook final : public Workbook {
  public:
    CalcWorkbook(std::shared_ptr<Office> office, std::uint64_t generation,
                 Reference<css::lang::XComponent> document)
        : m_office(std::move(office)), m_generation(generation), m_document(std::move(document)) {}

    std::int32_t worksheetCount() override {
        return m_office->callOn(m_generation, [&] { return sheets()->getCount(); });
    }

    std::unique_ptr<Worksheet> worksheet(std::int32_t index) override {
        return m_office->callOn(m_generation, [&]() -> std::unique_ptr<Worksheet> {
            const auto all = sheets();
            if (index < 1 || index > all->getCount()) {
                fail(kBadIndex, "No worksheet " + std::to_string(index));
            }
            Reference<css::sheet::XSpreadsheet> sheet(all->getByIndex(index - 1), UNO_QUERY_THROW);
            return std::make_unique<CalcSheet>(m_office, m_generation, m_document, sheet);
        });
    }

    std::unique_ptr<Worksheet> worksheetNamed(const std::string& name) override {
        return m_office->callOn(m_generation, [&]() -> std::unique_ptr<Worksheet> {
            Reference<css::container::XNameAccess> byName(sheets(), UNO_QUERY_THROW);
            const rtl::OUString wanted = toOUString(name);
            if (!byName->hasByName(wanted))
                fail(kBadIndex, "No worksheet named " + name);
            Reference<css::sheet::XSpreadsheet> sheet(byName->getByName(wanted), UNO_QUERY_THROW);
            return std::make_unique<CalcSheet>(m_office, m_generation, m_document, sheet);
        });
    }

    void close() override {
        m_office->callOn(m_generation, [&] { closeDocument(m_document); });
    }

  private:
    Reference<css::container::XIndexAccess> sheets() {
        Reference<css::sheet::XSpreadsheetDocument> spreadsheet(m_document, UNO_QUERY_THROW);
        return Reference<css::container::XIndexAccess>(spreadsheet->getSheets(), UNO_QUERY_THROW);
    }

    std::shared_ptr<Office> m_office;
    std::uint64_t m_generation;
    Reference<css::lang::XComponent> m_document;
};

class CalcApplication final : public ExcelApplication {
  public:
    explicit CalcApplication(std::shared_ptr<Office> office)
        : m_hold(std::move(office), "com.sun.star.sheet.SpreadsheetDocument", "Excel") {}

    void setVisible(bool visible) override { m_hold.setVisible(visible); }
    void setDisplayAlerts(bool) override {}
    void quit() override { m_hold.quit(); }

    std::unique_ptr<Workbook> open(const std::string& path, const OpenOptions& options) override {
        Office& lo = m_hold.office();
        lo.startDocumentClock();
        return lo.call([&]() -> std::unique_ptr<Workbook> {
            bool reused = false;
            const auto component =
                loadDocument(lo, path, lo.purpose() != Purpose::Open, options.readOnly, &reused);
            Reference<css::sheet::XSpreadsheetDocument> spreadsheet(component, UNO_QUERY);
            if (!spreadsheet.is()) {
                if (!reused)
                    closeDocument(component);
                fail(kCannotOpen, "Not a spreadsheet: " + path);
            }
            return std::make_unique<CalcWorkbook>(m_hold.shared(), lo.generation(), component);
        });
    }

  private:
    ApplicationHold m_hold;
};

}  // namespace

std::unique_ptr<ExcelApplication> makeCalcApplication(std::shared_ptr<Office> office) {
    return std::make_unique<CalcApplication>(std::move(office));
}

}  // namespace ferretta::platform::office::lo
