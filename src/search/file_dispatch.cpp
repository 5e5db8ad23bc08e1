#include "search/file_dispatch.h"

#include <utility>

#include "search/path_helpers.h"

namespace ferretta::search {

using app::FileType;

bool isTextTag(std::string_view extension, std::string_view textTags) {
    std::string list(textTags);
    list += ';';
    std::string key(extension);
    key += ';';
    return list.find(key) != std::string::npos;
}

FileType fileTypeOf(std::string_view extension, std::string_view textTags) {
    // The classic formats, their XML successors and the OpenDocument ones.
    static constexpr std::pair<std::string_view, FileType> types[] = {
        {"DOC", FileType::Word},       {"DOCX", FileType::Word},
        {"DOCM", FileType::Word},      {"ODT", FileType::Word},
        {"XLS", FileType::Excel},      {"XLSX", FileType::Excel},
        {"XLSM", FileType::Excel},     {"ODS", FileType::Excel},
        {"PPT", FileType::PowerPoint}, {"PPTX", FileType::PowerPoint},
        {"ODP", FileType::PowerPoint}, {"MDB", FileType::Access},
        {"PDF", FileType::Pdf},
    };
    for (const auto& [name, type] : types) {
        if (name == extension)
            return type;
    }
    return isTextTag(extension, textTags) ? FileType::Text : FileType::Unknown;
}

FileType fileTypeOfPath(std::string_view path, std::string_view textTags) {
    return fileTypeOf(extensionOf(fileNameOf(path)), textTags);
}

FileDispatch::FileDispatch(const SearchContext& context, const SearcherRegistry& registry)
    : m_context(context), m_registry(registry) {}

FileType searchedTypeOf(std::string_view path, const app::Settings& settings,
                        const SearcherRegistry& registry) {
    const FileType type = fileTypeOfPath(path, settings.textTags);
    // A known extension whose type is off is not read as text either.
    if (type == FileType::Unknown || !settings.fileTypes.isTarget(type) ||
        registry.fileSearcher(type) == nullptr) {
        return FileType::Unknown;
    }
    return type;
}

bool FileDispatch::findInFile(const std::string& path) {
    const FileType type = searchedTypeOf(path, m_context.settings, m_registry);
    return type != FileType::Unknown && search(type, path);
}

bool FileDispatch::search(FileType type, const std::string& path) {
    auto& searcher = m_made[app::slotOf(type)];
    if (!searcher) {
        const SearcherRegistry::FileEntry* entry = m_registry.fileSearcher(type);
        if (entry == nullptr)
            return false;
        searcher = entry->make(m_context);
    }
    return searcher(path);
}

}  // namespace ferretta::search
