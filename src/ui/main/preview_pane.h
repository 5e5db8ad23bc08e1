#pragma once
// The preview pane: the selected hit in its context (the lines, sentences, cells, slide texts
// or page lines around it), every occurrence of the search words marked as the search matched
// them. The context is read on a thread of the pane's own, so the list never waits for a file;
// when the selection moves on before it arrives, only the newest is shown.
#include <QTextBrowser>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/host.h"
#include "hits/hit_context.h"
#include "search/query.h"

namespace ferretta::ui::main {

class PreviewPane : public QTextBrowser {
    Q_OBJECT
  public:
    // Lines shown on either side of the hit.
    static constexpr int contextLines = 5;

    explicit PreviewPane(QWidget* parent = nullptr);
    ~PreviewPane() override;

    // The words of the search whose hits follow, as typed, and how they were matched.
    void setQuery(const std::string& query, bool regular, bool strict);
    // Shows the hit's context once it is read; an empty pane for no hit. `readItem` reads the
    // item of a hit in the mail program's items again (on the pane's reading thread).
    void showHit(const std::optional<app::Hit>& hit, hits::ItemReader readItem = {});
    // Whether the context of the hit asked for last is shown.
    bool isCurrent() const { return m_shown == m_asked; }

  signals:
    void contextShown();

  private:
    void readLoop();
    void render(const hits::HitContext& context);

    // The search's words, shared with the reader (a matcher is read-only once made).
    std::shared_ptr<const search::Matcher> m_matcher;
    std::uint64_t m_asked = 0;  // the number of the newest request (UI thread)
    std::uint64_t m_shown = 0;  // the number of the request shown

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<app::Hit> m_request;  // waiting for the reader
    std::shared_ptr<const search::Matcher> m_requestMatcher;
    hits::ItemReader m_requestItem;
    std::uint64_t m_requestNumber = 0;
    bool m_ending = false;
    std::thread m_reader;
};

}  // namespace ferretta::ui::main
