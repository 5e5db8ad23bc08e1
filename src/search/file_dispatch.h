#pragma once
// Which file type a file is, and handing a file to the searcher of its type.
#include <array>
#include <string>
#include <string_view>

#include "app/file_types.h"
#include "app/settings.h"
#include "search/search_context.h"
#include "search/searcher_registry.h"

namespace ferretta::search {

// The file type of an extension (upper case): Word (DOC, DOCX, DOCM, ODT), Excel (XLS, XLSX,
// XLSM, ODS), PowerPoint (PPT, PPTX, ODP), Access (MDB), PDF, Text for an extension listed in
// textTags, Unknown for anything else.
app::FileType fileTypeOf(std::string_view extension, std::string_view textTags);

// The file type of a path, by the extension of its file name (a dot in a folder name does not
// count).
app::FileType fileTypeOfPath(std::string_view path, std::string_view textTags);

// True when the extension followed by ";" occurs in textTags followed by ";". So the empty
// extension always counts, and so does the tail of a listed one ("XT" with "TXT").
bool isTextTag(std::string_view extension, std::string_view textTags);

// The type whose searcher would search the file: Unknown when the type is switched off, has no
// searcher (Access) or is not known.
app::FileType searchedTypeOf(std::string_view path, const app::Settings& settings,
                             const SearcherRegistry& registry);

// findInFile: hands a file to the registered searcher of its type, made for this dispatch's
// context at its first file.
class FileDispatch {
  public:
    // The context and the registry must outlive the dispatch.
    FileDispatch(const SearchContext& context, const SearcherRegistry& registry);

    // The searcher's answer for the file; false when searchedType is Unknown. The searcher's
    // failures (ferretta::Error) travel to the caller.
    bool findInFile(const std::string& path);

    // Runs the searcher of a type known to be searched (searchedTypeOf's answer).
    bool search(app::FileType type, const std::string& path);

  private:
    SearchContext m_context;
    const SearcherRegistry& m_registry;
    std::array<SearcherRegistry::FileSearch, app::fileTypeSlots> m_made;
};

}  // namespace ferretta::search
