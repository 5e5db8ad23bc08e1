#include "ui/main/results_delegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

#include "search/hit_spans.h"
#include "search/query.h"

namespace ferretta::ui::main {

namespace {

constexpr int kContentColumn = 1;
constexpr int kRowPadding = 4;
// Marked words: dark text on a light yellow, readable on a selected row too.
const QColor kMarkBackground(255, 226, 110);
const QColor kMarkText(0, 0, 0);

}  // namespace

ResultsDelegate::ResultsDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void ResultsDelegate::setMatcher(std::shared_ptr<const search::Matcher> matcher) {
    m_matcher = std::move(matcher);
}

int ResultsDelegate::rowHeight(const QFontMetrics& metrics, const QSize& iconSize) {
    return std::max(metrics.height(), iconSize.height()) + kRowPadding;
}

QSize ResultsDelegate::sizeHint(const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    QSize hint = QStyledItemDelegate::sizeHint(option, index);
    // The view's icon size, not the cell's: a row scrolled sideways past its icon keeps its
    // height (the view takes one height for all rows from whichever cell it asks).
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    const QSize icon = view != nullptr ? view->iconSize() : option.decorationSize;
    hint.setHeight(rowHeight(option.fontMetrics, icon));
    return hint;
}

void ResultsDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    if (index.column() != kContentColumn || !m_matcher) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QString text = item.text;
    const std::vector<search::TextSpan> spans = search::hitSpans(
        *m_matcher, std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                        static_cast<std::size_t>(text.size())));
    if (spans.empty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The cell without its text (background, selection, focus), then the text with the marks.
    const QWidget* widget = item.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    item.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
    QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    area.adjust(margin, 0, -margin, 0);

    QTextLayout layout(text, item.font);
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(textOption);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid())
        line.setLineWidth(1e6);
    layout.endLayout();

    QList<QTextLayout::FormatRange> marks;
    for (const search::TextSpan& span : spans) {
        QTextLayout::FormatRange mark;
        mark.start = static_cast<int>(span.start);
        mark.length = static_cast<int>(span.end - span.start);
        mark.format.setBackground(kMarkBackground);
        mark.format.setForeground(kMarkText);
        marks.append(mark);
    }
    const bool selected = item.state.testFlag(QStyle::State_Selected);
    const QPalette::ColorGroup group =
        item.state.testFlag(QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
    QColor textColor =
        item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    if (!selected) {
        const QVariant foreground = index.data(Qt::ForegroundRole);
        if (foreground.canConvert<QColor>())
            textColor = foreground.value<QColor>();
    }
    painter->save();
    painter->setClipRect(area);
    painter->setPen(textColor);
    const qreal top = area.top() + (area.height() - (line.isValid() ? line.height() : 0)) / 2.0;
    layout.draw(painter, QPointF(area.left(), top), marks);
    painter->restore();
}

}  // namespace ferretta::ui::main
