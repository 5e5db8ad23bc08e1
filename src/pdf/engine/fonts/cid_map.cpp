#include "pdf/engine/fonts/cid_map.h"

#include <zlib.h>

#include <array>
#include <fstream>
#include <optional>

#include "platform/cp932.h"

namespace ferretta::pdf {
namespace {

// The table text never inflates to more than this; a bigger stream is not the table.
constexpr std::size_t kMaxText = 500001;

enum class Inflated { Ok, NotTable, Unreadable };

// Inflates the file as one zlib stream into `text`, reading it in pieces so that a huge file
// costs no memory. NotTable when it is not one complete zlib stream of at most kMaxText bytes
// (bytes after the end of the stream are ignored, as zlib's uncompress does).
Inflated inflateFile(std::ifstream& in, std::string& text) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) {
        return Inflated::Unreadable;
    }
    // One byte more than allowed, so that a stream that is too long is seen as such.
    text.assign(kMaxText + 1, '\0');
    zs.next_out = reinterpret_cast<Bytef*>(text.data());
    zs.avail_out = static_cast<uInt>(text.size());
    std::array<char, 65536> chunk;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (zs.avail_in == 0) {
            in.read(chunk.data(), chunk.size());
            if (in.gcount() == 0) {
                break;
            }
            zs.next_in = reinterpret_cast<Bytef*>(chunk.data());
            zs.avail_in = static_cast<uInt>(in.gcount());
        }
        rc = inflate(&zs, Z_NO_FLUSH);
    }
    const std::size_t produced = text.size() - zs.avail_out;
    inflateEnd(&zs);
    if (rc != Z_STREAM_END || produced > kMaxText) {
        return in.bad() ? Inflated::Unreadable : Inflated::NotTable;
    }
    text.resize(produced);
    return Inflated::Ok;
}

// Splits the text into the entries of CIDs 1..cidTableLastCid. CR LF, LF and a lone CR each
// end a line; a last line without an ending counts when it is not empty. Nothing when there
// are fewer than cidTableMinLines lines; the entries past a shorter table's end stay empty.
std::optional<std::vector<std::string>> splitEntries(std::string_view text) {
    std::vector<std::string> entries(static_cast<std::size_t>(cidTableLastCid) + 1);
    std::size_t pos = 0;
    for (std::size_t cid = 1; cid < entries.size(); ++cid) {
        if (pos >= text.size()) {
            if (cid <= static_cast<std::size_t>(cidTableMinLines)) {
                return std::nullopt;
            }
            break;
        }
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        entries[cid] = platform::cp932ToUtf8(text.substr(pos, end - pos));
        pos = end;
        if (pos < text.size() && text[pos] == '\r') {
            ++pos;
        }
        if (pos < text.size() && text[pos] == '\n') {
            ++pos;
        }
    }
    return entries;
}

}  // namespace

bool CidTable::p2tCIDInit(const std::filesystem::path& datFile) {
    std::ifstream in(datFile, std::ios::binary);
    std::array<char, 2> head{};
    // Fewer than two bytes were always taken as the text itself, which then lacks lines.
    if (!in.read(head.data(), head.size()) || !in.seekg(0)) {
        return false;
    }
    std::string text;
    switch (inflateFile(in, text)) {
        case Inflated::Ok:
            break;
        case Inflated::NotTable:
            // Not the table, but no reason to stop the program: CID text is then empty.
            if (m_entries.empty()) {
                m_entries.resize(static_cast<std::size_t>(cidTableLastCid) + 1);
            }
            return true;
        case Inflated::Unreadable:
            return false;
    }
    std::optional<std::vector<std::string>> entries = splitEntries(text);
    if (!entries) {
        return false;
    }
    m_entries = std::move(*entries);
    return true;
}

std::string_view CidTable::p2tCID2Str(std::int32_t cid) const {
    if (cid <= 0 || static_cast<std::size_t>(cid) >= m_entries.size()) {
        return {};
    }
    return m_entries[static_cast<std::size_t>(cid)];
}

CidTable& cidTable() {
    static CidTable table;
    return table;
}

}  // namespace ferretta::pdf
