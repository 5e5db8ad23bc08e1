#include "app/cli/cli_host.h"

#include "app/run_safety.h"
#include "platform/cp932.h"

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
    // Field by field: a hit in a very long line is written without building the line again.
    auto field = [this](std::string_view text, std::string_view after) {
        std::fputc('"', m_out);
        if (m_ansi) {
            std::string ansi = platform::utf8ToCp932(text);
            std::fwrite(ansi.data(), 1, ansi.size(), m_out);
        } else {
            std::fwrite(text.data(), 1, text.size(), m_out);
        }
        std::fputc('"', m_out);
        std::fwrite(after.data(), 1, after.size(), m_out);
    };
    field(hit.name, ",");
    field(hit.content, ",");
    field(hit.location, ",");
    field(hit.position, m_ansi ? "\r\n" : "\n");
    return m_hits++;
}

void CliHost::doEvents() {
    // A closed output (the reader went away: `| head`) ends the search as a stop does.
    if (stopSignalReceived() || std::ferror(m_out))
        m_flags.isAbort = true;
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
    // Nobody is there to answer: the safe answer keeps what the user has.
    showMessage(text, style);
    return false;
}

}  // namespace ferretta::app::cli
