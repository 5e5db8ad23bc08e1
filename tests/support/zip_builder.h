#pragma once
// Zip archives made in memory for the document readers' tests, entries stored or deflated
// (zlib), so that a test spells out the parts of a package next to what it expects of them.
#include <zlib.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ferretta::test {

struct ZipEntry {
    std::string name;
    std::string data;
    bool deflate = true;
};

// What the headers of one entry claim instead of the truth (a lying or damaged archive).
struct ZipClaims {
    std::string entry;
    std::optional<std::uint32_t> size;
    std::optional<std::uint32_t> crc;
};

namespace detail {

// Little-endian fields of 2 or 4 bytes, as zip headers hold them.
inline void put(std::string& out, std::initializer_list<std::uint32_t> fields, int bytes) {
    for (const std::uint32_t value : fields) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
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

// The archive of the entries, in their order (UTF-8 names, no times).
inline std::string zipArchive(const std::vector<ZipEntry>& entries, const ZipClaims& claims = {}) {
    std::string archive;
    std::string directory;
    for (const ZipEntry& entry : entries) {
        const bool claimed = entry.name == claims.entry;
        auto crc =
            static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
                                             static_cast<uInt>(entry.data.size())));
        auto size = static_cast<std::uint32_t>(entry.data.size());
        if (claimed) {
            crc = claims.crc.value_or(crc);
            size = claims.size.value_or(size);
        }
        const std::string body = entry.deflate ? detail::deflated(entry.data) : entry.data;
        const auto offset = static_cast<std::uint32_t>(archive.size());
        // version, flags (UTF-8 names), method, time and date, crc, sizes, name and extra length
        const auto common = [&](std::string& out) {
            detail::put(out, {20, 0x0800, entry.deflate ? 8U : 0U}, 2);
            detail::put(out, {0, crc, static_cast<std::uint32_t>(body.size()), size}, 4);
            detail::put(out, {static_cast<std::uint32_t>(entry.name.size()), 0}, 2);
        };
        detail::put(archive, {0x04034b50}, 4);
        common(archive);
        archive += entry.name + body;
        detail::put(directory, {0x02014b50}, 4);
        detail::put(directory, {20}, 2);  // made by
        common(directory);
        detail::put(directory, {0, 0, 0}, 2);  // comment, disk, internal attributes
        detail::put(directory, {0, offset}, 4);
        directory += entry.name;
    }
    const auto count = static_cast<std::uint32_t>(entries.size());
    const auto directoryOffset = static_cast<std::uint32_t>(archive.size());
    archive += directory;
    detail::put(archive, {0x06054b50, 0}, 4);
    detail::put(archive, {count, count}, 2);
    detail::put(archive, {static_cast<std::uint32_t>(directory.size()), directoryOffset}, 4);
    detail::put(archive, {0}, 2);
    return archive;
}

using ZipEntries = std::vector<std::pair<std::string, std::string>>;

// The archive of (name, data) entries, all deflated or all stored.
inline std::string makeZip(const ZipEntries& entries, bool deflated = true,
                           const ZipClaims& claims = {}) {
    std::vector<ZipEntry> all;
    for (const auto& [name, data] : entries)
        all.push_back({name, data, deflated});
    return zipArchive(all, claims);
}

}  // namespace ferretta::test
