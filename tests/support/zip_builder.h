#pragma once
// Zip archives made in memory for the document readers' tests, stored or deflated (zlib),
// so that a test spells out the parts of a package next to what it expects of them.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::test {

struct ZipEntry {
    std::string name;
    std::string data;
    bool deflate = true;
};

namespace detail {

inline void put16(std::string& out, std::uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

inline void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// Raw deflate, as zip entries hold it.
inline std::string deflated(std::string_view data) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

}  // namespace detail

// The archive of the entries, in their order.
inline std::string zipArchive(const std::vector<ZipEntry>& entries) {
    std::string archive;
    std::string directory;
    for (const ZipEntry& entry : entries) {
        const auto crc =
            static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
                                             static_cast<uInt>(entry.data.size())));
        const std::string body = entry.deflate ? detail::deflated(entry.data) : entry.data;
        const auto offset = static_cast<std::uint32_t>(archive.size());
        const auto header = [&](std::string& out, bool central) {
            detail::put32(out, central ? 0x02014b50 : 0x04034b50);
            if (central)
                detail::put16(out, 20);  // made by
            detail::put16(out, 20);      // needed to extract
            detail::put16(out, 0x0800);  // UTF-8 names
            detail::put16(out, entry.deflate ? 8 : 0);
            detail::put32(out, 0);  // time and date
            detail::put32(out, crc);
            detail::put32(out, static_cast<std::uint32_t>(body.size()));
            detail::put32(out, static_cast<std::uint32_t>(entry.data.size()));
            detail::put16(out, static_cast<std::uint32_t>(entry.name.size()));
            detail::put16(out, 0);  // extra field
            if (central) {
                detail::put16(out, 0);  // comment
                detail::put16(out, 0);  // disk
                detail::put16(out, 0);  // internal attributes
                detail::put32(out, 0);  // external attributes
                detail::put32(out, offset);
            }
            out += entry.name;
        };
        header(archive, false);
        archive += body;
        header(directory, true);
    }
    const auto directoryOffset = static_cast<std::uint32_t>(archive.size());
    archive += directory;
    detail::put32(archive, 0x06054b50);
    detail::put32(archive, 0);  // disks
    detail::put16(archive, static_cast<std::uint32_t>(entries.size()));
    detail::put16(archive, static_cast<std::uint32_t>(entries.size()));
    detail::put32(archive, static_cast<std::uint32_t>(directory.size()));
    detail::put32(archive, directoryOffset);
    detail::put16(archive, 0);  // comment
    return archive;
}

}  // namespace ferretta::test
