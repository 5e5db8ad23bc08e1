#include "ui/main/preview_pane.h"

#include <QTextBlock>
#include <QTextCursor>
#include <string_view>
#include <utility>

#include "search/hit_spans.h"

namespace ferretta::ui::main {
namespace {

std::u16string_view utf16Of(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

}  // namespace

PreviewPane::PreviewPane(QWidget* parent) : QTextBrowser(parent) {
    setObjectName(QStringLiteral("PreviewPane"));
    setAccessibleName(QStringLiteral("プレビュー"));
    setOpenLinks(false);
    setLineWrapMode(QTextEdit::WidgetWidth);
    // Selectable by the keyboard too, so that what is shown can be copied.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_reader = std::thread([this] { readLoop(); });
}

PreviewPane::~PreviewPane() {
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_wake.notify_one();
    m_reader.join();
}

void PreviewPane::setQuery(const std::string& query, bool regular, bool strict) {
    auto matcher = std::make_shared<search::Matcher>(regular, strict);
    matcher->targetStrsSplit(query);
    m_matcher = std::move(matcher);
}

void PreviewPane::showHit(const std::optional<app::Hit>& hit, hits::ItemReader readItem) {
    const std::uint64_t number = ++m_asked;
    if (!hit) {
        clear();
        m_shown = number;
        emit contextShown();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_request = *hit;
        m_requestMatcher = m_matcher;
        m_requestItem = std::move(readItem);
        m_requestNumber = number;
    }
    m_wake.notify_one();
}

void PreviewPane::readLoop() {
    hits::ContextReader reader;
    for (;;) {
        app::Hit hit;
        std::shared_ptr<const search::Matcher> matcher;
        hits::ItemReader readItem;
        std::uint64_t number = 0;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_ending || m_request.has_value(); });
            if (m_ending)
                return;
            hit = std::move(*m_request);
            m_request.reset();
            matcher = std::move(m_requestMatcher);
            readItem = std::move(m_requestItem);
            number = m_requestNumber;
        }
        hits::HitContext context = reader.read(hit, contextLines, matcher.get(), readItem);
        // Dropped with the pane if it is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this, number, context = std::move(context)] {
                if (number != m_asked)
                    return;  // the selection moved on
                render(context);
                m_shown = number;
                emit contextShown();
            },
            Qt::QueuedConnection);
    }
}

void PreviewPane::render(const hits::HitContext& context) {
    clear();
    QTextCursor cursor(document());
    QTextCharFormat plain;
    QTextCharFormat label;
    label.setForeground(palette().color(QPalette::PlaceholderText));
    QTextCharFormat marked;
    marked.setBackground(QColor(255, 230, 90));
    marked.setFontWeight(QFont::Bold);
    QTextBlockFormat normalBlock;
    QTextBlockFormat hitBlock;
    hitBlock.setBackground(QColor(255, 248, 210));

    bool first = true;
    if (!context.heading.empty()) {
        QTextCharFormat heading;
        heading.setFontWeight(QFont::Bold);
        cursor.insertText(QString::fromStdString(context.heading), heading);
        first = false;
    }
    int hitPosition = 0;
    for (const hits::ContextLine& line : context.lines) {
        if (!first)
            cursor.insertBlock(line.isHit ? hitBlock : normalBlock);
        else
            cursor.setBlockFormat(line.isHit ? hitBlock : normalBlock);
        first = false;
        if (line.isHit)
            hitPosition = cursor.position();
        if (!line.label.empty())
            cursor.insertText(QString::fromStdString(line.label) + QStringLiteral("  "), label);
        const QString text = QString::fromStdString(line.text);
        std::size_t at = 0;
        if (m_matcher) {
            for (const search::TextSpan& span : search::hitSpans(*m_matcher, utf16Of(text))) {
                cursor.insertText(
                    text.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(span.start - at)),
                    plain);
                cursor.insertText(text.mid(static_cast<qsizetype>(span.start),
                                           static_cast<qsizetype>(span.end - span.start)),
                                  marked);
                at = span.end;
            }
        }
        cursor.insertText(text.mid(static_cast<qsizetype>(at)), plain);
    }
    // The hit's line in view.
    QTextCursor hitCursor(document());
    hitCursor.setPosition(hitPosition);
    setTextCursor(hitCursor);
    ensureCursorVisible();
}

}  // namespace ferretta::ui::main
