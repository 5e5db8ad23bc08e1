#include "cli/cli_host.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>

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
    : m_out(out),
      m_err(err),
      m_ansi(ansi),
      m_flags(flags),
      m_parent(::getppid()),
      m_outIsTerminal(::isatty(::fileno(out)) == 1),
      m_errIsTerminal(::isatty(::fileno(err)) == 1) {}

void CliHost::write(std::string line) {
    // A terminal is shown no control characters of a file's.
    if (m_outIsTerminal)
        line = terminalSafe(line, !m_ansi);
    // The line end goes apart: appended, it would cost the line a copy of its own.
    const std::string_view end = m_ansi ? "\r\n" : "\n";
    std::fwrite(line.data(), 1, line.size(), m_out);
    std::fwrite(end.data(), 1, end.size(), m_out);
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
        const hits::HitContext context = m_contextReader.read(
            hit, *m_contextLines, m_matcher, m_itemReaders ? m_itemReaders(hit) : nullptr);
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
    notePath("skipped", path, reason);
}

void CliHost::noteDamaged(std::string_view path, std::string_view reason) {
    notePath("partly read", path, reason);
}

void CliHost::notePath(std::string_view what, std::string_view path, std::string_view reason) {
    std::fflush(m_out);
    std::string line = "ferretta-cli: ";
    line += what;
    line += ": ";
    line += path;
    line += ": ";
    line += reason;
    if (m_errIsTerminal)
        line = terminalSafe(line, true);
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
    if (m_errIsTerminal)
        message = terminalSafe(message.substr(0, message.size() - 1), true) + '\n';
    std::fwrite(message.data(), 1, message.size(), m_err);
}

bool CliHost::askYesNo(std::string_view text, app::MessageStyle style) {
    showMessage(text, style);
    return false;
}

std::string terminalSafe(std::string_view text, bool utf8) {
    static constexpr std::string_view kNamed = "abtnvfr";  // \a .. \r are 7 .. 13
    std::string safe;
    safe.reserve(text.size());
    const auto octal = [&safe](unsigned char byte) {
        safe += '\\';
        safe += static_cast<char>('0' + (byte >> 6));
        safe += static_cast<char>('0' + ((byte >> 3) & 7));
        safe += static_cast<char>('0' + (byte & 7));
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\t' || (byte >= 0x20 && byte != 0x7F && (byte != 0xC2 || !utf8))) {
            safe += text[i];
        } else if (byte >= 7 && byte <= 13) {
            safe += '\\';
            safe += kNamed[byte - 7];
        } else if (byte != 0xC2) {
            octal(byte);
        } else if (const auto next =
                       i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
                   next >= 0x80 && next <= 0x9F) {
            octal(byte);  // U+0080 .. U+009F
            octal(static_cast<unsigned char>(text[++i]));
        } else {
            safe += text[i];
        }
    }
    return safe;
}

std::string forStream(std::FILE* stream, std::string_view text, bool utf8) {
    return ::isatty(::fileno(stream)) == 1 ? terminalSafe(text, utf8) : std::string(text);
}

}  // namespace ferretta::cli
