#include "pdf/frontends/pdf_filter_search.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
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

// A name in the PDF's folder; a bare file name stays relative.
std::string besidePdf(std::string_view pdfPath, std::string_view name) {
    if (pdfPath.find(search::pathSeparator) == std::string_view::npos)
        return std::string(name);
    return search::folderOf(pdfPath) + search::pathSeparator + std::string(name);
}

// The word with every %1 and %2 replaced in one pass, so that a "%2" inside the inserted path
// is never replaced again.
std::string fillPlaceholders(std::string_view word, std::string_view pdfPath,
                             std::string_view outPath) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && i + 1 < word.size() && (word[i + 1] == '1' || word[i + 1] == '2')) {
            out.append(word[i + 1] == '1' ? pdfPath : outPath);
            ++i;
        } else {
            out += word[i];
        }
    }
    return out;
}

// A line in the ANSI code page is kept only when matching its decoded text finds what
// matching its own bytes finds: its bytes must be what encoding the decoded text gives.
bool readsBackTheSame(std::string_view ansi, std::string_view text) {
    std::string normalized;
    const std::string_view own =
        platform::normalizeCp932Duplicates(ansi, normalized) ? std::string_view(normalized) : ansi;
    return platform::utf8ToCp932(text, platform::Cp932Fallback::BestFit) == own;
}

}  // namespace

