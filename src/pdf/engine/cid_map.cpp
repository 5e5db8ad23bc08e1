#include "pdf/engine/cid_map.h"

#include <zlib.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <system_error>

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

// data-yyyymmdd-hhmmss-NNN.dat in the folder with the first NNN from 000 that names nothing
// yet, or nothing when all thousand are taken.
std::optional<std::filesystem::path> freeTempName(const std::filesystem::path& folder) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::array<char, 32> base{};
    std::strftime(base.data(), base.size(), "data-%Y%m%d-%H%M%S", &local);
    for (int k = 0; k <= 999; ++k) {
        std::array<char, 48> name{};
        std::snprintf(name.data(), name.size(), "%s-%03d.dat", base.data(), k);
        std::filesystem::path path = folder / name.data();
        std::error_code ec;
        // symlink_status: a dangling link counts as taken too.
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
            return path;
        }
    }
    return std::nullopt;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Creates the file (never opening one that exists, so nothing of anyone else is overwritten
// or followed through a link) and writes the bytes.
bool writeNewFile(const std::filesystem::path& path, std::string_view bytes) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wbx"));
    if (!file) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    return std::fclose(file.release()) == 0 && written;
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes(kMaxText + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) {
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
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

bool CidTable::p2tCIDInit(const std::filesystem::path& datFile,
                          const std::filesystem::path& tempFolder) {
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
    in.close();

    // The text goes through a file and is read back as the program always did, so that the
    // table is what a reader of that file sees.
    const std::optional<std::filesystem::path> temp = freeTempName(tempFolder);
    if (!temp || !writeNewFile(*temp, text)) {
        return false;
    }
    std::optional<std::string> readBack = readSmallFile(*temp);
    std::error_code ec;
    std::filesystem::remove(*temp, ec);
    if (!readBack) {
        return false;
    }
    std::optional<std::vector<std::string>> entries = splitEntries(*readBack);
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
