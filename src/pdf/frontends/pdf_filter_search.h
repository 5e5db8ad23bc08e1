#pragma once
// Searching a PDF through an external filter program that turns it into text.
//
// The filter is the user's command template (pdfFilterPath) with %1 standing for the PDF's
// path; it must write the PDF's text beside it as "<base name>.txt". The PDF it is given is a
// link to the user's PDF in a folder of the search's own, so that what it writes never stands
// beside the user's files, where another search (another window, ferretta-cli, another user's
// search of a shared folder) could take it or the user's own "<base name>.txt" be lost. The
// text is read line by line; lines matching pdfFilterPause mark page breaks, so every hit gets
// the page it is on.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"
#include "app/settings.h"
#include "cache/units.h"
#include "platform/regex.h"
#include "platform/work_folder.h"
#include "search/query.h"
#include "search/search_context.h"
#include "search/search_flags.h"

namespace ferretta::pdf {

// Shown once per search when the filter program cannot be started at all.
inline constexpr std::string_view filterStartErrorText =
    "PDFファイル検索中に、フィルタプログラムの実行でエラーが発生しました";
// Shown for every PDF whose filter run failed otherwise (no output, no work folder).
inline constexpr std::string_view filterRunErrorText =
    "PDFファイルのフィルタ検索でエラーが発生しました。\r設定を確認してください";

// The argument vector of the filter for one PDF: the template is split into words by shell
// quoting rules (no shell runs it), then every %1 in every word becomes the PDF's path and
// every %2 the path of the text file the search reads (filterOutputPath), so both
// "pdftotext %1" and "pdftotext %1 %2" work. A path with blanks, quotes or "$(...)" always
// reaches the filter as (part of) one argument, and a %1 or %2 inside a path is not replaced
// again. A template without them runs unchanged. nullopt when the template has an unclosed
// quote or no words.
std::optional<std::vector<std::string>> filterCommand(std::string_view filterTemplate,
                                                      std::string_view pdfPath);

// Where the filter writes the text of a PDF: its folder, its base name, ".txt".
std::string filterOutputPath(std::string_view pdfPath);

// Cuts one line of filter output into the lines the search sees: every form feed stands as a
// line of its own. pdftotext and its kin end each page with a form feed glued to the start of
// the next page's first line; without the cut that first line would be taken for a page
// separator and never searched. Empty pieces are dropped.
void splitAtFormFeeds(std::string_view line, std::vector<std::string_view>& pieces);

class PdfFilterSearcher {
  public:
    // The settings are read at every file, so changes between searches take effect.
    explicit PdfFilterSearcher(const search::SearchContext& context);

    // Runs the filter over the PDF (through a link named "<base name>.pdf" in the search's work
    // folder, where the filter writes too), waits for it with the user interface alive, and
    // reports every matching line (icon 13, the file name, the line, the path, the page).
    // Nothing is written beside the PDF. Whatever the filter started is ended, and what it
    // wrote removed, before the next file.
    // Answers true when the file was searched. False, after telling the user:
    // - the filter cannot be started (no template, unclosed quote, program not found): the
    //   start message, once per search (flags.filterErrorShown);
    // - the output is missing or unreadable, the work folder cannot be made, the page-break
    //   pattern is invalid: the run message, for every such file.
    // False without a message when the search is stopped; a filter still running then is
    // ended (terminated, then killed after a grace period, with everything it started). The
    // filter also ends when this program ends, however it ends.
    bool find_pdfFilter(const std::string& path);

    // True when the line is a page break: it matches pdfFilterPause somewhere. An empty
    // pattern marks no page breaks (all hits are on page 1). Throws ferretta::Error (kind
    // InvalidPattern) when the pattern does not compile.
    bool isPageSeparator(std::string_view line);

    // Where the work folder is made (platform::workFolderParent unless set here).
    void setWorkParent(std::filesystem::path folder) { m_workParent = std::move(folder); }

    // While set, every line that is matched (not a page break, not empty) is handed to the
    // callback with its page: its text in UTF-8 and, for a line in the ANSI code page, its own
    // bytes (empty otherwise). What the document cache keeps of a PDF read through the filter.
    using Lines =
        std::function<void(std::int32_t page, std::string_view text, std::string_view ansi)>;
    void setLines(Lines lines) { m_lines = std::move(lines); }

    // Searches lines handed out by an earlier run over the file (place: page, text, shown: the
    // ANSI bytes) as find_pdfFilter searches them: the same hits in the same order. False when
    // the search is stopped.
    bool matchLines(const std::string& path, std::span<const cache::Unit> lines);

  private:
    enum class RunResult { Searched, Stopped, NoOutput };
    const platform::Regex* pausePattern();
    RunResult readOutput(const std::string& pdfPath, const std::string& outPath);
    void searchLine(std::string_view line, bool cp932, const std::string& pdfPath,
                    const std::string& fileName, std::int32_t& page);
    bool runFilter(const std::vector<std::string>& argv);
    std::optional<std::string> linkInWorkFolder(const std::string& pdfPath, std::string& why);

    app::Host& m_host;
    const app::Settings& m_settings;
    const search::Matcher& m_matcher;
    search::SearchFlags& m_flags;
    // The compiled page-break pattern, and the text it was compiled from.
    std::optional<platform::Regex> m_pause;
    std::string m_pauseSource;
    bool m_pauseCompiled = false;
    std::vector<std::string_view> m_pieces;
    std::filesystem::path m_workParent;
    std::optional<platform::WorkFolder> m_work;  // made at the first PDF
    Lines m_lines;
};

}  // namespace ferretta::pdf
