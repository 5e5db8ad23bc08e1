// ferretta-cli: the search of the desktop program, from the command line.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/cli_host.h"
#include "app/cli/cli_options.h"
#include "app/file_types.h"
#include "app/run_safety.h"
#include "app/settings.h"
#include "app/start_up.h"
#include "pdf/engine/cid_map.h"
#include "pdf/engine/pdf_engine.h"
#include "pdf/frontends/pdf_filter_search.h"
#include "platform/clock.h"
#include "platform/data_folder.h"
#include "platform/office/libreoffice.h"
#include "search/finder.h"
#include "search/query.h"
#include "search/search_command.h"
#include "searchers/office/office_run.h"

namespace {

using namespace ferretta;

int fail(const std::string& text) {
    std::fputs(("ferretta-cli: error: " + text + "\n").c_str(), stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    auto parsed = app::cli::parseCliOptions(args);
    if (!parsed.options) {
        std::fputs(app::cli::usageText().c_str(), stderr);
        return fail(parsed.error);
    }
    const auto& options = *parsed.options;
    if (options.help) {
        std::fputs(app::cli::usageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("ferretta-cli " FERRETTA_VERSION);
        return 0;
    }

    // Before anything can be moved aside: what a killed run left is put back, and Ctrl+C,
    // SIGTERM, SIGHUP and SIGQUIT stop the search the way it unwinds for the stop button.
    for (const std::string& problem : app::prepareRun())
        std::fputs(("ferretta-cli: warning: " + problem + "\n").c_str(), stderr);

    // The settings file when there is one; otherwise the program's start-up values (text
    // files with the extension TXT).
    app::Settings settings;
    settings.editor = std::string(app::defaultEditor);
    const std::filesystem::path settingsPath =
        options.settingsPath ? std::filesystem::path(*options.settingsPath)
                             : platform::dataFolder() / std::string(app::settingsFileName);
    std::error_code ec;
    if (std::filesystem::is_regular_file(settingsPath, ec)) {
        settings = app::loadSettingsFrom(settingsPath);
    } else if (options.settingsPath) {
        return fail("settings file not found: " + *options.settingsPath);
    }
    app::cli::applyCliOptions(options, settings);

    if (!app::isFolder(settings.dir)) {
        return fail("検索フォルダが無効です 正しいフォルダを指定してください: " + settings.dir);
    }
    if (options.query.empty())
        return fail("検索文字列を入力してください");

    search::SearchFlags flags;
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    app::cli::CliHost host(stdout, stderr, options.ansi, flags);

    search::Matcher matcher(settings.regular, settings.strict);
    matcher.targetStrsSplit(options.query);
    if (settings.regular && !matcher.patternValid()) {
        return fail("invalid regular expression: " + matcher.patternError());
    }
    search::Finder finder(host, settings, matcher, flags);
    pdf::PdfFilterSearcher pdfFilter(host, settings, matcher, flags);
    if (!settings.pdfOwnEngine && !settings.pdfFilterPath.empty()) {
        finder.setSearcher(app::fileType::pdf, [&pdfFilter](const std::string& path) {
            return pdfFilter.find_pdfFilter(path);
        });
    }
    std::unique_ptr<pdf::PdfEngine> pdfEngine;
    if (settings.pdfOwnEngine) {
        if (!pdf::cidTable().p2tCIDInit(platform::findDataFile("AdobeCID.dat"),
                                        platform::dataFolder())) {
            return fail(std::string("AdobeCID.dat") + "の読み込みでエラーが発生しました");
        }
        pdfEngine = std::make_unique<pdf::PdfEngine>(host, matcher, flags, pdf::cidTable());
        finder.setSearcher(app::fileType::pdf, [&pdfEngine](const std::string& path) {
            return pdfEngine->p2tMain(path);
        });
    }

    // Word, Excel and PowerPoint files go through an office started for this search (not for a
    // search of file names only, which opens no file). The automation ends every office it
    // started when it goes, after the session.
    const auto& types = settings.fileTypes;
    const bool officeWanted = !settings.fileNameOnly && (types.isTarget(app::fileType::word) ||
                                                         types.isTarget(app::fileType::excel) ||
                                                         types.isTarget(app::fileType::powerPoint));
    std::unique_ptr<platform::office::Automation> officeAutomation;
    std::unique_ptr<searchers::office::OfficeSession> officeSession;
    std::unique_ptr<searchers::office::OfficeSearchers> officeSearchers;
    bool searchRuns = true;
    if (officeWanted) {
        platform::office::LibreOfficeConfig config;
        config.profileRoot = platform::dataFolder() / "office";
        officeAutomation = platform::office::makeLibreOfficeAutomation(config);
        officeSession = std::make_unique<searchers::office::OfficeSession>(*officeAutomation);
        searchRuns = searchers::office::startOfficeRun(*officeSession, host, settings);
        officeSearchers = std::make_unique<searchers::office::OfficeSearchers>(
            *officeSession, host, settings, matcher, flags);
        officeSearchers->install(finder);
    }

    flags.isSearching = true;
    const auto start = platform::steadyMilliseconds();
    const std::int64_t files = searchRuns ? search::runSearch(host, settings, finder, flags) : 0;
    const auto end = platform::steadyMilliseconds();
    flags.isSearching = false;
    // Before the summary, so that the summary stays the last line of the output.
    if (officeSession)
        searchers::office::endOfficeRun(*officeSession, host, settings);
    std::fflush(stdout);
    const bool outputFailed = std::ferror(stdout) != 0;

    const std::string summary =
        search::summaryText(files, static_cast<std::int64_t>(host.hitCount()),
                            searchRuns ? std::optional<std::int64_t>(end - start) : std::nullopt);
    std::fputs((summary + "\n").c_str(), stderr);
    if (host.sawError() || outputFailed)
        return 2;
    return host.hitCount() > 0 ? 0 : 1;
}
