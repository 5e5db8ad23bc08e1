#pragma once
// The central directory of a zip archive held whole in memory, read without libzip for the
// plain archives the Office formats are: no zip64, no multi-disk, names in ASCII or UTF-8. Its
// acceptance is a subset of libzip's: what it turns down, libzip reads as before.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace ferretta::documents {

struct ZipDirectoryEntry {
    std::string_view name;  // into the archive's bytes
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::uint32_t localOffset = 0;
};

// The entries of the archive in `bytes`, in the directory's order, into `entries` (replaced).
// False, with `entries` in no particular state, for anything but a plain archive whose
// directory parses exactly: no end record, more than one candidate end record, a comment or
// directory past its bounds, an entry count that does not fill the directory, zip64 records
// or markers, WinZip's AES method, extra fields that do not parse or carry a name of their
// own, entry comments, names with a control character or not in UTF-8.
bool readZipDirectory(std::span<const char> bytes, std::vector<ZipDirectoryEntry>& entries);

// The index of the entry named `name`: the first of that exact name, else the first equal to
// it but for ASCII case (part names are case-insensitive in Open XML packages), as libzip
// looks them up; npos when there is none.
std::size_t findZipEntry(const std::vector<ZipDirectoryEntry>& entries, std::string_view name);

// The entry's stored or deflated bytes after its local header. False when that header is not
// one (signature) or the header or the bytes pass the end of the archive.
bool zipEntryData(std::span<const char> bytes, const ZipDirectoryEntry& entry,
                  std::string_view& data);

}  // namespace ferretta::documents
