#pragma once
// Zip archives made in memory for the readers' tests: each entry deflated (or stored), with a
// central directory, as an Office package is written.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ferretta::test {

namespace detail {

inline void putLittle(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline std::string rawDeflate(const std::string& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
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

using ZipEntries = std::vector<std::pair<std::string, std::string>>;

inline std::string makeZip(const ZipEntries& entries, bool deflated = true) {
    std::string archive;
    std::string directory;
    for (const auto& [name, data] : entries) {
        const std::string packed = deflated ? detail::rawDeflate(data) : data;
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        const auto offset = static_cast<std::uint32_t>(archive.size());
        const auto header = [&](std::string& out, bool central) {
            detail::putLittle(out, central ? 0x02014b50 : 0x04034b50, 4);
            if (central)
                detail::putLittle(out, 20, 2);  // made by
            detail::putLittle(out, 20, 2);      // needed
            detail::putLittle(out, 0, 2);       // flags
            detail::putLittle(out, deflated ? 8 : 0, 2);
            detail::putLittle(out, 0, 4);  // time and date
            detail::putLittle(out, crc, 4);
            detail::putLittle(out, static_cast<std::uint32_t>(packed.size()), 4);
            detail::putLittle(out, static_cast<std::uint32_t>(data.size()), 4);
            detail::putLittle(out, static_cast<std::uint32_t>(name.size()), 2);
            detail::putLittle(out, 0, 2);  // extra
            if (central) {
                detail::putLittle(out, 0, 2);  // comment
                detail::putLittle(out, 0, 2);  // disk
                detail::putLittle(out, 0, 2);  // internal attributes
                detail::putLittle(out, 0, 4);  // external attributes
                detail::putLittle(out, offset, 4);
            }
            out += name;
        };
        header(archive, false);
        archive += packed;
        header(directory, true);
    }
    const auto directoryOffset = static_cast<std::uint32_t>(archive.size());
    archive += directory;
    detail::putLittle(archive, 0x06054b50, 4);
    detail::putLittle(archive, 0, 4);  // disks
    detail::putLittle(archive, static_cast<std::uint32_t>(entries.size()), 2);
    detail::putLittle(archive, static_cast<std::uint32_t>(entries.size()), 2);
    detail::putLittle(archive, static_cast<std::uint32_t>(directory.size()), 4);
    detail::putLittle(archive, directoryOffset, 4);
    detail::putLittle(archive, 0, 2);  // comment
    return archive;
}

}  // namespace ferretta::test
