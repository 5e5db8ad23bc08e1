#include "cli/cli_host.h"

#include <poll.h>
#include <unistd.h>

#include "hits/results_file.h"
#include "platform/clock.h"
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

namespace {

// How often doEvents looks whether the run was abandoned.
constexpr std::int64_t kLookEveryMs = 100;

}  // namespace

CliHost::CliHost(std::FILE* out, std::FILE* err, bool ansi, search::SearchFlags& flags)
    : m_out(out), m_err(err), m_ansi(ansi), m_flags(flags), m_parent(::getppid()) {}

app::Host::RowHandle CliHost::addResult(const app::Hit& hit) {
    // The line of the saved results file.
    std::string line = m_ansi ? hits::ansiResultLine(hit) : hits::resultLine(hit);
    line += m_ansi ? "\r\n" : "\n";
    std::fwrite(line.data(), 1, line.size(), m_out);
    return m_hits++;
}

void CliHost::doEvents() {
    // A closed output (the reader went away: `| head`) ends the search as a stop does.
    if (run::stopSignalReceived() || std::ferror(m_out) || abandoned())
        search::requestStop(m_flags);
}

bool CliHost::abandoned() {
    const std::int64_t now = platform::steadyMilliseconds();
    if (now - m_lookedAt < kLookEveryMs)
        return false;
    m_lookedAt = now;
    // Adopted by another process: the parent has ended (init's orphans also when the parent
    // ended before this program looked).
    const pid_t parent = ::getppid();
    if (parent == m_parent && parent != 1)
        return false;
    pollfd output{::fileno(m_out), POLLOUT, 0};
    return ::poll(&output, 1, 0) == 1 && (output.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
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
