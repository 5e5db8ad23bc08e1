#pragma once
// The walk over the search folder, as a sequence of steps in the order a search meets them:
// the files of a folder (sorted by name), then each sub-folder (sorted by name) with
// everything below it, depth first. The walk itself reads folders only; what a step means to
// the search (checking names, searching files, letting events run, stopping) is the caller's.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"

namespace ferretta::search {

// Which entries below the top folder a walk includes.
struct WalkRules {
    bool subFolders = true;
    // Hidden entries (names starting with ".") and the folders in `ownFolders`, left out
    // unless this is set.
    bool hidden = false;
    // The program's own folders (settings, cache): what it writes there is no user's document.
    std::vector<std::string> ownFolders;
};

// The rules the settings ask for; the own folders are the data folder and the cache folder.
WalkRules walkRulesFor(const app::Settings& settings);

struct WalkStep {
    enum class Kind {
        // The top folder cannot be listed (missing, not a folder, no permission, a path too
        // long): the only step of the walk. `reason` says why.
        TopUnusable,
        // A folder was listed; `subFolders` of them follow its files (0 when sub-folders are
        // not searched).
        Folder,
        // A file of the folder entered last.
        File,
        // The walk is about to enter this sub-folder of the current folder; its Folder step
        // (or Unreadable step) follows.
        SubFolder,
        // An entry that cannot be read (a sub-folder that cannot be listed, an entry that
        // vanished while it was listed): skipped. `reason` says why.
        Unreadable,
        // The end of the folder entered last.
        Leave,
    };
    Kind kind = Kind::File;
    std::string path;  // folders end with a separator
    std::string reason;
    std::size_t subFolders = 0;
};

class FolderWalk {
  public:
    // `top` ends with a separator. Nothing is read before the first next().
    FolderWalk(std::string top, WalkRules rules);
    ~FolderWalk();
    FolderWalk(FolderWalk&&) noexcept;
    FolderWalk& operator=(FolderWalk&&) noexcept;

    // The next step; false at the end. Regular files count, also through symbolic links;
    // sub-folders are never entered through a link, so a link loop cannot trap the walk.
    // Devices, pipes and sockets are left out, and so is what lies on the kernel's pseudo file
    // systems (/proc, /sys and their kind: endless or blocking files): the walk crosses into
    // none of them, nor into /dev and /run, and a top folder on one lists nothing. Hidden
    // entries and the own folders only as the rules say. Never throws for what the file system
    // answers.
    bool next(WalkStep& step);

  private:
    struct Level;
    struct Identity {
        unsigned long device;
        unsigned long inode;
    };
    std::string m_top;
    WalkRules m_rules;
    std::vector<Identity> m_own;  // the own folders that exist
    bool m_started = false;
    std::string m_pendingChild;  // the sub-folder announced last, listed at the next step
    std::vector<std::unique_ptr<Level>> m_levels;
};

}  // namespace ferretta::search
