#include "app/cli/cli_host.h"

#include <csignal>

#include "platform/cp932.h"
#include "search/results_file.h"

namespace ferretta::app::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

const char* kindOf(MessageStyle style) {
    switch (style) {
        case MessageStyle::Critical: return "error";
        case MessageStyle::Exclamation: return "warning";
        case MessageStyle::Information: return "info";
        case MessageStyle::Question: return "question";
        case MessageStyle::None: break;
    }
    return "message";
}

}  // namespace

CliHost::CliHost(std::FILE* out, std::FILE* err, bool ansi, search::SearchFlags& flags)
    : m_out(out), m_err(err), m_ansi(ansi), m_flags(flags) {}

Host::RowHandle CliHost::addResult(const Hit& hit) {
    std::string line = search::resultLine(hit);
    if (m_ansi) {
        line = platform::utf8ToCp932(line);
        line += "\r\n";
    } else {
        line += '\n';
    }
    std::fwrite(line.data(), 1, line.size(), m_out);
    return m_hits++;
}

void CliHost::doEvents() {
    if (interrupted) {
        interrupted = 0;
        m_flags.isAbort = true;
    }
}

std::string formatMessage(std::string_view text, MessageStyle style) {
    std::string out = "ferretta-cli: ";
    out += kindOf(style);
    out += ": ";
    for (char c : text) out += c == '\r' ? ' ' : c;
    out += '\n';
    return out;
}

void CliHost::showMessage(std::string_view text, MessageStyle style) {
    if (style == MessageStyle::Critical) m_sawError = true;
    std::fflush(m_out);
    std::string message = formatMessage(text, style);
    std::fwrite(message.data(), 1, message.size(), m_err);
}

bool CliHost::askYesNo(std::string_view text, MessageStyle style) {
    // Nobody is there to answer: the safe answer keeps what the user has.
    showMessage(text, style);
    return false;
}

void CliHost::installInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace ferretta::app::cli
