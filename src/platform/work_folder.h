#pragma once
// A folder of one run's own for files that no other process may take, see or mistake for the
// user's: a program the search starts (the PDF filter) writes there instead of beside the
// user's files.
#include <filesystem>
#include <optional>
#include <string>

namespace ferretta::platform {

class WorkFolder {
  public:
    // Makes a folder with a fresh name ("run-XXXXXX") and mode 0700 under `parent` (made when
    // missing) and holds it (a lock on the folder) while the object lives. nullopt when it
    // cannot be made; why says why.
    static std::optional<WorkFolder> make(const std::filesystem::path& parent,
                                          std::string* why = nullptr);

    WorkFolder(WorkFolder&& other) noexcept;
    WorkFolder& operator=(WorkFolder&& other) noexcept;
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    // Removes the folder with everything in it.
    ~WorkFolder();

    const std::filesystem::path& path() const { return m_path; }

    // Removes everything in the folder (files, links, folders; never what a link points to).
    // False when something stays; why says why.
    bool clear(std::string* why = nullptr);

  private:
    WorkFolder(std::filesystem::path path, int fd) : m_path(std::move(path)), m_fd(fd) {}
    void release();

    std::filesystem::path m_path;
    int m_fd = -1;  // holds the lock
};

// Where work folders are made: "work" in the data folder.
std::filesystem::path workFolderParent();

// Removes the work folders under `parent` that runs which ended without removing them (killed,
// crashed) left behind: those no living process holds and that did not change in the last
// minute (a folder is held a moment after it is made). A missing parent removes nothing.
void removeStaleWorkFolders(const std::filesystem::path& parent);

}  // namespace ferretta::platform
