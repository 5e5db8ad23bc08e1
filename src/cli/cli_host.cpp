#include "cli/cli_host.h"

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

app::Host::RowHandle CliHost::addResult(const app::Hit& hit) {
    // The line of the saved results file.
    std::string line = m_ansi ? hits::ansiResultLine(hit) : hits::resultLine(hit);
    line += m_ansi ? "\r\n" : "\n";
    std::fwrite(line.data(), 1, line.size(), m_out);
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
