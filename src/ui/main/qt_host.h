#pragma once
// The core's host in the desktop window: hits go to the results model, progress to the status
// bar or the window caption, messages to modal message boxes.
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"

class QLabel;
class QStatusBar;
class QWidget;

namespace ferretta::ui::main {

class ResultsModel;

// The message-box icon of a style: 16 critical, 32 question, 48 warning, 64 information;
// anything else shows none.
int messageBoxIconFor(app::MessageStyle style);

// "検索中..." and the file name of the path: the progress text while a file is searched.
QString searchingText(std::string_view path);

class QtHost : public app::Host {
  public:
    // The window is the parent of the message boxes and carries the caption; the label is the
    // status bar's one simple text. All must outlive the host.
    QtHost(QWidget& window, QStatusBar& statusBar, QLabel& statusText, ResultsModel& model);

    RowHandle addResult(const app::Hit& hit) override;
    void setContentColor(RowHandle row, std::uint32_t color) override;
    // To the status bar while it is shown, else to the window caption (the caller puts the
    // caption back when the search ends).
    // The progress text names the file and counts the files begun and the hits so far.
    void setCaptionOnSearching(std::string_view path) override;
    void showProgress(std::string_view text) override;
    // The progress texts that follow end with "（キャッシュから5ﾌｧｲﾙ）" while the count is not 0.
    void showFromCache(std::int64_t documents) override { m_fromCache = documents; }
    void setStatusText(std::string_view text) override;
    // Runs pending events, but at most every few milliseconds: searchers call this per line,
    // and an idle event loop pass per line would slow a search of a big file several times.
    // The hook, when set, runs on every call (tests use it to stop at a given moment).
    void doEvents() override;
    void showMessage(std::string_view text, app::MessageStyle style) override;
    bool askYesNo(std::string_view text, app::MessageStyle style) override;
    // Kept for the list of unreadable files (at most a few thousand; the count goes on).
    void noteUnreadable(std::string_view path, std::string_view reason) override;

    // A new search: the counts of the progress text and the unreadable files start again.
    void startSearch();
    struct Unreadable {
        std::string path;
        std::string reason;
    };
    const std::vector<Unreadable>& unreadable() const { return m_unreadable; }

    void setDoEventsHook(std::function<void()> hook) { m_doEventsHook = std::move(hook); }
    // The program is ending: a search unwinding below says nothing more (its stop message
    // would show over a window that is gone), and questions are answered No.
    void endMessages() { m_messagesEnded = true; }

  private:
    void showProgressText(const QString& text);

    QWidget& m_window;
    QStatusBar& m_statusBar;
    QLabel& m_statusText;
    ResultsModel& m_model;
    std::int64_t m_lastEventsMs = 0;
    std::function<void()> m_doEventsHook;
    bool m_messagesEnded = false;
    std::int64_t m_fromCache = 0;
    std::int64_t m_filesBegun = 0;
    std::vector<Unreadable> m_unreadable;
};

}  // namespace ferretta::ui::main
