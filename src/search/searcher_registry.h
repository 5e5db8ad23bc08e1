#pragma once
// Which searcher searches which file type: the one table that the folder walk's dispatch
// (findInFile) and the search of the mail program's items consult.
//
// Registering a searcher (done by the search run, run/search_run.cpp, for the types switched
// on):
//
// - A file searcher answers for one path whether the file counts as searched. It is made per
//   search context through a factory, because a search may run searchers on several threads,
//   each with its own context (host, flags, matcher) and its own searcher objects:
//
//       registry.setFileSearcher(FileType::Text, [](const SearchContext& context) {
//           auto searcher = std::make_shared<TextSearcher>(context);
//           return [searcher](const std::string& path) { return searcher->findText(path); };
//       }, SearcherRegistry::Threads::Any);
//
//   Threads::Any promises that the searcher touches nothing shared but its context and
//   read-only data, reads the flags only through its context and changes none but through the
//   host, and colours only rows it reported for the same file; such searchers may search files
//   ahead on worker threads (search/read_ahead.h). A searcher that drives another program (an
//   office, a filter) registers with Threads::UserInterface (the default) and always runs on the
//   thread of the user interface, with the search's own context.
//
// - An item searcher searches all items of one type of the mail program (Outlook tasks, mail,
//   calendar, contacts, notes) and answers how many it examined. It runs on the thread of the
//   user interface after the folder walk, in the order of app::outlookItemTypes:
//
//       registry.setItemSearcher(FileType::OutlookMail, [&outlook] { return outlook.findMail(); });
//
//   It reports through the search's context like any searcher: hits with search::addResult,
//   progress with setCaptionOnSearching, and it lets events run and reads flags.isAbort.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "app/file_types.h"
#include "search/search_context.h"

namespace ferretta::search {

class SearcherRegistry {
  public:
    // Searches one file: true when it counts as searched (the searcher's own answer; false when
    // it was stopped). Throws ferretta::Error when the file cannot be opened or read.
    using FileSearch = std::function<bool(const std::string& path)>;
    // Makes the file searcher of one search context; the result may keep the context.
    using MakeFileSearch = std::function<FileSearch(const SearchContext& context)>;
    // Searches the items of one type: the number of items examined.
    using ItemSearch = std::function<std::int64_t()>;

    enum class Threads { UserInterface, Any };

    struct FileEntry {
        MakeFileSearch make;
        Threads threads = Threads::UserInterface;
    };

    // Installs (or replaces) the searcher of a file type. Without one, files of the type are
    // not searched.
    void setFileSearcher(app::FileType type, MakeFileSearch make,
                         Threads threads = Threads::UserInterface);
    // Installs (or replaces) the searcher of an item type.
    void setItemSearcher(app::FileType type, ItemSearch search);

    // The entry of a type; null when none is installed.
    const FileEntry* fileSearcher(app::FileType type) const;
    const ItemSearch* itemSearcher(app::FileType type) const;

  private:
    std::array<FileEntry, app::fileTypeSlots> m_files{};
    std::array<ItemSearch, app::fileTypeSlots> m_items{};
};

// Installs the text-file search (Threads::Any) for file type 1.
void registerTextSearcher(SearcherRegistry& registry);

}  // namespace ferretta::search
