// Hostile zip directories: what the reader without libzip takes, and what a document's reading
// then gets. Whatever it turns down goes to libzip, so an archive reads as libzip reads it.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "documents/zip_archive.h"
#include "documents/zip_directory.h"
#include "support/zip_builder.h"

namespace ferretta::documents {
namespace {

void put16(std::string& zip, std::size_t at, std::uint16_t value) {
    zip[at] = static_cast<char>(value & 0xFF);
    zip[at + 1] = static_cast<char>(value >> 8);
}
void put32(std::string& zip, std::size_t at, std::uint32_t value) {
    put16(zip, at, static_cast<std::uint16_t>(value & 0xFFFF));
    put16(zip, at + 2, static_cast<std::uint16_t>(value >> 16));
}
std::uint32_t get32(const std::string& zip, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(zip[at + i]);
    return value;
}

// Offsets in the archive of the builder (no comment): its end record and the directory
// header of its entry `index` (one-letter names).
std::size_t endRecord(const std::string& zip) {
    return zip.size() - 22;
}
std::size_t directoryEntry(const std::string& zip, std::size_t index) {
    return get32(zip, endRecord(zip) + 16) + index * (46 + 1);
}

TEST(ZipDirectory, HostileDirectoriesReadAsLibzipReadsThem) {
    struct Case {
        const char* name;
        std::function<void(std::string&)> damage;
        const char* entry;
        bool direct;           // the directory is read without libzip
        std::string expected;  // the entry's bytes, or "no archive", or "unreadable"
    };
    const Case cases[] = {
        {"plain", [](std::string&) {}, "b", true, "beta"},
        {"upper-case name", [](std::string&) {}, "B", true, "beta"},
        {"truncated end record", [](std::string& zip) { zip.resize(zip.size() - 5); }, "a", false,
         "no archive"},
        {"comment length past the end",
         [](std::string& zip) { put16(zip, endRecord(zip) + 20, 100); }, "a", false, "no archive"},
        {"entry count past the directory",
         [](std::string& zip) {
             put16(zip, endRecord(zip) + 8, 3);
             put16(zip, endRecord(zip) + 10, 3);
         },
         "a", false, "no archive"},
        {"directory offset past the file",
         [](std::string& zip) { put32(zip, endRecord(zip) + 16, 0x7FFFFFF0); }, "a", false,
         "no archive"},
        {"local header offset past the file",
         [](std::string& zip) { put32(zip, directoryEntry(zip, 0) + 42, 0x7FFFFFF0); }, "a", true,
         "unreadable"},
        {"local header not one",
         [](std::string& zip) { put32(zip, directoryEntry(zip, 1) + 42, 1); }, "b", true,
         "unreadable"},
        {"name length past the end",
         [](std::string& zip) { put16(zip, directoryEntry(zip, 1) + 28, 0x7FFF); }, "a", false,
         "no archive"},
        {"extra field past its length",
         [](std::string& zip) { put16(zip, directoryEntry(zip, 1) + 30, 3); }, "a", false,
         "no archive"},
        {"zip64 marker", [](std::string& zip) { put32(zip, directoryEntry(zip, 0) + 24, ~0U); },
         "b", false, "no archive"},
        // Two entries over the same bytes (a bomb's trick): each is bounded by its own sizes.
        {"overlapping entries",
         [](std::string& zip) {
             for (const std::size_t field : {16, 20, 24})
                 put32(zip, directoryEntry(zip, 1) + field,
                       get32(zip, directoryEntry(zip, 0) + field));
             put32(zip, directoryEntry(zip, 1) + 42, 0);
         },
         "b", true, "alpha"},
        {"encrypted entry", [](std::string& zip) { put16(zip, directoryEntry(zip, 1) + 8, 1); },
         "b", true, "unreadable"},
    };
    for (const bool deflated : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (deflated ? " (deflated)" : " (stored)"));
            std::string zip = test::makeZip({{"a", "alpha"}, {"b", "beta"}}, deflated);
            c.damage(zip);
            std::vector<ZipDirectoryEntry> entries;
            EXPECT_EQ(readZipDirectory(zip, entries), c.direct);
            std::string why;
            const auto archive = ZipArchive::openMemory(zip, ReadLimits{}, why);
            std::string got = "no archive";
            if (archive) {
                std::string bytes;
                got = archive->read(c.entry, bytes, why) ? bytes : "unreadable";
            }
            EXPECT_EQ(got, c.expected) << why;
        }
    }
}

}  // namespace
}  // namespace ferretta::documents
