#include "documents/zip_directory.h"

#include <algorithm>

namespace ferretta::documents {
namespace {

constexpr std::size_t kEndRecord = 22;
constexpr std::size_t kDirectoryHeader = 46;
constexpr std::size_t kLocalHeader = 30;
constexpr std::string_view kEndSignature("PK\x05\x06", 4);
constexpr std::string_view kDirectorySignature("PK\x01\x02", 4);
constexpr std::string_view kLocalSignature("PK\x03\x04", 4);
constexpr std::string_view kZip64LocatorSignature("PK\x06\x07", 4);
// Extra fields that change what libzip makes of an entry: zip64 sizes, Info-ZIP's Unicode
// path and comment.
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint16_t kUnicodePathExtra = 0x7075;
constexpr std::uint16_t kUnicodeCommentExtra = 0x6375;
// WinZip's AES: libzip refuses an entry of this method without its extra field.
constexpr std::uint16_t kAesMethod = 99;

std::uint16_t get16(const char* at) {
    const auto* p = reinterpret_cast<const unsigned char*>(at);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t get32(const char* at) {
    const auto* p = reinterpret_cast<const unsigned char*>(at);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Well-formed UTF-8 (ASCII included) without control characters: libzip takes such a name as
// it is, takes any other for CP437 (converted for some of its look-ups, refused under the
// UTF-8 flag).
bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t least = 0;
        std::uint32_t code = 0;
        if (lead < 0x20)
            return false;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            least = 0x80;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            least = 0x800;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            least = 0x10000;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// Extra fields that parse to their exact end, none of the kinds that change the entry.
bool plainExtra(std::string_view extra) {
    while (!extra.empty()) {
        if (extra.size() < 4)
            return false;
        const std::uint16_t id = get16(extra.data());
        const std::size_t length = get16(extra.data() + 2);
        if (extra.size() - 4 < length || id == kZip64Extra || id == kUnicodePathExtra ||
            id == kUnicodeCommentExtra)
            return false;
        extra.remove_prefix(4 + length);
    }
    return true;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool readZipDirectory(std::span<const char> bytes, std::vector<ZipDirectoryEntry>& entries) {
    entries.clear();
    if (bytes.size() < kEndRecord)
        return false;
    const std::string_view all(bytes.data(), bytes.size());
    // libzip weighs every candidate end record in about the last 64 KB; only an archive with
    // one there (and a little before) is read here, so that both take the same.
    constexpr std::size_t kWindow = kEndRecord + 0xFFFF + 64;
    const std::size_t windowStart = bytes.size() > kWindow ? bytes.size() - kWindow : 0;
    const std::size_t end = all.rfind(kEndSignature, bytes.size() - kEndRecord);
    if (end == std::string_view::npos || end < windowStart ||
        all.substr(windowStart, end - windowStart + kEndSignature.size() - 1).find(kEndSignature) !=
            std::string_view::npos)
        return false;
    const char* record = bytes.data() + end;
    const std::uint16_t disk = get16(record + 4);
    const std::uint16_t directoryDisk = get16(record + 6);
    const std::uint16_t onDisk = get16(record + 8);
    const std::uint16_t count = get16(record + 10);
    const std::uint32_t directorySize = get32(record + 12);
    const std::uint32_t directoryOffset = get32(record + 16);
    const std::uint16_t commentLength = get16(record + 20);
    if (disk != 0 || directoryDisk != 0 || onDisk != count || count == 0xFFFF ||
        directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF ||
        bytes.size() - end - kEndRecord != commentLength ||
        std::uint64_t{directoryOffset} + directorySize > end)
        return false;
    if (end >= 20 && all.substr(end - 20, 4) == kZip64LocatorSignature)
        return false;
    entries.reserve(count);
    std::string_view directory = all.substr(directoryOffset, directorySize);
    while (!directory.empty()) {
        if (entries.size() == count || directory.size() < kDirectoryHeader ||
            directory.substr(0, 4) != kDirectorySignature)
            return false;
        const char* header = directory.data();
        ZipDirectoryEntry entry;
        entry.flags = get16(header + 8);
        entry.method = get16(header + 10);
        entry.crc = get32(header + 16);
        entry.compressedSize = get32(header + 20);
        entry.size = get32(header + 24);
        const std::size_t nameLength = get16(header + 28);
        const std::size_t extraLength = get16(header + 30);
        const std::size_t entryCommentLength = get16(header + 32);
        entry.localOffset = get32(header + 42);
        const std::size_t length = kDirectoryHeader + nameLength + extraLength + entryCommentLength;
        if (directory.size() < length || entryCommentLength != 0 ||
            entry.compressedSize == 0xFFFFFFFF || entry.size == 0xFFFFFFFF ||
            entry.localOffset == 0xFFFFFFFF || entry.method == kAesMethod)
            return false;
        entry.name = directory.substr(kDirectoryHeader, nameLength);
        if (entry.name.find('\0') != std::string_view::npos || !isUtf8(entry.name) ||
            !plainExtra(directory.substr(kDirectoryHeader + nameLength, extraLength)))
            return false;
        entries.push_back(entry);
        directory.remove_prefix(length);
    }
    return entries.size() == count;
}

std::size_t findZipEntry(const std::vector<ZipDirectoryEntry>& entries, std::string_view name) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].name == name)
            return i;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string_view candidate = entries[i].name;
        if (candidate.size() == name.size() &&
            std::equal(candidate.begin(), candidate.end(), name.begin(),
                       [](char a, char b) { return lowerAscii(a) == lowerAscii(b); }))
            return i;
    }
    return static_cast<std::size_t>(-1);
}

bool zipEntryData(std::span<const char> bytes, const ZipDirectoryEntry& entry,
                  std::string_view& data) {
    const std::string_view all(bytes.data(), bytes.size());
    if (entry.localOffset > all.size() || all.size() - entry.localOffset < kLocalHeader ||
        all.substr(entry.localOffset, 4) != kLocalSignature)
        return false;
    const char* header = bytes.data() + entry.localOffset;
    const std::uint64_t start =
        std::uint64_t{entry.localOffset} + kLocalHeader + get16(header + 26) + get16(header + 28);
    if (start > all.size() || all.size() - start < entry.compressedSize)
        return false;
    data = all.substr(static_cast<std::size_t>(start), entry.compressedSize);
    return true;
}

}  // namespace ferretta::documents
