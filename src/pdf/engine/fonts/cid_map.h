#pragma once
// The CID character table: text for the CIDs of the Adobe-Japan1 collection, loaded from
// AdobeCID.dat (one zlib stream of CP932 text, one CR LF line per CID from 1).
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::pdf {

// The last CID of Adobe-Japan1-7, the last line of the shipped table.
inline constexpr std::int32_t cidTableLastCid = 23059;
// Tables made before supplements 5 to 7 end at CID 15443 (supplement 4); a table needs at least
// these lines, and the CIDs past its end map to the empty text.
inline constexpr std::int32_t cidTableMinLines = 15443;

class CidTable {
  public:
    // Loads the table: the file is inflated in memory (at most 500,001 bytes of text) and read
    // line by line (CP932; CR LF, LF or a lone CR ends a line). Nothing is written: the
    // original program passed the text through a temporary file beside it, which a full disk
    // or a read-only folder made fail (leaving a partial file behind) for no reason. Answers
    // false when the file is missing, empty or shorter than two bytes, cannot be read, or
    // holds fewer than cidTableMinLines lines; the table is then unchanged and the caller
    // tells the user and ends the program. A file that is not one zlib stream of at most
    // 500,001 bytes of text (damaged, truncated, too long) is no failure: the table keeps what
    // it held, so at start-up every CID then maps to the empty text. Lines past cidTableLastCid
    // are not read; a table with fewer lines leaves the CIDs past its end empty.
    bool p2tCIDInit(const std::filesystem::path& datFile);

    // The text (UTF-8) of a CID; empty outside 1..cidTableLastCid and for CIDs past the end of
    // a shorter table.
    std::string_view p2tCID2Str(std::int32_t cid) const;

    bool loaded() const { return !m_entries.empty(); }

  private:
    std::vector<std::string> m_entries;  // index = CID
};

// The process's table (loaded at start-up when PDF files are searched).
CidTable& cidTable();

}  // namespace ferretta::pdf
