#pragma once
// How a row of the results list is drawn: one fixed height that fits the icon and a line of
// text whatever columns are in view, and the search words marked in the content column.
#include <QStyledItemDelegate>
#include <memory>

namespace ferretta::search {
class Matcher;
}

namespace ferretta::ui::main {

class ResultsDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    explicit ResultsDelegate(QObject* parent = nullptr);

    // The words of the search whose hits are listed (null: nothing is marked).
    void setMatcher(std::shared_ptr<const search::Matcher> matcher);

    // The height of every row: the icon or a line of the font, the larger, with a little room.
    static int rowHeight(const QFontMetrics& metrics, const QSize& iconSize);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

  private:
    std::shared_ptr<const search::Matcher> m_matcher;
};

}  // namespace ferretta::ui::main
