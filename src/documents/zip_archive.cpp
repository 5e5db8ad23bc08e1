#include "documents/zip_archive.h"

#include <zip.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>

namespace ferretta::documents {
namespace {

constexpr std::string_view kCompoundFileMagic("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr std::size_t kChunk = 64 * 1024;

std::string libzipError(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

std::string compoundFileReason() {
    // Office writes an encrypted Open XML document into an OLE compound file; .doc, .xls and
    // .ppt are compound files too.
    return "an OLE compound file (an encrypted or binary Office document), not a zip archive";
}

}  // namespace

ZipArchive::ZipArchive(zip_t* archive, const ReadLimits& limits)
    : m_archive(archive), m_limits(limits) {}

ZipArchive::~ZipArchive() {
    zip_discard(m_archive);
}

std::unique_ptr<ZipArchive> ZipArchive::open(const std::string& path, const ReadLimits& limits,
                                             std::string& why) {
    {
        std::ifstream file(path, std::ios::binary);
        std::array<char, 8> head{};
        if (file.read(head.data(), head.size()) &&
            std::string_view(head.data(), head.size()) == kCompoundFileMagic) {
            why = compoundFileReason();
            return nullptr;
        }
    }
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (archive == nullptr) {
        why = "not a readable zip archive: " + libzipError(code);
        return nullptr;
    }
    std::unique_ptr<ZipArchive> result(new ZipArchive(archive, limits));
    if (!result->loadNames(why))
        return nullptr;
    return result;
}

std::unique_ptr<ZipArchive> ZipArchive::openMemory(std::span<const char> bytes,
                                                   const ReadLimits& limits, std::string& why) {
    if (bytes.size() >= kCompoundFileMagic.size() &&
        std::string_view(bytes.data(), kCompoundFileMagic.size()) == kCompoundFileMagic) {
        why = compoundFileReason();
        return nullptr;
    }
    zip_error_t error;
    zip_error_init(&error);
    // libzip wants a non-null buffer even for an empty one.
    static const char empty = 0;
    zip_source_t* source =
        zip_source_buffer_create(bytes.empty() ? &empty : bytes.data(), bytes.size(), 0, &error);
    if (source == nullptr) {
        why = std::string("cannot read the bytes: ") + zip_error_strerror(&error);
        zip_error_fini(&error);
        return nullptr;
    }
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (archive == nullptr) {
        why = std::string("not a readable zip archive: ") + zip_error_strerror(&error);
        zip_error_fini(&error);
        zip_source_free(source);
        return nullptr;
    }
    zip_error_fini(&error);
    std::unique_ptr<ZipArchive> result(new ZipArchive(archive, limits));
    if (!result->loadNames(why))
        return nullptr;
    return result;
}

bool ZipArchive::loadNames(std::string& why) {
    const zip_int64_t count = zip_get_num_entries(m_archive, 0);
    if (count < 0 || static_cast<std::uint64_t>(count) > m_limits.maxEntries) {
        why = "the archive has " + std::to_string(count) + " entries, more than " +
              std::to_string(m_limits.maxEntries);
        return false;
    }
    m_names.reserve(static_cast<std::size_t>(count));
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(m_archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        m_names.emplace_back(name != nullptr ? name : "");
    }
    return true;
}

bool ZipArchive::has(std::string_view name) const {
    return std::find(m_names.begin(), m_names.end(), name) != m_names.end();
}

bool ZipArchive::stream(std::string_view name, const std::function<bool(std::string_view)>& consume,
                        std::string& why) {
    const std::string wanted(name);
    zip_int64_t index = zip_name_locate(m_archive, wanted.c_str(), ZIP_FL_ENC_RAW);
    if (index < 0) {
        // Part names are case-insensitive in Open XML packages.
        index = zip_name_locate(m_archive, wanted.c_str(), ZIP_FL_ENC_RAW | ZIP_FL_NOCASE);
    }
    if (index < 0) {
        why = "no entry " + wanted;
        return false;
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(m_archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0) {
        why = "cannot read the entry " + wanted + ": " + zip_strerror(m_archive);
        return false;
    }
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && stat.encryption_method != ZIP_EM_NONE) {
        why = "the entry " + wanted + " is encrypted";
        return false;
    }
    const std::uint64_t compressed =
        (stat.valid & ZIP_STAT_COMP_SIZE) != 0 ? std::max<std::uint64_t>(stat.comp_size, 1) : 1;
    zip_file_t* file = zip_fopen_index(m_archive, static_cast<zip_uint64_t>(index), 0);
    if (file == nullptr) {
        why = "cannot open the entry " + wanted + ": " + zip_strerror(m_archive);
        return false;
    }
    // One buffer for the entries of the archive, not cleared (zip_fread fills what it hands
    // out); an entry streamed from inside another's consumer gets one of its own.
    std::unique_ptr<char[]> nested;
    if (!m_chunk)
        m_chunk.reset(new char[kChunk]);
    if (m_streaming)
        nested.reset(new char[kChunk]);
    char* const chunk = nested ? nested.get() : m_chunk.get();
    const bool outer = !m_streaming;
    m_streaming = true;
    std::uint64_t inflated = 0;
    bool ok = true;
    for (;;) {
        const zip_int64_t got = zip_fread(file, chunk, kChunk);
        if (got < 0) {
            why = "the entry " + wanted + " is damaged: " + zip_file_strerror(file);
            ok = false;
            break;
        }
        if (got == 0)
            break;
        inflated += static_cast<std::uint64_t>(got);
        m_bytesRead += static_cast<std::uint64_t>(got);
        if (inflated > m_limits.maxEntryBytes || m_bytesRead > m_limits.maxDocumentBytes) {
            why = "the entry " + wanted + " inflates past the bound of the document";
            ok = false;
            break;
        }
        if (inflated > m_limits.ratioFloor && inflated / compressed > m_limits.maxRatio) {
            why = "the entry " + wanted + " inflates more than " +
                  std::to_string(m_limits.maxRatio) + " times its size";
            ok = false;
            break;
        }
        if (!consume(std::string_view(chunk, static_cast<std::size_t>(got))))
            break;
    }
    if (outer)
        m_streaming = false;
    zip_fclose(file);
    return ok;
}

bool ZipArchive::read(std::string_view name, std::string& out, std::string& why) {
    out.clear();
    bool tooLarge = false;
    const bool ok = stream(
        name,
        [&](std::string_view chunk) {
            if (out.size() + chunk.size() > m_limits.maxBufferedBytes) {
                tooLarge = true;
                return false;
            }
            out.append(chunk);
            return true;
        },
        why);
    if (tooLarge) {
        why = "the entry " + std::string(name) + " is larger than " +
              std::to_string(m_limits.maxBufferedBytes) + " bytes";
        out.clear();
        return false;
    }
    return ok;
}

}  // namespace ferretta::documents
