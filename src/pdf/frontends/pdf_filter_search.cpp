#include "pdf/frontends/pdf_filter_search.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <limits>

#include "app/debug_log.h"
#include "app/file_types.h"
#include "platform/cp932.h"
#include "platform/error.h"
#include "platform/line_reader.h"
#include "platform/process.h"
#include "platform/unicode.h"
#include "search/hit.h"
#include "search/path_helpers.h"

namespace ferretta::pdf {
namespace {

constexpr std::string_view kLogPlace = "pdfModule::find_pdfFilter";

// How long a stopped filter gets to end on SIGTERM before it is killed.
constexpr auto kTerminateGrace = std::chrono::seconds(2);

// Lines read between two looks at the stop flag.
constexpr std::int64_t kLinesPerEvents = 500;

// Further names tried when "ferrettatmp.txt" is taken (a file left by a run that never ended,
// or the output file itself when the PDF is called ferrettatmp.pdf).
constexpr int kAsideAlternatives = 99;

std::string errorText(int error) {
    return std::strerror(error);
}

// A name in the PDF's folder; a bare file name stays relative.
std::string besidePdf(std::string_view pdfPath, std::string_view name) {
    if (pdfPath.find(search::pathSeparator) == std::string_view::npos)
        return std::string(name);
    return search::folderOf(pdfPath) + search::pathSeparator + std::string(name);
}

bool anythingAt(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Renames without ever replacing what stands at `to`. Answers 0 or an error number (EEXIST
// when the name is taken).
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        return error;
    // The file system has no such rename; a hard link never replaces either.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0)
            return 0;
        error = errno;
        ::unlink(to.c_str());
        return error;
    }
    error = errno;
    if (error == EEXIST)
        return error;
    // No hard links either (FAT, some network shares): look first. Nothing else of this
    // program writes there meanwhile.
    if (anythingAt(to))
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Keeps the user's file that stands where the filter writes, and puts it back. The destructor
// puts it back on every way out that did not do so already, so a stop, a failure or an
// exception never leaves it under the temporary name.
class OutputGuard {
  public:
    explicit OutputGuard(std::string outPath) : m_out(std::move(outPath)) {}
    ~OutputGuard() {
        if (m_armed)
            finish();
    }
    OutputGuard(const OutputGuard&) = delete;
    OutputGuard& operator=(const OutputGuard&) = delete;

    // Moves whatever stands at the output name aside. False (nothing moved, the filter must
    // not run) when no free temporary name is found or the move fails.
    bool moveAside(std::string_view pdfPath) {
        m_armed = true;
        if (!anythingAt(m_out))
            return true;
        for (int i = 0; i <= kAsideAlternatives; ++i) {
            std::string name(filterAsideName);
            if (i > 0)
                name.insert(name.size() - 4, std::to_string(i));  // before ".txt"
            const std::string aside = besidePdf(pdfPath, name);
            if (aside == m_out)
                continue;
            const int error = renameNoReplace(m_out, aside);
            if (error == 0) {
                m_aside = aside;
                return true;
            }
            if (error != EEXIST) {
                app::logWrite(kLogPlace, "cannot move " + m_out + " aside: " + errorText(error));
                m_armed = false;
                return false;
            }
        }
        app::logWrite(kLogPlace, "no free name to move " + m_out + " aside");
        m_armed = false;
        return false;
    }

    // Deletes the filter's output and moves the kept file back. False when the kept file could
    // not be moved back; it then stays under its temporary name (logged), never lost.
    bool finish() {
        m_armed = false;
        if (::unlink(m_out.c_str()) != 0 && errno != ENOENT) {
            app::logWrite(kLogPlace, "cannot delete " + m_out + ": " + errorText(errno));
        }
        if (m_aside.empty())
            return true;
        // A plain rename: whatever the filter left under the name is its own and may go.
        if (::rename(m_aside.c_str(), m_out.c_str()) != 0) {
            app::logWrite(kLogPlace,
                          "cannot move " + m_aside + " back to " + m_out + ": " + errorText(errno));
            return false;
        }
        m_aside.clear();
        return true;
    }

  private:
    std::string m_out;
    std::string m_aside;  // empty when nothing was moved aside
    bool m_armed = false;
};

std::string replaceAll(std::string_view word, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t at = 0;
    for (;;) {
        const std::size_t next = word.find(from, at);
        if (next == std::string_view::npos)
            break;
        out.append(word.substr(at, next - at));
        out.append(to);
        at = next + from.size();
    }
    out.append(word.substr(at));
    return out;
}

}  // namespace

std::optional<std::vector<std::string>> filterCommand(std::string_view filterTemplate,
                                                      std::string_view pdfPath) {
    auto words = platform::splitCommandLine(filterTemplate);
    if (!words || words->empty())
        return std::nullopt;
    for (std::string& word : *words)
        word = replaceAll(word, "%1", pdfPath);
    return words;
}

std::string filterOutputPath(std::string_view pdfPath) {
    return besidePdf(pdfPath, search::baseNameOf(pdfPath) + ".txt");
}

void splitAtFormFeeds(std::string_view line, std::vector<std::string_view>& pieces) {
    static constexpr std::string_view kFormFeed = "\f";
    pieces.clear();
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t feed = line.find('\f', at);
        if (feed == std::string_view::npos) {
            pieces.push_back(line.substr(at));
            break;
        }
        if (feed > at)
            pieces.push_back(line.substr(at, feed - at));
        pieces.push_back(kFormFeed);
        at = feed + 1;
    }
}

PdfFilterSearcher::PdfFilterSearcher(app::Host& host, const app::Settings& settings,
                                     const search::Matcher& matcher, search::SearchFlags& flags)
    : m_host(host), m_settings(settings), m_matcher(matcher), m_flags(flags) {}

const platform::Regex* PdfFilterSearcher::pausePattern() {
    const std::string& source = m_settings.pdfFilterPause;
    if (!m_pauseCompiled || source != m_pauseSource) {
        m_pause.reset();
        m_pauseSource = source;
        m_pauseCompiled = true;
        if (!source.empty()) {
            std::string error;
            m_pause = platform::Regex::compile(source, &error);
            if (!m_pause) {
                m_pauseCompiled = false;  // complain again at the next file
                throw Error(Error::Kind::InvalidPattern, "pdfFilterPause: " + error);
            }
        }
    }
    return m_pause ? &*m_pause : nullptr;
}

bool PdfFilterSearcher::isPageSeparator(std::string_view line) {
    const platform::Regex* pattern = pausePattern();
    return pattern != nullptr && pattern->firstIndex(platform::utf8ToUtf16(line)).has_value();
}

bool PdfFilterSearcher::runFilter(const std::vector<std::string>& argv) {
    std::string error;
    const auto pid = platform::startProcess(argv, &error);
    if (!pid) {
        app::logWrite(kLogPlace, error);
        return false;
    }
    // The filter leads a session of its own, so its process group is its whole family: a
    // stop ends a wrapper script together with the converter it runs.
    bool terminated = false;
    bool killed = false;
    auto terminatedAt = std::chrono::steady_clock::now();
    const auto status = platform::waitForProcess(*pid, [&] {
        m_host.doEvents();
        if (!m_flags.isAbort || killed)
            return;
        if (!terminated) {
            ::kill(-*pid, SIGTERM);
            terminated = true;
            terminatedAt = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - terminatedAt > kTerminateGrace) {
            ::kill(-*pid, SIGKILL);
            killed = true;
        }
    });
    if (status && *status != 0 && !terminated) {
        // Not a failure by itself: the output decides. The status helps whoever reads the log.
        const std::string how = WIFEXITED(*status)
                                    ? "exit code " + std::to_string(WEXITSTATUS(*status))
                                    : "signal " + std::to_string(WTERMSIG(*status));
        app::logWrite(kLogPlace, argv.front() + " ended with " + how);
    }
    return true;
}

void PdfFilterSearcher::searchLine(std::string_view line, bool cp932, const std::string& pdfPath,
                                   const std::string& fileName, std::int32_t& page) {
    if (const platform::Regex* pause = pausePattern()) {
        const std::u16string text =
            cp932 ? platform::cp932ToUtf16(line) : platform::utf8ToUtf16(line);
        if (pause->firstIndex(text)) {
            if (page < std::numeric_limits<std::int32_t>::max())
                ++page;
            return;
        }
    }
    const std::int32_t found = cp932 ? m_matcher.smartFindCp932(line) : m_matcher.smartFind(line);
    if (found > 0) {
        search::addResult(m_host, app::fileType::pdf, fileName,
                          cp932 ? platform::cp932ToUtf8(line) : std::string(line), pdfPath,
                          std::to_string(page));
    }
}

PdfFilterSearcher::RunResult PdfFilterSearcher::readOutput(const std::string& pdfPath,
                                                           const std::string& outPath) {
    struct stat info {};
    if (::stat(outPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        app::logWrite(kLogPlace, "no output " + outPath);
        return RunResult::NoOutput;
    }
    platform::LineReader reader(outPath);
    const bool utf16 = reader.encoding() == platform::TextEncoding::Utf16Le ||
                       reader.encoding() == platform::TextEncoding::Utf16Be;
    const std::string fileName = search::fileNameOf(pdfPath);
    std::int64_t lineCount = 0;
    std::int32_t page = 1;
    std::string line;
    while (!reader.atEndOfStream()) {
        // Filters write UTF-8 or the ANSI code page; which one is decided line by line, since
        // a file's first lines may all be ASCII. Shift-JIS text is almost never valid UTF-8.
        line = utf16 ? reader.readLine() : reader.readRawLine();
        splitAtFormFeeds(line, m_pieces);
        for (std::string_view piece : m_pieces) {
            const bool cp932 = !utf16 && !platform::isValidUtf8(piece);
            searchLine(piece, cp932, pdfPath, fileName, page);
        }
        // Every line counts, empty ones too, so that a file of blank lines can be stopped.
        if (++lineCount % kLinesPerEvents == 0) {
            m_host.doEvents();
            if (m_flags.isAbort)
                return RunResult::Stopped;
        }
    }
    return RunResult::Searched;
}

bool PdfFilterSearcher::find_pdfFilter(const std::string& path) {
    m_host.setCaptionOnSearching(path);
    auto runError = [this] {
        m_host.showMessage(filterRunErrorText, app::MessageStyle::Critical);
        return false;
    };
    auto startError = [this] {
        if (!m_flags.filterErrorShown) {
            m_host.showMessage(filterStartErrorText, app::MessageStyle::Exclamation);
            m_flags.filterErrorShown = true;
        }
        return false;
    };

    const auto argv = filterCommand(m_settings.pdfFilterPath, path);
    if (!argv) {
        app::logWrite(kLogPlace, "unusable filter command: " + m_settings.pdfFilterPath);
        return startError();
    }
    try {
        pausePattern();  // a broken pattern is told before anything is run or moved
    } catch (const Error& failure) {
        app::logWrite(kLogPlace, failure.what());
        return runError();
    }

    const std::string outPath = filterOutputPath(path);
    OutputGuard guard(outPath);
    if (!guard.moveAside(path))
        return runError();
    if (!runFilter(*argv)) {
        guard.finish();
        return startError();
    }
    if (m_flags.isAbort) {
        guard.finish();
        return false;
    }

    RunResult result = RunResult::NoOutput;
    try {
        result = readOutput(path, outPath);
    } catch (const Error& failure) {
        // The output cannot be opened or read; the reader has closed it.
        app::logWrite(kLogPlace, failure.what());
    }
    const bool restored = guard.finish();
    if (result == RunResult::Stopped)
        return false;
    if (result == RunResult::NoOutput || !restored)
        return runError();
    return !m_flags.isAbort;
}

}  // namespace ferretta::pdf
