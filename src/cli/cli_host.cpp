#include "cli/cli_host.h"

#include <algorithm>

#include "hits/results_file.h"
#include "platform/cp932.h"
#include "run/run_safety.h"

namespace ferretta::cli {
namespace {

const char* kindOf(app::MessageStyle style) {
    switch (style) {
        case app::MessageStyle::Critical:
            return "error";
        case app::MessageStyle::Exclamation:
            return "warning";
        case app::MessageStyle::Information:
            return "info";
        case app::MessageStyle::Question:
            return "question";
        case app::MessageStyle::None:
            break;
    }
    return "message";
}

}  // namespace

CliHost::CliHost(std::FILE* out, std::FILE* err, bool ansi, search::SearchFlags& flags)
    : m_out(out), m_err(err), m_ansi(ansi), m_flags(flags) {}

void CliHost::write(std::string line) {
    line += m_ansi ? "\r\n" : "\n";
    std::fwrite(line.data(), 1, line.size(), m_out);
}

void CliHost::writeContextLine(const hits::ContextLine& line) {
    const std::string text = m_groupName + "-" + line.label + "-" + line.text;
    write(m_ansi ? platform::utf8ToCp932(text) : text);
    m_lastOrdinal = line.ordinal;
}

void CliHost::finishContext() {
    for (const hits::ContextLine& line : m_owed)
        writeContextLine(line);
    m_owed.clear();
}

app::Host::RowHandle CliHost::addResult(const app::Hit& hit) {
    if (m_contextLines) {
        const hits::HitContext context = m_contextReader.read(hit, *m_contextLines, m_matcher);
        const std::string key = hit.location + '\n' + hit.name;
        auto hitLine = std::find_if(context.lines.begin(), context.lines.end(),
                                    [](const hits::ContextLine& l) { return l.isHit; });
        const std::int64_t hitOrdinal = hitLine == context.lines.end() ? 0 : hitLine->ordinal;
        const bool sameDocument = key == m_groupKey && m_lastOrdinal.has_value();
        // What the last group still owes, up to where this one begins.
        for (const hits::ContextLine& line : m_owed) {
            if (!sameDocument || line.ordinal < hitOrdinal)
                writeContextLine(line);
        }
        m_owed.clear();
        const std::int64_t lastOrdinal = sameDocument ? *m_lastOrdinal : 0;
        std::vector<hits::ContextLine> before;
        for (auto line = context.lines.begin(); line != hitLine; ++line) {
            if (!sameDocument || line->ordinal > lastOrdinal)
                before.push_back(*line);
        }
        const std::int64_t first = before.empty() ? hitOrdinal : before.front().ordinal;
        if (m_lastOrdinal.has_value() && (!sameDocument || first > lastOrdinal + 1))
            write("--");
        m_groupKey = key;
        m_groupName = hit.name;
        for (const hits::ContextLine& line : before)
            writeContextLine(line);
        m_lastOrdinal = hitOrdinal;
        if (hitLine != context.lines.end())
            m_owed.assign(hitLine + 1, context.lines.end());
    }
    // The line of the saved results file.
    write(m_ansi ? hits::ansiResultLine(hit) : hits::resultLine(hit));
    return m_hits++;
}

void CliHost::doEvents() {
    // A closed output (the reader went away: `| head`) ends the search as a stop does.
    if (run::stopSignalReceived() || std::ferror(m_out))
        search::requestStop(m_flags);
}

void CliHost::noteUnreadable(std::string_view path, std::string_view reason) {
    std::fflush(m_out);
    std::string line = "ferretta-cli: skipped: ";
    line += path;
    line += ": ";
    line += reason;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), m_err);
}

std::string formatMessage(std::string_view text, app::MessageStyle style) {
    std::string out = "ferretta-cli: ";
    out += kindOf(style);
    out += ": ";
    for (char c : text)
        out += c == '\r' ? ' ' : c;
    out += '\n';
    return out;
}

void CliHost::showMessage(std::string_view text, app::MessageStyle style) {
    if (style == app::MessageStyle::Critical)
        m_sawError = true;
    std::fflush(m_out);
    std::string message = formatMessage(text, style);
    std::fwrite(message.data(), 1, message.size(), m_err);
}

bool CliHost::askYesNo(std::string_view text, app::MessageStyle style) {
    showMessage(text, style);
    return false;
}

}  // namespace ferretta::cli