std::optional<std::vector<std::string>> filterCommand(std::string_view filterTemplate,
                                                      std::string_view pdfPath) {
    auto words = platform::splitCommandLine(filterTemplate);
    if (!words || words->empty())
        return std::nullopt;
    const std::string outPath = filterOutputPath(pdfPath);
    for (std::string& word : *words)
        word = fillPlaceholders(word, pdfPath, outPath);
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

// Every line the filter wrote is matched and reported with its page; at each line without
// text (every 500th line read) events run and a stop ends the file.
class PdfFilterSearcher::Matcher final : public pipeline::DocumentMatcher {
  public:
    using DocumentMatcher::DocumentMatcher;

    bool unit(const documents::UnitView& line) override {
        if (line.text.empty()) {
            m_context.host.doEvents();
            return !m_context.flags.isAbort;
        }
        const bool cp932 = !line.shown.empty();
        if ((cp932 ? m_context.matcher.smartFindCp932(line.shown)
                   : m_context.matcher.smartFind(line.text)) > 0) {
            search::addResult(m_context.host, app::FileType::Pdf, m_name, line.text, m_path,
                              std::to_string(line.place));
        }
        return true;
    }
};

PdfFilterSearcher::PdfFilterSearcher(const search::SearchContext& context, pipeline::CacheUse use)
    : m_host(context.host),
      m_settings(context.settings),
      m_flags(context.flags),
      m_use(std::move(use)),
      m_matcher(std::make_unique<Matcher>(context)),
      m_workParent(platform::workFolderParent()) {}

PdfFilterSearcher::~PdfFilterSearcher() = default;

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
    auto filter = platform::GuardedProcess::start(argv, &error);
    if (!filter) {
        app::logWrite(kLogPlace, error);
        return false;
    }
    // A stop ends the filter with everything it started: a wrapper script together with the
    // converter it runs. Should this program end meanwhile, they end with it.
    bool terminated = false;
    bool killed = false;
    auto terminatedAt = std::chrono::steady_clock::now();
    const auto status = filter->wait([&] {
        m_host.doEvents();
        if (!m_flags.isAbort || killed)
            return;
        if (!terminated) {
            filter->terminate();
            terminated = true;
            terminatedAt = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - terminatedAt > kTerminateGrace) {
            filter->kill();
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

PdfFilterSearcher::RunResult PdfFilterSearcher::readOutput(const std::string& outPath,
                                                           pipeline::UnitSink& sink, bool& keep) {
    struct stat info {};
    if (::stat(outPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        app::logWrite(kLogPlace, "no output " + outPath);
        return RunResult::NoOutput;
    }
    platform::LineReader reader(outPath);
    const bool utf16 = reader.encoding() == platform::TextEncoding::Utf16Le ||
                       reader.encoding() == platform::TextEncoding::Utf16Be;
    const platform::Regex* pause = pausePattern();
    std::int32_t lineCount = 0;
    std::int32_t page = 1;
    std::string line;
    std::string text;
    while (!reader.atEndOfStream()) {
        // Filters write UTF-8 or the ANSI code page; which one is decided line by line, since
        // a file's first lines may all be ASCII. Shift-JIS text is almost never valid UTF-8.
        line = utf16 ? reader.readLine() : reader.readRawLine();
        splitAtFormFeeds(line, m_pieces);
        for (std::string_view piece : m_pieces) {
            const bool cp932 = !utf16 && !platform::isValidUtf8(piece);
            text = cp932 ? platform::cp932ToUtf8(piece) : std::string(piece);
            if (pause != nullptr && pause->firstIndex(platform::utf8ToUtf16(text))) {
                if (page < std::numeric_limits<std::int32_t>::max())
                    ++page;
                continue;
            }
            if (piece.empty())
                continue;
            keep = keep && (!cp932 || readsBackTheSame(piece, text));
            sink.unit({page, lineCount + 1, 0, text, cp932 ? piece : std::string_view(), true});
        }
        // Every line counts, empty ones too, so that a file of blank lines can be stopped.
        if (lineCount < std::numeric_limits<std::int32_t>::max() &&
            ++lineCount % kLinesPerEvents == 0 && !sink.unit({page, lineCount, 0, {}, {}, true}))
            return RunResult::Stopped;
    }
    return RunResult::Searched;
}

std::optional<std::string> PdfFilterSearcher::linkInWorkFolder(const std::string& pdfPath,
                                                               std::string& why) {
    if (!m_work) {
        m_work = platform::WorkFolder::make(m_workParent, &why);
        if (!m_work)
            return std::nullopt;
    }
    // Named ".pdf" whatever the PDF's spelling, so that pdftotext's own output name is always
    // "<base name>.txt".
    const std::filesystem::path link = m_work->path() / (search::baseNameOf(pdfPath) + ".pdf");
    std::error_code error;
    std::filesystem::create_symlink(std::filesystem::absolute(pdfPath, error), link, error);
    if (error) {
        why = "cannot link " + pdfPath + " in " + m_work->path().string() + ": " + error.message();
        return std::nullopt;
    }
    return link.string();
}

bool PdfFilterSearcher::find_pdfFilter(const std::string& path) {
    pipeline::Extractor* const readers[] = {this};
    return pipeline::searchFile(path, m_use, readers, *m_matcher, m_host);
}

pipeline::Extraction PdfFilterSearcher::extract(const std::string& path, pipeline::UnitSink& sink) {
    pipeline::Extraction read;
    auto ended = [&read](pipeline::Outcome outcome) {
        read.outcome = outcome;
        return read;
    };
    auto runError = [&] {
        m_host.showMessage(filterRunErrorText, app::MessageStyle::Critical);
        return ended(pipeline::Outcome::Failed);
    };
    auto startError = [&] {
        if (!m_flags.filterErrorShown) {
            m_host.showMessage(filterStartErrorText, app::MessageStyle::Exclamation);
            m_flags.filterErrorShown = true;
        }
        return ended(pipeline::Outcome::Failed);
    };

    if (!filterCommand(m_settings.pdfFilterPath, path)) {
        app::logWrite(kLogPlace, "unusable filter command: " + m_settings.pdfFilterPath);
        return startError();
    }
    try {
        pausePattern();  // a broken pattern is told before anything is run
    } catch (const Error& failure) {
        app::logWrite(kLogPlace, failure.what());
        return runError();
    }
    std::string why;
    const auto link = linkInWorkFolder(path, why);
    if (!link) {
        app::logWrite(kLogPlace, why);
        return runError();
    }
    // Whatever the filter made in the work folder goes before the next file.
    auto finish = [&] {
        if (!m_work->clear(&why))
            app::logWrite(kLogPlace, why);
    };
    if (!runFilter(*filterCommand(m_settings.pdfFilterPath, *link))) {
        finish();
        return startError();
    }
    if (m_flags.isAbort) {
        finish();
        return ended(pipeline::Outcome::Stopped);
    }

    RunResult result = RunResult::NoOutput;
    try {
        result = readOutput(filterOutputPath(*link), sink, read.keep);
    } catch (const Error& failure) {
        // The output cannot be opened or read; the reader has closed it.
        app::logWrite(kLogPlace, failure.what());
    }
    finish();
    if (result == RunResult::Stopped)
        return ended(pipeline::Outcome::Stopped);
    if (result == RunResult::NoOutput)
        return runError();
    return ended(m_flags.isAbort ? pipeline::Outcome::Stopped : pipeline::Outcome::Complete);
}

}  // namespace ferretta::pdf
