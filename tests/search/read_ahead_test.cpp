// A search with workers reading ahead must make exactly the host calls of a one-thread search,
// in the same order (hits, progress, messages, questions, the points where events run), with
// the same count and skipped files, also when the user stops at any of those points.
#include "search/read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/cp932.h"
#include "platform/error.h"
#include "search/finder.h"
#include "search/hit.h"
#include "search/path_helpers.h"
#include "support/temp_tree.h"

namespace ferretta::search {
namespace {

using app::FileType;

// Writes down every call; stops the search at the n-th doEvents or message; answers questions
// yes, no, yes, ...
class TraceHost : public app::Host {
  public:
    TraceHost(SearchFlags& flags, int stopAtEvents, int stopAtMessage)
        : m_flags(flags), m_stopAtEvents(stopAtEvents), m_stopAtMessage(stopAtMessage) {}

    RowHandle addResult(const app::Hit& hit) override {
        log("add", std::to_string(static_cast<int>(hit.fileType)) + "|" + hit.name + "|" +
                       hit.content + "|" + hit.location + "|" + hit.position);
        return m_rows++;
    }
    void setContentColor(RowHandle row, std::uint32_t color) override {
        log("color", std::to_string(row) + "|" + std::to_string(color));
    }
    void setCaptionOnSearching(std::string_view path) override { log("caption", path); }
    void showProgress(std::string_view text) override { log("progress", text); }
    void setStatusText(std::string_view text) override { log("status", text); }
    void noteFromCache() override { log("cache", ""); }
    void doEvents() override {
        log("events", "");
        m_flags.isAbort = m_flags.isAbort || ++events == m_stopAtEvents;
    }
    // Not a point of the one-thread search: not in the trace.
    void doEventsWhileWaiting() override { m_flags.isAbort = m_flags.isAbort || stopWhileWaiting; }

    bool stopWhileWaiting = false;
    void showMessage(std::string_view text, app::MessageStyle) override {
        log("message", text);
        m_flags.isAbort = m_flags.isAbort || ++messages == m_stopAtMessage;
    }
    bool askYesNo(std::string_view text, app::MessageStyle) override {
        log("ask", text);
        return ++m_questions % 2 == 1;
    }
    void noteUnreadable(std::string_view path, std::string_view) override {
        log("unreadable", path);
    }

    std::vector<std::string> calls;
    int events = 0;
    int messages = 0;

