// Fuzzes the zip directory read without libzip, against libzip itself: whatever the bytes,
// the reader ends within them; and an archive it accepts, libzip opens too, with the same
// entries in the same order, finds each name at the same entry, and hands out the same stored
// or deflated bytes for every unencrypted entry whose local header the reader accepts.
#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "documents/zip_directory.h"

namespace {

struct Discard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta::documents;
    const std::span<const char> bytes(reinterpret_cast<const char*>(data), size);
    std::vector<ZipDirectoryEntry> entries;
    if (!readZipDirectory(bytes, entries))
        return 0;
    for (const ZipDirectoryEntry& entry : entries) {
        std::string_view raw;
        if (zipEntryData(bytes, entry, raw) &&
            (raw.data() < bytes.data() || raw.data() + raw.size() > bytes.data() + size))
            std::abort();
    }
    zip_error_t error;
    zip_error_init(&error);
    static const char empty = 0;
    zip_source_t* source =
        zip_source_buffer_create(size == 0 ? &empty : bytes.data(), size, 0, &error);
    if (source == nullptr)
        std::abort();
    const std::unique_ptr<zip_t, Discard> archive(zip_open_from_source(source, ZIP_RDONLY, &error));
    zip_error_fini(&error);
    if (!archive)
        std::abort();  // accepted here, refused by libzip
    if (zip_get_num_entries(archive.get(), 0) != static_cast<zip_int64_t>(entries.size()))
        std::abort();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const char* name = zip_get_name(archive.get(), i, ZIP_FL_ENC_RAW);
        if (name == nullptr || entries[i].name != name)
            std::abort();
        const std::string wanted(entries[i].name);
        zip_int64_t index = zip_name_locate(archive.get(), wanted.c_str(), ZIP_FL_ENC_RAW);
        if (index < 0)
            index = zip_name_locate(archive.get(), wanted.c_str(), ZIP_FL_ENC_RAW | ZIP_FL_NOCASE);
        if (index < 0 || static_cast<std::size_t>(index) != findZipEntry(entries, wanted))
            std::abort();
        std::string_view raw;
        // libzip hands out an encrypted entry's bytes only with a password.
        if ((entries[i].flags & (1 | 1 << 6)) != 0 || !zipEntryData(bytes, entries[i], raw))
            continue;
        zip_file_t* file = zip_fopen_index(archive.get(), i, ZIP_FL_COMPRESSED);
        if (file == nullptr)
            std::abort();
        std::string read(raw.size() + 1, '\0');
        const zip_int64_t got = zip_fread(file, read.data(), read.size());
        zip_fclose(file);
        if (got < 0 || std::string_view(read.data(), static_cast<std::size_t>(got)) != raw)
            std::abort();
    }
    return 0;
}
