#include "app/cli/cli_host.h"

#include "app/run_safety.h"
#include "platform/cp932.h"
#include "search/results_file.h"

namespace ferretta::app::cli {
namespace {

const char* kindOf(MessageStyle style) {
    switch (style) {
        case MessageStyle::Critical:
            return "error";
        case MessageStyle::Exclamation:
            return "warning";
        case MessageStyle::Information:
            return "info";
        case MessageStyle::Question:
            return "question";
        case MessageStyle::None:
            break;
    }
    return "message";
}

}  // namespace

CliHost::CliHost(std::FILE* out, std::FILE* err, bool ansi, search::SearchFlags& flags)
    : m_out(out), m_err(err), m_ansi(ansi), m_flags(flags) {}

Host::RowHandle CliHost::addResult(const Hit& hit) {
    // The line of the saved results file.
    std::string line = m_ansi ? search::ansiResultLine(hit) : search::resultLine(hit);
    line += m_ansi ? "\r\n" : "\n";
    std::fwrite(line.data(), 1, line.size(), m_out);
    return m_hits++;
}

void CliHost::doEvents() {
    // A closed output (the reader went away: `| head`) ends the search as a stop does.
    if (stopSignalReceived() || std::ferror(m_out))
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

std::string formatMessage(std::string_view text, MessageStyle style) {
    std::string out = "ferretta-cli: ";
    out += kindOf(style);
    out += ": ";
    for (char c : text)
        out += c == '\r' ? ' ' : c;
    out += '\n';
    return out;
}

void CliHost::showMessage(std::string_view text, MessageStyle style) {
    if (style == MessageStyle::Critical)
        m_sawError = true;
    std::fflush(m_out);
    std::string message = formatMessage(text, style);
    std::fwrite(message.data(), 1, message.size(), m_err);
}

bool CliHost::askYesNo(std::string_view text, MessageStyle style) {
    showMessage(text, style);
    return false;
}

}  // namespace ferretta::app::cli
