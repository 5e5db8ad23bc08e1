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
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"
#include "app/settings.h"
#include "pipeline/unit_pipeline.h"
#include "platform/regex.h"
#include "platform/work_folder.h"
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

// The filter's run over one PDF is the extractor: every line that is neither empty nor a page
// break is a unit (place: its page, row: its line number, shown: its own bytes when in the ANSI
// code page); every 500th line also gives a unit without text, where events run.
class PdfFilterSearcher final : public pipeline::Extractor {
  public:
    // The settings are read at every file, so changes between searches take effect. With a
    // cache (`use`), a file kept unchanged is searched in the lines kept of it, without the
    // filter.
    explicit PdfFilterSearcher(const search::SearchContext& context, pipeline::CacheUse use = {});
    ~PdfFilterSearcher() override;

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

    // The filter's run over the PDF, its lines handed to the sink (the messages of the
    // failures above are told here). Not kept when a line in the ANSI code page would not read
    // back the same from its text.
    pipeline::Extraction extract(const std::string& path, pipeline::UnitSink& sink) override;

  private:
    class Matcher;
    enum class RunResult { Searched, Stopped, NoOutput };
    const platform::Regex* pausePattern();
    RunResult readOutput(const std::string& outPath, pipeline::UnitSink& sink, bool& keep);
    bool runFilter(const std::vector<std::string>& argv);
    std::optional<std::string> linkInWorkFolder(const std::string& pdfPath, std::string& why);

    app::Host& m_host;
    const app::Settings& m_settings;
    search::SearchFlags& m_flags;
    const pipeline::CacheUse m_use;
    std::unique_ptr<Matcher> m_matcher;
    // The compiled page-break pattern, and the text it was compiled from.
    std::optional<platform::Regex> m_pause;
    std::string m_pauseSource;
    bool m_pauseCompiled = false;
    std::vector<std::string_view> m_pieces;
    std::filesystem::path m_workParent;
    std::optional<platform::WorkFolder> m_work;  // made at the first PDF
};

}  // namespace ferretta::pdf
