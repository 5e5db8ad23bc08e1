// ferretta-cli: the search of the desktop program, from the command line.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/debug_log.h"
#include "app/settings.h"
#include "cli/cli_host.h"
#include "cli/cli_options.h"
#include "drivers/office/libreoffice_loader.h"
#include "drivers/pim/desktop_store_loader.h"
#include "pdf/engine/text_dump.h"
#include "platform/data_folder.h"
#include "platform/ini_file.h"
#include "platform/unicode.h"
#include "run/document_cache_use.h"
#include "run/run_safety.h"
#include "run/search_run.h"
#include "run/start_up.h"
#include "search/query.h"
#include "searchers/office/office_session.h"
#include "searchers/outlook/outlook_search.h"

namespace {

using namespace ferretta;

int fail(const std::string& text) {
    std::fputs((cli::forStream(stderr, "ferretta-cli: error: " + text, true) + "\n").c_str(),
               stderr);
    return 2;
}

// The office of Word, Excel and PowerPoint files, started at the first search that needs it.
// The session goes first; the automation then ends every office it started.
struct Office {
    std::unique_ptr<platform::office::Automation> automation;
    std::unique_ptr<searchers::office::OfficeSession> session;

    searchers::office::OfficeSession& get(app::Host& host, const app::Settings& settings,
                                          const search::SearchFlags& flags) {
        if (!session) {
            platform::office::LibreOfficeConfig config;
            config.profileRoot = platform::dataFolder() / "office";
            config.documentTimeoutMs = settings.documentTimeLimit * 1000;
            config.keepWaiting = run::officeKeepWaiting(host, flags);
            automation = platform::office::loadLibreOfficeAutomation(config);
            session = std::make_unique<searchers::office::OfficeSession>(*automation);
        }
        return *session;
    }
};

// The desktop's stores of tasks, mail, calendar, contacts and notes, opened at the first search
// that needs them.
struct ItemStores {
    std::unique_ptr<searchers::outlook::OutlookSession> session;

    searchers::outlook::OutlookSession& get() {
        if (!session) {
            session = std::make_unique<searchers::outlook::OutlookSession>(
                platform::pim::loadDesktopItemStore(
                    platform::dataFolder(), [](std::string_view place, std::string_view message) {
                        app::logWrite(place, message);
                    }));
        }
        return *session;
    }
};

// Blanks alone name no word to search for (the ideographic space is a blank as in the
// search words).
bool onlyBlanks(std::string_view query) {
    while (!query.empty()) {
        if (query.front() == ' ' || query.front() == '\t')
            query.remove_prefix(1);
        else if (query.starts_with("\xE3\x80\x80"))
            query.remove_prefix(3);
        else
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    auto parsed = cli::parseCliOptions(args);
    if (!parsed.options) {
        std::fputs(cli::usageText().c_str(), stderr);
        return fail(parsed.error);
    }
    const auto& options = *parsed.options;
    if (options.help) {
        std::fputs(cli::usageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("ferretta-cli " FERRETTA_VERSION);
        return 0;
    }
    if (options.pdfText)
        return pdf::printPdfText(*options.pdfText, stdout, stderr);

    // Before a search can start: what a killed run left is cleared away, and Ctrl+C,
    // SIGTERM, SIGHUP and SIGQUIT stop the search the way it unwinds for the stop button.
    for (const std::string& problem : run::prepareRun())
        std::fputs(("ferretta-cli: warning: " + problem + "\n").c_str(), stderr);

    // The settings file when there is one; otherwise the values a new user's window starts
    // from (without them, the start-up values: text files with the extension TXT).
    app::Settings settings;
    settings.editor = std::string(app::defaultEditor);
    const std::filesystem::path settingsPath =
        options.settingsPath ? std::filesystem::path(*options.settingsPath)
                             : platform::dataFolder() / std::string(app::settingsFileName);
    std::error_code ec;
    if (std::filesystem::is_regular_file(settingsPath, ec)) {
        if (!std::ifstream(settingsPath).is_open())
            return fail("settings file cannot be read: " + settingsPath.string());
        // An empty or foreign file would read as every file type off: a search of nothing
        // that looks like a search that found nothing.
        const platform::IniFile ini = platform::IniFile::load(settingsPath);
        if (!app::holdsSettings(ini))
            return fail("settings file holds no settings: " + settingsPath.string());
        app::loadConfigFile(ini, settings);
    } else if (options.settingsPath) {
        return fail("settings file not found: " + *options.settingsPath);
    } else if (const platform::IniFile defaults = app::defaultSettingsDocument(
                   platform::findDataFile(std::string(app::defaultSettingsFileName)),
                   platform::homeFolder().string());
               !defaults.serialize().empty()) {
        app::loadConfigFile(defaults, settings);
    }
    cli::applyCliOptions(options, settings);

    if (!run::isFolder(settings.dir))
        return fail("検索フォルダが無効です 正しいフォルダを指定してください: " + settings.dir);
    // Words a terminal in another encoding sent (CP932 bytes) would never match anything.
    if (!platform::isValidUtf8(options.query))
        return fail("the search words are not UTF-8 text (is the terminal set to UTF-8?)");
    if (options.query.empty() || (!settings.regular && onlyBlanks(options.query)))
        return fail("検索文字列を入力してください");
    if (settings.regular) {
        search::Matcher probe(true, false);
        probe.targetStrsSplit(options.query);
        if (!probe.patternValid())
            return fail("invalid regular expression: " + probe.patternError());
    }

    if (options.rebuildCache && settings.textCache && !run::clearDocumentCache())
        std::fputs("ferretta-cli: the document cache cannot be used; searching without it\n",
                   stderr);
    search::SearchFlags flags;
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    ItemStores itemStores;
    cli::CliHost host(stdout, stderr, options.ansi, flags);
    search::Matcher contextMatcher(settings.regular, settings.strict);
    if (options.context) {
        contextMatcher.targetStrsSplit(options.query);
        host.setContextLines(*options.context, contextMatcher,
                             [&itemStores](const app::Hit& hit) -> hits::ItemReader {
                                 if (!itemStores.session)
                                     return nullptr;
                                 return itemStores.session->itemReader(hit.fileType, hit.location);
                             });
    }
    Office office;
    run::SearchRunHooks hooks;
    hooks.officeSession = [&]() -> searchers::office::OfficeSession& {
        return office.get(host, settings, flags);
    };
    hooks.outlookSession = [&itemStores]() -> searchers::outlook::OutlookSession& {
        return itemStores.get();
    };
    hooks.hitCount = [&host] { return static_cast<std::int64_t>(host.hitCount()); };
    const run::SearchOutcome outcome =
        run::runSearchCommand(host, settings, flags, options.query, hooks);
    host.finishContext();
    // What the search read is written to the cache before the program ends.
    run::closeDocumentCache();

    // The summary stays the last line of the output, after what ending the offices said.
    std::fflush(stdout);
    const bool outputFailed = std::ferror(stdout) != 0;
    std::fputs((outcome.summary + "\n").c_str(), stderr);
    if (host.sawError() || outcome.folderUnusable || outputFailed)
        return 2;
    return outcome.hits > 0 ? 0 : 1;
}
