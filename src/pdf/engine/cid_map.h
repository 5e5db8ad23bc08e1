#pragma once
// The CID character table: text for the CIDs of the Adobe-Japan1 collection, loaded from
// AdobeCID.dat (one zlib stream of CP932 text, one CR LF line per CID from 1).
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::pdf {

inline constexpr std::int32_t cidTableLastCid = 15443;

class CidTable {
  public:
    // Loads the table the way the program always has: the file is inflated (at most 500,001
    // bytes of text), written to a temporary file in `tempFolder` named
    // data-yyyymmdd-hhmmss-NNN.dat (NNN the first number from 000 to 999 naming nothing yet),
    // read back line by line (CP932; CR LF, LF or a lone CR ends a line) and deleted. Answers
    // false when the file is missing, empty or shorter than two bytes, or holds fewer than
    // 15443 lines, or the temporary file cannot be created (also when all thousand names are
    // taken: no file is overwritten), written or read; the table is then unchanged and the
    // caller tells the user and ends the program. A file that is not one zlib stream of at
    // most 500,001 bytes of text (damaged, truncated, too long) is no failure: the table keeps
    // what it held, so at start-up every CID then maps to the empty text.
    bool p2tCIDInit(const std::filesystem::path& datFile, const std::filesystem::path& tempFolder);

    // The text (UTF-8) of a CID; empty outside 0..15443 and for CID 0.
    std::string_view p2tCID2Str(std::int32_t cid) const;

    bool loaded() const { return !m_entries.empty(); }

  private:
    std::vector<std::string> m_entries;  // index = CID
};

// The process's table (loaded at start-up when PDF files are searched).
CidTable& cidTable();

}  // namespace ferretta::pdf