  private:
    void log(std::string_view kind, std::string_view text) {
        calls.push_back(std::string(kind) + ":" + std::string(text));
    }
    SearchFlags& m_flags;
    const int m_stopAtEvents;
    const int m_stopAtMessage;
    RowHandle m_rows = 0;
    int m_questions = 0;
};

// A searcher that reports matching lines, lets events run every third line (and reacts to a
// stop there with a message of its own), shows "MSG" lines as messages, asks at "ASK" lines,
// colours its last row at "COLOR", cannot read at "FAIL", fails otherwise at "BUG" and takes
// its time at "SLOW".
SearcherRegistry::MakeFileSearch scriptedSearcher(FileType type) {
    return [type](const SearchContext& context) -> SearcherRegistry::FileSearch {
        return [context, type](const std::string& path) {
            std::ifstream in(path);
            if (!in)
                throw Error(Error::Kind::FileOpen, path + ": cannot open");
            context.host.setCaptionOnSearching(path);
            context.host.noteFromCache();  // counted once, also when searched again after a stop
            int index = 0;
            std::optional<app::Host::RowHandle> last;  // colours only its own rows
            for (std::string line; std::getline(in, line);) {
                const std::string at = std::to_string(++index);
                if (line == "FAIL" || line == "BUG")
                    throw Error(line == "FAIL" ? Error::Kind::FileRead : Error::Kind::Other,
                                path + ": broken at " + at);
                if (line == "MSG")
                    context.host.showMessage("message " + at, app::MessageStyle::Exclamation);
                if (line == "ASK")
                    context.host.showProgress(
                        context.host.askYesNo("ask " + at, app::MessageStyle::Question) ? "yes"
                                                                                        : "no");
                if (line == "SLOW")
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                if (line == "COLOR" && last)
                    context.host.setContentColor(*last, 0xff0000);
                if (context.matcher.smartFind(line) > 0)
                    last = addResult(context.host, type, fileNameOf(path), line, path, at);
                if (index % 3 == 0) {
                    context.host.doEvents();
                    if (context.flags.isAbort) {
                        context.host.setStatusText("");
                        context.host.showMessage("stopped", app::MessageStyle::Information);
                        return false;
                    }
                }
            }
            return true;
        };
    };
}

// A random tree of text files (CP932 and UTF-8, some long enough to let events run inside),
// scripted files searched ahead (.pdf) and on the user-interface thread (.doc), files of no
// searched type and names that match.
void makeTree(const test::TempTree& tree, std::mt19937& random) {
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const char* words[] = {"alpha", "needle", "検索", "ﾆｰﾄﾞﾙ", "NEEDLE", "other", "needles"};
    const char* specials[] = {"MSG", "ASK", "COLOR", "FAIL"};
    const char* extensions[] = {".txt", ".txt", ".txt", ".txt", ".doc",
                                ".doc", ".dat", ".pdf", ".pdf", ".pdf"};
    std::vector<std::string> folders = {""};
    for (int i = 0; i < 6; ++i)
        folders.push_back(folders[static_cast<std::size_t>(pick(i + 1))] + "d" + std::to_string(i) +
                          "/");
    for (int i = 0, files = 25 + pick(20); i < files; ++i) {
        const int kind = pick(10);
        std::ostringstream text;
        for (int line = 0, lines = pick(8) == 0 ? 1200 + pick(400) : pick(30); line < lines;
             ++line) {
            if (kind >= 4 && kind != 6 && pick(12) == 0)
                text << specials[pick(kind == 9 ? 4 : 3)] << "\n";
            else
                text << words[pick(7)] << " " << line << "\n";
        }
        const bool cp932 = kind < 4 && pick(2) == 0;
        tree.write(folders[static_cast<std::size_t>(pick(7))] + (pick(6) == 0 ? "needle" : "f") +
                       std::to_string(i) + extensions[kind],
                   cp932 ? platform::utf8ToCp932(text.str()) : text.str());
    }
}

struct Outcome {
    std::int64_t files = 0;
    std::vector<std::string> calls;  // the skipped files among them
    int events = 0;
    int messages = 0;
};

Outcome search(const test::TempTree& tree, const app::Settings& settings, int workers,
               std::pair<int, int> stopAt, std::size_t budget, std::size_t freeEvents = 16,
               bool stopWhileWaiting = false) {
    SearcherRegistry registry;
    registerTextSearcher(registry);
    registry.setFileSearcher(FileType::Pdf, scriptedSearcher(FileType::Pdf),
                             SearcherRegistry::Threads::Any);
    registry.setFileSearcher(FileType::Word, scriptedSearcher(FileType::Word));
    SearchFlags flags;
    TraceHost host(flags, stopAt.first, stopAt.second);
    host.stopWhileWaiting = stopWhileWaiting;
    auto makeMatcher = [] {
        auto matcher = std::make_unique<Matcher>(false, false);
        matcher->targetStrsSplit("needle 検索");
        return matcher;
    };
    const auto matcher = makeMatcher();
    ReadAheadOptions options{workers, makeMatcher, budget, budget < 4096 ? 3u : 4096u, freeEvents};
    Finder finder({host, settings, *matcher, flags}, registry, options);
    Outcome outcome;
    std::string folder = tree.path();
    try {
        outcome.files = finder.findInDir(folder);
    } catch (const Error& failure) {
        host.calls.push_back(std::string("failure:") + failure.what());
    }
    outcome.calls = std::move(host.calls);
    outcome.events = host.events;
    outcome.messages = host.messages;
    return outcome;
}

void expectSame(const Outcome& one, const Outcome& many, const std::string& what) {
    EXPECT_EQ(one.files, many.files) << what;
    std::size_t at = 0;
    while (at < one.calls.size() && at < many.calls.size() && one.calls[at] == many.calls[at])
        ++at;
    if (at < one.calls.size() || at < many.calls.size()) {
        ADD_FAILURE() << what << ": call " << at << " is "
                      << (at < many.calls.size() ? many.calls[at] : "missing")
                      << ", one thread: " << (at < one.calls.size() ? one.calls[at] : "missing");
    }
}

TEST(ReadAhead, ManyThreadsLookLikeOneIncludingStops) {
    for (unsigned seed = 1; seed <= 10; ++seed) {
        std::mt19937 random(seed);
        test::TempTree tree;
        makeTree(tree, random);
        app::Settings settings;
        settings.fileTypes.setTarget(FileType::Pdf, true);
        settings.fileTypes.setTarget(FileType::Word, true);
        settings.subFolder = seed % 5 != 0;
        const Outcome whole = search(tree, settings, 1, {-1, -1}, 0);
        ASSERT_GT(whole.events, 0);
        // No stop, stops at random events and messages, a stop at the very last events.
        std::vector<std::pair<int, int>> stops = {{-1, -1}, {whole.events, -1}};
        for (int i = 0; i < 3; ++i)
            stops.emplace_back(1 + static_cast<int>(random() % whole.events), -1);
        if (whole.messages > 0)
            stops.emplace_back(-1, 1 + static_cast<int>(random() % whole.messages));
        for (const auto& stopAt : stops) {
            const Outcome one = search(tree, settings, 1, stopAt, 0);
            // A roomy budget with workers that run ahead, and a budget so small that every
            // worker waits for the replay, with workers that wait at every doEvents.
            for (const auto& [workers, budget, free] :
                 {std::tuple{2, 1u << 20, 16u}, std::tuple{4, 200u, 0u}}) {
                expectSame(one, search(tree, settings, workers, stopAt, budget, free),
                           "seed " + std::to_string(seed) + ", stop at events " +
                               std::to_string(stopAt.first) + " / message " +
                               std::to_string(stopAt.second) + ", " + std::to_string(workers) +
                               " workers, budget " + std::to_string(budget) + ", free " +
                               std::to_string(free));
            }
        }
    }
}

// The user stops while the user-interface thread waits for a worker in the middle of a file:
// the searcher stops at its next doEvents, as a one-thread search stopped there does.
TEST(ReadAhead, StopWhileWaitingIsTakenAtTheNextPointOfTheSearcher) {
    test::TempTree tree;
    tree.write("a.pdf", "needle\nSLOW\nneedle\nneedle\nneedle\nneedle\n");
    tree.write("b.txt", "needle\n");
    app::Settings settings;
    settings.fileTypes.setTarget(FileType::Pdf, true);
    const Outcome one = search(tree, settings, 1, {1, -1}, 0);
    ASSERT_EQ(std::count(one.calls.begin(), one.calls.end(), "message:stopped"), 1);
    expectSame(one, search(tree, settings, 2, {-1, -1}, 1u << 20, 16, true), "stop while waiting");
}

TEST(ReadAhead, FailureOfASearcherAheadTravelsFromItsPlace) {
    test::TempTree tree;
    tree.write("a.txt", "needle\n");
    tree.write("b.pdf", "needle\nBUG\n");
    tree.write("c.txt", "needle\n");
    app::Settings settings;
    settings.fileTypes.setTarget(FileType::Pdf, true);
    const Outcome one = search(tree, settings, 1, {-1, -1}, 0);
    ASSERT_TRUE(one.calls.back().starts_with("failure:"));
    expectSame(one, search(tree, settings, 3, {-1, -1}, 0), "failure");
}

}  // namespace
}  // namespace ferretta::search
