#pragma once
// Showing an item in the desktop's own programs: Evolution's editors through its URIs, or a
// copy of the item (.eml, .ics, .vcf) handed to xdg-open. The copies live in a folder of this
// process's own and are removed when the viewer object goes (at exit); folders left behind by
// a process that died are removed by the next one.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::platform::pim {

class ItemViewer {
  public:
    // root: the folder for the copies' folders (the data folder's "opened").
    explicit ItemViewer(std::filesystem::path root);
    ~ItemViewer();
    ItemViewer(const ItemViewer&) = delete;
    ItemViewer& operator=(const ItemViewer&) = delete;

    // Writes the bytes to a new file with the extension (".eml") and starts xdg-open on it.
    // False when the file cannot be written or xdg-open cannot be started.
    bool showCopy(std::string_view extension, std::string_view bytes);

    // Whether Evolution is installed (on PATH).
    static bool haveEvolution();

    // Starts Evolution on one of its URIs ("calendar:///?source-uid=..."). False when it
    // cannot be started.
    static bool showInEvolution(const std::string& uri);

    // The folder of this process's copies (created on first use).
    const std::filesystem::path& folder() const { return m_folder; }

  private:
    std::filesystem::path m_root;
    std::filesystem::path m_folder;
    int m_written = 0;
};

// Evolution's URI that opens an item's editor: "calendar:", "task:" or "memo:" with the
// source's and the item's UIDs (and the recurrence id when there is one), escaped.
std::string evolutionUri(std::string_view scheme, std::string_view sourceUid, std::string_view uid,
                         std::string_view recurrenceId);

}  // namespace ferretta::platform::pim
