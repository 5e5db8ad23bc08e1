#include "cli/cli_options.h"

#include <charconv>

#include "app/file_types.h"
#include "platform/unicode.h"
#include "platform/width_fold.h"

namespace ferretta::cli {
namespace {

std::optional<std::string_view> valueOf(std::string_view arg, std::string_view name) {
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
        return arg.substr(name.size() + 1);
    }
    return std::nullopt;
}

// The whole text as a decimal number from low to high; nullopt otherwise.
std::optional<int> numberIn(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

}  // namespace

std::string usageText() {
    return "usage: ferretta-cli [options] FOLDER QUERY\n"
           "       ferretta-cli --pdf-text FILE.pdf\n"
           "\n"
           "Searches the files of FOLDER (and its sub-folders) for QUERY and prints one line per "
           "hit:\n"
           "  \"name\",\"matching text\",\"path\",\"position\"\n"
           "QUERY is what you would type into the search box: words separated by blanks or\n"
           "ideographic spaces match when any of them occurs; a leading \"&& \" asks for all of "
           "them.\n"
           "\n"
           "options (they override the settings file):\n"
           "  --strict            distinguish upper/lower case and full/half width\n"
           "  --regex             QUERY is one regular expression (JavaScript syntax, ignoring "
           "case)\n"
           "  --name-only         match file names only\n"
           "  --no-subfolders     do not search sub-folders\n"
           "  --hidden            also search hidden files and folders (names starting with a\n"
           "                      dot) and Ferretta's own settings and cache folders\n"
           "  --binary            also search text-type files that hold a NUL byte near their\n"
           "                      start (binary files)\n"
           "  --types=LIST        file types to search, comma-separated: text, word, excel,\n"
           "                      powerpoint, pdf, access, outlook-task, outlook-mail,\n"
           "                      outlook-calendar, outlook-contact, outlook-note\n"
           "  --text-tags=LIST    extensions of text files, e.g. TXT;CSV;LOG\n"
           "  --pdf-engine        search PDF files with the built-in engine (needs AdobeCID.dat)\n"
           "  --pdf-text          print the text the built-in engine reads from FILE.pdf, page by\n"
           "                      page (UTF-8, a form feed after each page)\n"
           "  --office-time-limit=SECONDS\n"
           "                      time one Word, Excel or PowerPoint document may take (0: no "
           "limit)\n"
           "  --no-cache          read every PDF and Office document and every mailbox\n"
           "                      itself, not from the document cache (what the cache holds\n"
           "                      for them is replaced by what was read)\n"
           "  --rebuild-cache     empty the document cache first, then search (reading and\n"
           "                      keeping every document anew)\n"
           "  --office-native=on|off\n"
           "                      read .docx .xlsx .pptx .odt .ods .odp and the like directly,\n"
           "                      LibreOffice only for what they cannot (on), or every Office\n"
           "                      document through LibreOffice (off, to compare)\n"
           "  --settings=PATH     settings file to read (default: frtta.ini in the data folder)\n"
           "  --ansi              write the hits in CP932 with CR LF, exactly as a saved result "
           "file\n"
           "  -C N, --context=N   print N lines around each hit (neighbouring sentences,\n"
           "                      cells, slide texts or page lines for documents), as\n"
           "                      \"name-line-text\" lines, groups apart separated by \"--\"\n"
           "  -j N, --jobs=N      threads that read and search files ahead (default: one per\n"
           "                      core; at most 8 run; 1: everything on one thread)\n"
           "  --help, --version\n"
           "\n"
           "exit status: 0 when something was found, 1 when nothing was, 2 on an error\n";
}

ParseResult parseCliOptions(const std::vector<std::string_view>& args) {
    CliOptions options;
    std::vector<std::string_view> positional;
    bool optionsEnded = false;
    bool pdfText = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (!optionsEnded && (arg.substr(0, 2) == "-j" || arg.substr(0, 2) == "-C")) {
            // -j N, -jN, -C N, -CN
            std::string_view number = arg.substr(2);
            if (number.empty() && i + 1 < args.size())
                number = args[++i];
            if (arg[1] == 'C') {
                options.context = numberIn(number, 0, maxContextLines);
                if (!options.context)
                    return {std::nullopt, "-C needs a number of lines from 0 to 1000"};
                continue;
            }
            auto jobs = numberIn(number, 1, 64);
            if (!jobs)
                return {std::nullopt, "-j needs a number of threads from 1 to 64"};
            options.jobs = jobs;
            continue;
        }
        if (optionsEnded || arg.size() < 2 || arg.substr(0, 2) != "--") {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--strict") {
            options.strict = true;
        } else if (arg == "--regex") {
            options.regex = true;
        } else if (arg == "--name-only") {
            options.nameOnly = true;
        } else if (arg == "--no-subfolders") {
            options.noSubfolders = true;
        } else if (arg == "--pdf-engine") {
            options.pdfEngine = true;
        } else if (arg == "--pdf-text") {
            pdfText = true;
        } else if (arg == "--no-cache") {
            options.noCache = true;
        } else if (arg == "--hidden") {
            options.hidden = true;
        } else if (arg == "--binary") {
            options.binary = true;
        } else if (arg == "--rebuild-cache") {
            options.rebuildCache = true;
        } else if (arg == "--ansi") {
            options.ansi = true;
        } else if (arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (auto path = valueOf(arg, "--settings")) {
            options.settingsPath = std::string(*path);
        } else if (auto limit = valueOf(arg, "--office-time-limit")) {
            options.documentTimeLimit = numberIn(*limit, 0, app::maxDocumentTimeLimit);
            if (!options.documentTimeLimit)
                return {std::nullopt, "not a number of seconds: " + std::string(*limit)};
        } else if (auto jobs = valueOf(arg, "--jobs")) {
            options.jobs = numberIn(*jobs, 1, 64);
            if (!options.jobs)
                return {std::nullopt, "--jobs needs a number of threads from 1 to 64"};
        } else if (auto lines = valueOf(arg, "--context")) {
            options.context = numberIn(*lines, 0, maxContextLines);
            if (!options.context)
                return {std::nullopt, "--context needs a number of lines from 0 to 1000"};
        } else if (auto native = valueOf(arg, "--office-native")) {
            if (*native != "on" && *native != "off")
                return {std::nullopt, "--office-native is on or off"};
            options.officeNative = *native == "on";
        } else if (auto tags = valueOf(arg, "--text-tags")) {
            options.textTags = std::string(*tags);
        } else if (auto list = valueOf(arg, "--types")) {
            std::vector<app::FileType> types;
            std::string_view rest = *list;
            while (!rest.empty()) {
                std::size_t comma = rest.find(',');
                std::string_view name = rest.substr(0, comma);
                std::optional<app::FileType> type = app::fileTypeFromName(name);
                if (!type)
                    return {std::nullopt, "unknown file type: " + std::string(name)};
                types.push_back(*type);
                rest =
                    comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            }
            options.types = types;
        } else {
            return {std::nullopt, "unknown option: " + std::string(arg)};
        }
    }
    if (options.help || options.version)
        return {options, {}};
    if (pdfText) {
        if (positional.size() != 1)
            return {std::nullopt, "--pdf-text expects one PDF file"};
        options.pdfText = std::string(positional[0]);
        return {options, {}};
    }
    if (positional.size() != 2)
        return {std::nullopt, "expected FOLDER and QUERY"};
    options.folder = std::string(positional[0]);
    options.query = std::string(positional[1]);
    return {options, {}};
}

void applyCliOptions(const CliOptions& options, app::Settings& settings) {
    settings.dir = options.folder;
    if (options.strict)
        settings.strict = true;
    if (options.regex)
        settings.regular = true;
    if (options.nameOnly)
        settings.fileNameOnly = true;
    if (options.noSubfolders)
        settings.subFolder = false;
    if (options.pdfEngine)
        settings.pdfOwnEngine = true;
    if (options.documentTimeLimit)
        settings.documentTimeLimit = *options.documentTimeLimit;
    if (options.jobs)
        settings.workers = *options.jobs;
    if (options.noCache)
        settings.textCacheRefreshOnly = true;
    if (options.hidden)
        settings.hiddenFiles = true;
    if (options.binary)
        settings.binaryFiles = true;
    if (options.officeNative)
        settings.officeNative = *options.officeNative;
    if (options.types) {
        settings.fileTypes.targetFileType.fill(false);
        for (app::FileType type : *options.types)
            settings.fileTypes.setTarget(type, true);
    }
    if (options.textTags) {
        // Extensions are kept in upper case and half width, as the options dialog stores them.
        settings.textTags =
            platform::utf16ToUtf8(platform::foldForMatch(platform::utf8ToUtf16(*options.textTags)));
    }
}

}  // namespace ferretta::cli
