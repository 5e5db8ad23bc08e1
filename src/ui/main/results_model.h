#pragma once
// The results list: one row per hit in four text columns, the file type's icon in the first,
// an optional colour in the second, and the list view's sorting by a clicked column.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <QAbstractTableModel>
#include <QColor>

#include "app/host.h"
#include "ui/main/file_type_icons.h"

namespace ferretta::ui::main {

class ResultsModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    static constexpr int columnCountFixed = 4;
    // The handle answered for a row that was not taken (the list is full).
    static constexpr std::size_t noHandle = static_cast<std::size_t>(-1);

    explicit ResultsModel(QObject* parent = nullptr);

    // The columns' widths when the window opens, in twips (1/1440 inch), left to right.
    static std::array<int, columnCountFixed> initialColumnWidthsTwips();

    // Adds one hit: at the end while sorting is off, else at its sorted place (after the rows
    // with an equal key). Answers a handle for setContentColor that stays valid until clear().
    // The texts are kept whole; cells show at most a few thousand bytes of each. Once the list
    // holds INT_MAX - 1 rows, further hits are dropped and answer noHandle.
    std::size_t addResult(const app::Hit& hit);

    // Colours the content cell of the row of a handle. An invalid colour takes the colour away
    // again; handles from before the last clear(), noHandle and unknown handles are ignored.
    void setContentColor(std::size_t handle, const QColor& color);

    // Removes every row. The sort column, order and switch stay, so the next search's rows
    // arrive sorted when sorting was on.
    void clear();

    // The hit of a row in displayed order; an empty hit of type 0 (which opens nothing) for a
    // row outside 0..rowCount()-1.
    const app::Hit& hitAt(int row) const;

    // A click on a column header: sorting switches on and stays on; the current sort column
    // flips its order, another column becomes the sort column ascending. Rows with equal texts
    // keep their order from before the click. Columns outside 0..3 are ignored.
    void columnClicked(int column);

    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    bool sortingOn() const { return m_sortingOn; }

    // Copies of the hits in displayed order (what saving writes).
    std::vector<app::Hit> rowsInOrder() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    struct Row {
        app::Hit hit;
        QRgb color = 0;
        bool hasColor = false;
    };

    // True when row a (an index into m_rows) goes before row b in the current sort.
    bool before(std::uint32_t a, std::uint32_t b) const;
    int displayRowOf(std::uint32_t index) const;
    // Puts m_order into the current sort, stable, and refreshes m_sortPrefixes.
    void sortRows();

    // The hits in the order they came; a handle is m_handleBase plus the index here.
    std::vector<Row> m_rows;
    // Displayed row -> index into m_rows. Sorting moves these four-byte numbers, not the hits.
    std::vector<std::uint32_t> m_order;
    // While sorting is on: the first bytes of each row's sort key, by index into m_rows, so that
    // finding a new row's place mostly compares numbers in one array.
    std::vector<std::uint64_t> m_sortPrefixes;
    std::size_t m_handleBase = 0;
    // Where the newest row went: setContentColor nearly always follows addResult at once.
    int m_lastInsertedRow = -1;

    int m_sortColumn = 0;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_sortingOn = false;

    FileTypeIcons m_icons;
};

}  // namespace ferretta::ui::main
