#pragma once
// findInDir: the search over the folder walk. Every file's name is checked, every file goes to
// the dispatch, and between files and before sub-folders events run and the stop flag is read.
#include <cstdint>
#include <string>

#include "search/file_dispatch.h"
#include "search/folder_walk.h"
#include "search/read_ahead.h"
#include "search/search_context.h"
#include "search/searcher_registry.h"

namespace ferretta::search {

class Finder {
  public:
    // The context and the registry must outlive the finder. With `readAhead.workers` above 1,
    // files whose searchers may run on any thread are searched ahead on that many workers
    // while this thread replays what they found in walk order (search/read_ahead.h): the
    // search looks exactly as on one thread, only sooner.
    Finder(const SearchContext& context, const SearcherRegistry& registry,
           ReadAheadOptions readAhead = {});

    // Searches the folder (and its sub-folders when the settings say so): reports file-name
    // hits for every file and hands every file to findInFile (not in a search of names only).
    // A separator is appended to the caller's folder text when it lacks one. Answers how many
    // files were searched. An empty folder text, or a top folder that cannot be listed, is
    // reported to the user, sets the stop flag and answers 0 (folderUnusable()). An entry below
    // it that cannot be read (a sub-folder without permission, a file that cannot be opened
    // or read, anything that vanished meanwhile, a path too long for the system) is skipped:
    // a debug-log line, the host told (noteUnreadable), counted in unreadableCount(). Other
    // failures of searchers travel to the caller.
    std::int64_t findInDir(std::string& folder);

    // Dispatches one file by the extension of its name; false when its type is off or has no
    // searcher. The searcher's failures travel to the caller.
    bool findInFile(const std::string& path) { return m_dispatch.findInFile(path); }

    // Reports a hit on the file name itself, whatever the file's type.
    void checkFileName(const std::string& path);

    std::int64_t unreadableCount() const { return m_unreadable; }
    bool folderUnusable() const { return m_folderUnusable; }

  private:
    // findInFile (or the replay of a file searched ahead), with a file that cannot be opened
    // or read skipped and counted.
    bool searchFile(const std::string& path, ReadAhead* ahead, ReadAhead::Job* job);
    void skipUnreadable(const std::string& path, const std::string& reason);

    SearchContext m_context;
    FileDispatch m_dispatch;
    const SearcherRegistry& m_registry;
    ReadAheadOptions m_readAhead;
    std::int64_t m_unreadable = 0;
    bool m_folderUnusable = false;
};

}  // namespace ferretta::search
