#pragma once
// The command line of ferretta-cli.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"

namespace ferretta::cli {

// The most lines --context prints on either side of a hit.
inline constexpr int maxContextLines = 1000;

struct CliOptions {
    std::string folder;
    std::string query;
    std::optional<std::string> settingsPath;  // --settings=PATH
    bool strict = false;
    bool regex = false;
    bool nameOnly = false;
    bool noSubfolders = false;
    std::optional<std::vector<app::FileType>> types;  // --types=text,pdf,...
    std::optional<std::string> textTags;              // --text-tags=TXT;CSV
    bool ansi = false;                                // write CP932 with CR LF
    std::optional<int> documentTimeLimit;             // --office-time-limit=SECONDS
    bool pdfEngine = false;                           // --pdf-engine: the built-in PDF engine
    std::optional<std::string> pdfText;  // --pdf-text FILE: print what the engine reads
    std::optional<int> jobs;             // -j N, --jobs=N: threads searching ahead
    std::optional<int> context;          // -C N, --context=N: lines printed around each hit
    bool noCache = false;                // --no-cache: read every document, refresh the cache
    bool hidden = false;               // --hidden: hidden entries and the program's own folders too
    bool binary = false;               // --binary: files that are no text too
    bool rebuildCache = false;         // --rebuild-cache: empty the cache first
    std::optional<bool> officeNative;  // --office-native=on|off
    bool help = false;
    bool version = false;
};

struct ParseResult {
    std::optional<CliOptions> options;
    std::string error;  // why the command line was refused
};

// Parses the arguments after the program name.
ParseResult parseCliOptions(const std::vector<std::string_view>& args);

// The usage text.
std::string usageText();

// Applies the options over settings read from the settings file.
void applyCliOptions(const CliOptions& options, app::Settings& settings);

}  // namespace ferretta::cli
