#pragma once
// Moving a file out of the way for a while with a promise that outlives the program: before the
// move an entry is written to a journal folder (atomically: a temporary file renamed into
// place), and the entry is locked by the process for as long as it lives. When the process
// dies before it has put the file back (killed, crashed, power lost), the next start of either
// program finds the entry unlocked and puts the file back (replayRestoreJournal).
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::platform {

// One file moved aside: where it belongs, where it waits, and which file it is, so that only
// that very file is ever moved back.
struct MovedAside {
    std::string original;
    std::string aside;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    friend bool operator==(const MovedAside&, const MovedAside&) = default;
};

// An entry's bytes, and the entry of such bytes (nullopt for anything else).
std::string journalText(const MovedAside& entry);
std::optional<MovedAside> parseJournalText(std::string_view text);

// Removes whatever stands at the path: a file or a link (never what it points to), or a folder
// with everything in it. True when nothing stands there any more; why says why not.
bool removeAnythingAt(const std::string& path, std::string* why = nullptr);

// Keeps the file that stands at a path out of the way and puts it back.
class SetAsideFile {
  public:
    explicit SetAsideFile(std::filesystem::path journalFolder);
    // Puts the file back when it is still aside.
    ~SetAsideFile();
    SetAsideFile(const SetAsideFile&) = delete;
    SetAsideFile& operator=(const SetAsideFile&) = delete;

    // Moves what stands at `path` (a file, a link, a folder) to the first of `asideNames` that
    // is free, never replacing anything, after recording the move in the journal. True when
    // `path` is free now: nothing stood there, or it was moved. False, with nothing moved, when
    // the journal cannot be written, no name is free or the move fails; why says why.
    bool moveAside(const std::string& path, const std::vector<std::string>& asideNames,
                   std::string* why = nullptr);

    // Removes what stands at the path now (a file, link or folder made meanwhile) and moves the
    // kept file back, then drops its entry. True when nothing was aside or it is back. False
    // when it cannot be moved back: it then stays under its temporary name and its entry stays,
    // so the next start tries again; why says why.
    bool putBack(std::string* why = nullptr);

    // Where the file waits; empty when nothing is aside.
    const std::string& asidePath() const { return m_entry.aside; }

  private:
    bool record(std::string* why);
    void forget();

    std::filesystem::path m_folder;
    MovedAside m_entry;
    std::filesystem::path m_entryPath;
    int m_entryFd = -1;  // holds the entry's lock while the file is aside
};

// Where the journal lives: "restore" in the data folder.
std::filesystem::path restoreJournalFolder();

// A file the replay could not put back, and why.
struct RestoreProblem {
    MovedAside entry;
    std::string reason;
};

// Puts back what runs that have ended left aside: for every entry of the folder whose process
// is gone, the file is moved back (what stands at its place now is removed first) and the
// entry dropped. An entry whose file no longer waits under its temporary name, or whose
// temporary name now holds another file, is dropped without touching anything. Entries of
// running processes are left alone. Answers the files that could not be put back (their
// entries stay for the next start). A missing folder answers nothing.
std::vector<RestoreProblem> replayRestoreJournal(const std::filesystem::path& folder);

}  // namespace ferretta::platform
