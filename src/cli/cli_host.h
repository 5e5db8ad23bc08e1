#pragma once
// The command-line host: hits go to standard output as they are found, messages, skipped
// files and the summary to standard error.
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/host.h"
#include "hits/hit_context.h"
#include "search/query.h"
#include "search/search_flags.h"

namespace ferretta::cli {

class CliHost : public app::Host {
  public:
    // ansi: write hits in CP932 with CR LF (the saved-file form); UTF-8 with LF otherwise.
    CliHost(std::FILE* out, std::FILE* err, bool ansi, search::SearchFlags& flags);

    // --context=N: each hit line comes with N lines of its context before and after it, as
    // "name-label-text" lines; groups that do not touch are separated by "--". A context
    // line shared by two groups is printed once.
    // A long line of a document is cut around where the matcher finds the words. `itemReaders`
    // gives what reads the item of a hit in the mail program's items again.
    void setContextLines(int lines, const search::Matcher& matcher,
                         std::function<hits::ItemReader(const app::Hit&)> itemReaders = {}) {
        m_contextLines = lines;
        m_matcher = &matcher;
        m_itemReaders = std::move(itemReaders);
    }
    // Prints the context still owed after the last hit. Call once the search has ended.
    void finishContext();

    RowHandle addResult(const app::Hit& hit) override;
    // Turns into a stop request: a stop signal; an output that cannot be written any more;
    // and the end of the program that started this one when nobody reads the output either
    // (a pipe whose reader ended, a terminal that was closed), since the search would then go
    // on for nobody.
    void doEvents() override;
    void showMessage(std::string_view text, app::MessageStyle style) override;
    // Nobody is there to answer: the message is shown and the safe answer, No, keeps what the
    // user has.
    bool askYesNo(std::string_view text, app::MessageStyle style) override;
    // "ferretta-cli: skipped: <path>: <reason>".
    void noteUnreadable(std::string_view path, std::string_view reason) override;
    // "ferretta-cli: partly read: <path>: <reason>".
    void noteDamaged(std::string_view path, std::string_view reason) override;

    std::size_t hitCount() const { return m_hits; }
    // Whether a critical message was shown.
    bool sawError() const { return m_sawError; }

  private:
    void notePath(std::string_view what, std::string_view path, std::string_view reason);
    bool abandoned();
    void write(std::string line);
    void writeContextLine(const hits::ContextLine& line);

    std::FILE* m_out;
    std::FILE* m_err;
    bool m_ansi;
    search::SearchFlags& m_flags;
    std::size_t m_hits = 0;
    bool m_sawError = false;
    pid_t m_parent;
    std::int64_t m_lookedAt = 0;  // when abandoned() last looked (steady milliseconds)
    bool m_outIsTerminal;
    bool m_errIsTerminal;

    std::optional<int> m_contextLines;
    const search::Matcher* m_matcher = nullptr;
    std::function<hits::ItemReader(const app::Hit&)> m_itemReaders;
    hits::ContextReader m_contextReader;
    // The group printed last: its document (and sheet), the name its lines carry, the order
    // of its last line printed, and its lines after the hit, printed when the next hit is not
    // among them.
    std::string m_groupKey;
    std::string m_groupName;
    std::optional<std::int64_t> m_lastOrdinal;
    std::vector<hits::ContextLine> m_owed;
};

// The text as it may reach a terminal: control characters (C0 but the tab, DEL, and in UTF-8
// text the C1 ones, which terminals also obey) are written as backslash escapes the way `ls -b`
// shows them (\n, \r, \033, \302\233), so that a file name cannot move the cursor, retitle
// the window or hide a line. Everything else stays as it is.
std::string terminalSafe(std::string_view text, bool utf8);

// terminalSafe when the stream is a terminal, the text as it is otherwise.
std::string forStream(std::FILE* stream, std::string_view text, bool utf8);

// A message as one line: "ferretta-cli: <kind>: <text>", the carriage return between the
// lines of a two-line message turned into a blank.
std::string formatMessage(std::string_view text, app::MessageStyle style);

}  // namespace ferretta::cli
