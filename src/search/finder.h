#pragma once
// Walking the search folder and handing each file to the searcher for its type.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "app/host.h"
#include "app/settings.h"
#include "search/query.h"
#include "search/search_flags.h"
#include "search/text_search.h"

namespace ferretta::search {

// The file-type number of an extension (upper case): Word 2 (DOC, DOCX, DOCM, ODT), Excel 3
// (XLS, XLSX, XLSM, ODS), PowerPoint 16 (PPT, PPTX, ODP), MDB 15, PDF 13, an extension listed
// in textTags 1, anything else 0.
int fileTypeOf(std::string_view extension, std::string_view textTags);

// True when the extension followed by ";" occurs in textTags followed by ";". So the empty
// extension always counts, and so does the tail of a listed one ("XT" with "TXT").
bool isTextTag(std::string_view extension, std::string_view textTags);

class Finder {
  public:
    // A searcher for one file type: answers true when the file counts as searched.
    using Searcher = std::function<bool(const std::string& path)>;

    Finder(app::Host& host, const app::Settings& settings, const Matcher& matcher,
           SearchFlags& flags);

    // Installs the searcher of a file type (Word, Excel, PowerPoint, PDF come from their own
    // modules). Without one, files of that type answer false.
    void setSearcher(int fileType, Searcher searcher);

    // Searches the folder (and its sub-folders when the settings say so): reports file-name
    // hits for every file and hands every file to findInFile. A separator is appended to the
    // caller's folder text when it lacks one. Answers how many files were searched. An empty
    // folder text, or a folder that does not exist, is reported to the user, sets the stop
    // flag and answers 0. A folder that exists but cannot be listed throws ferretta::Error, as
    // do the searchers' own failures. Symbolic links to folders are not followed.
    std::int64_t findInDir(std::string& folder);

    // Dispatches one file by its extension; false when its type is off or has no searcher.
    bool findInFile(const std::string& path);

    // Reports a hit on the file name itself, whatever the file's type.
    void checkFileName(const std::string& path);

  private:
    bool listFolder(const std::string& folder, std::vector<std::string>& files,
                    std::vector<std::string>& folders, bool topLevel);

    app::Host& m_host;
    const app::Settings& m_settings;
    const Matcher& m_matcher;
    SearchFlags& m_flags;
    TextSearcher m_textSearcher;
    std::map<int, Searcher> m_searchers;
};

}  // namespace ferretta::search
