#pragma once
// The journal of files moved out of the way for a while. Earlier versions moved the user's
// <name>.txt aside while the PDF filter wrote there, after writing an entry to a journal folder
// that the process held locked while it lived; a process that died before it had put the file
// back (killed, crashed, power lost) left its entry unlocked, and the next start of either
// program puts the file back (replayRestoreJournal). Nothing is moved aside any more, but such
// entries may still wait.
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
