#include "ui/main/qt_host.h"

#include <QColor>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
#include <QWidget>

#include "platform/clock.h"
#include "search/path_helpers.h"
#include "ui/main/results_model.h"

namespace ferretta::ui::main {

namespace {

// Short enough that the window never feels stuck (a stop click is seen within a frame or two).
constexpr std::int64_t kEventsIntervalMs = 15;
// The unreadable files kept by name; a search of a whole disk may meet many more.
constexpr std::size_t kUnreadableKept = 5000;

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The core joins the lines of a message with a lone carriage return; Qt breaks lines at '\n'.
QString messageText(std::string_view text) {
    QString out = toQString(text);
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

}  // namespace

int messageBoxIconFor(app::MessageStyle style) {
    switch (style) {
        case app::MessageStyle::Critical:
            return QMessageBox::Critical;
        case app::MessageStyle::Question:
            return QMessageBox::Question;
        case app::MessageStyle::Exclamation:
            return QMessageBox::Warning;
        case app::MessageStyle::Information:
            return QMessageBox::Information;
        case app::MessageStyle::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QString searchingText(std::string_view path) {
    return QStringLiteral("検索中...") + toQString(search::fileNameOf(path));
}

QtHost::QtHost(QWidget& window, QStatusBar& statusBar, QLabel& statusText, ResultsModel& model)
    : m_window(window), m_statusBar(statusBar), m_statusText(statusText), m_model(model) {}

app::Host::RowHandle QtHost::addResult(const app::Hit& hit) {
    return m_model.addResult(hit);
}

void QtHost::setContentColor(RowHandle row, std::uint32_t color) {
    m_model.setContentColor(row, QColor::fromRgb(static_cast<QRgb>(color | 0xff000000u)));
}

void QtHost::setCaptionOnSearching(std::string_view path) {
    ++m_filesBegun;
    showProgressText(searchingText(path));
}

void QtHost::startSearch() {
    m_filesBegun = 0;
    m_unreadable.clear();
}

void QtHost::noteUnreadable(std::string_view path, std::string_view reason) {
    if (m_unreadable.size() < kUnreadableKept)
        m_unreadable.push_back({std::string(path), std::string(reason)});
}

void QtHost::showProgress(std::string_view text) {
    showProgressText(toQString(text));
}

void QtHost::showProgressText(const QString& text) {
    QString shown = text;
    if (m_filesBegun > 0) {
        shown +=
            QStringLiteral("（%1ﾌｧｲﾙ目・%2件ヒット）").arg(m_filesBegun).arg(m_model.rowCount());
    }
    if (m_fromCache > 0)
        shown += QStringLiteral("（キャッシュから%1ﾌｧｲﾙ）").arg(m_fromCache);
    // isHidden, not isVisible: the bar of a window that is in the tray still counts as shown.
    if (!m_statusBar.isHidden()) {
        m_statusText.setText(shown);
    } else {
        m_window.setWindowTitle(shown);
    }
}

void QtHost::setStatusText(std::string_view text) {
    m_statusText.setText(toQString(text));
}

void QtHost::doEvents() {
    if (m_doEventsHook)
        m_doEventsHook();
    const std::int64_t now = platform::steadyMilliseconds();
    if (now - m_lastEventsMs < kEventsIntervalMs)
        return;
    QCoreApplication::processEvents();
    m_lastEventsMs = platform::steadyMilliseconds();
}

void QtHost::showMessage(std::string_view text, app::MessageStyle style) {
    if (m_messagesEnded)
        return;
    QMessageBox box(static_cast<QMessageBox::Icon>(messageBoxIconFor(style)),
                    QStringLiteral("Ferretta"), messageText(text), QMessageBox::Ok, &m_window);
    box.exec();
}

bool QtHost::askYesNo(std::string_view text, app::MessageStyle style) {
    if (m_messagesEnded)
        return false;
    QMessageBox box(static_cast<QMessageBox::Icon>(messageBoxIconFor(style)),
                    QStringLiteral("Ferretta"), messageText(text),
                    QMessageBox::Yes | QMessageBox::No, &m_window);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace ferretta::ui::main
